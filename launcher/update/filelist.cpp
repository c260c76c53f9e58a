// filelist.cpp - the file list "dosyalar.txt", the update cache "guncelleme.cache",
// the path rule for list entries and list paths as URLs.
//
// Index
//   ---- tunables ----
//   ---- helpers ----
//   ---- path rule and URLs ----
//   ---- file list ----
//   ---- update cache ----
//   ---- the pass's cache table ----
//   ---- file facts ----
#include "update/filelist.h"

#include "platform/lines.h"
#include "platform/platform.h"
#include "platform/text.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <limits>

// ---- tunables ----

namespace {

constexpr std::string_view kListHeader = "morlaken-liste 1"; // the first line's first 16 bytes
constexpr std::string_view kVersionPrefix = "surum ";
constexpr size_t kHashLength = 64;
constexpr size_t kMaxPathBytes = 4096;   // longest listed path; no file system takes more
constexpr size_t kMaxSegmentBytes = 255; // longest name between two separators

// ---- helpers ----

// White space as the C library's isspace sees it in the "C" locale.
inline bool isBlankByte(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

inline bool isDigitByte(char c) {
    return c >= '0' && c <= '9';
}

// Reads a size field the way atoll does: leading white space, an optional sign, then
// digits up to the first other byte; 0 without digits. Values beyond the 64-bit range
// stop at its limits instead of wrapping.
int64_t readSizeField(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && isBlankByte(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const uint64_t limit = negative ? uint64_t(std::numeric_limits<int64_t>::max()) + 1
                                    : uint64_t(std::numeric_limits<int64_t>::max());
    uint64_t value = 0;
    for (; i < text.size() && isDigitByte(text[i]); ++i) {
        uint64_t digit = uint64_t(text[i] - '0');
        value = value > (limit - digit) / 10 ? limit : value * 10 + digit;
    }
    if (negative) return value == 0 ? 0 : int64_t(-(value - 1)) - 1;
    return int64_t(value);
}

// Reads a signed decimal number as a stream extraction does: white space skipped, then
// an optional sign and at least one digit. False on no digits or on overflow.
bool readStreamNumber(std::string_view line, size_t& pos, int64_t& outValue) {
    while (pos < line.size() && isBlankByte(line[pos]))
        ++pos;
    bool negative = false;
    if (pos < line.size() && (line[pos] == '+' || line[pos] == '-')) {
        negative = line[pos] == '-';
        ++pos;
    }
    if (pos >= line.size() || !isDigitByte(line[pos])) return false;
    const uint64_t limit = negative ? uint64_t(std::numeric_limits<int64_t>::max()) + 1
                                    : uint64_t(std::numeric_limits<int64_t>::max());
    uint64_t value = 0;
    for (; pos < line.size() && isDigitByte(line[pos]); ++pos) {
        uint64_t digit = uint64_t(line[pos] - '0');
        if (value > (limit - digit) / 10) return false;
        value = value * 10 + digit;
    }
    outValue = negative ? (value == 0 ? 0 : int64_t(-(value - 1)) - 1) : int64_t(value);
    return true;
}

// The fields of one cache line: "size time hash path", blanks between, the path running
// to the end of the line. False for a line that holds no record.
struct CacheLine {
    std::string_view hash;
    std::string_view path;
    int64_t size = 0;
    int64_t time = 0;
};
bool readCacheLine(std::string_view line, CacheLine& out) {
    size_t at = 0;
    if (!readStreamNumber(line, at, out.size) || !readStreamNumber(line, at, out.time)) return false;
    while (at < line.size() && isBlankByte(line[at]))
        ++at;
    size_t hashStart = at;
    while (at < line.size() && !isBlankByte(line[at]))
        ++at;
    if (at == hashStart) return false;
    out.hash = line.substr(hashStart, at - hashStart);
    while (at < line.size() && isBlankByte(line[at]))
        ++at;
    if (at >= line.size()) return false; // no path
    out.path = line.substr(at);
    return true;
}

// True when `line` of `all`, read as `read`, is exactly what appendCacheLine writes for it:
// both numbers as to_chars writes them, single blanks, an LF at the end.
bool isWritersForm(std::string_view all, std::string_view line, const CacheLine& read) {
    char numbers[48];
    char* end = std::to_chars(numbers, numbers + 20, read.size).ptr;
    *end++ = ' ';
    end = std::to_chars(end, end + 20, read.time).ptr;
    *end++ = ' ';
    const size_t prefix = static_cast<size_t>(end - numbers);
    return line.data() + line.size() < all.data() + all.size() && // an LF follows
           line.compare(0, prefix, std::string_view(numbers, prefix)) == 0 &&
           read.hash.data() == line.data() + prefix &&
           read.path.data() == read.hash.data() + read.hash.size() + 1 && read.path.data()[-1] == ' ';
}

void appendCacheLine(std::string& text, int64_t size, int64_t time, std::string_view hash,
                     std::string_view path) {
    char number[24];
    text.append(number, std::to_chars(number, number + sizeof number, size).ptr);
    text += ' ';
    text.append(number, std::to_chars(number, number + sizeof number, time).ptr);
    text += ' ';
    text += hash;
    text += ' ';
    text += path;
    text += '\n';
}

inline bool isSeparator(char c) {
    return c == '/' || c == '\\';
}

// False for an empty, "." or ".." segment, or one longer than a file name can be.
inline bool isGoodSegment(std::string_view segment) {
    return !segment.empty() && segment.size() <= kMaxSegmentBytes && segment != "." && segment != "..";
}

} // namespace

// ---- path rule and URLs ----

// '\' separates segments as well as '/', so "a\..\b" can never climb out of the game
// folder on a file system that reads '\' as a separator. A NUL byte would cut the path
// short at the operating system, so it is refused too. The length bounds keep a server
// from handing the file system names it cannot take.
bool isSafeRelativePath(std::string_view path) {
    if (path.empty() || path.size() > kMaxPathBytes || isSeparator(path[0])) return false;
    size_t start = 0;
    for (size_t i = 0; i < path.size(); ++i) {
        char c = path[i];
        if (c == ':' || c == '\0') return false;
        if (isSeparator(c)) {
            if (!isGoodSegment(path.substr(start, i - start))) return false;
            start = i + 1;
        }
    }
    // A single separator at the very end closes the last segment.
    if (start == path.size()) return true;
    return isGoodSegment(path.substr(start));
}

std::string urlEncodePath(std::string_view path) {
    std::string out;
    out.reserve(path.size() * 3);
    for (char ch : path) {
        unsigned char c = static_cast<unsigned char>(ch);
        bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                    c == '.' || c == '/' || c == '_' || c == '~';
        if (keep) {
            out += ch;
        } else {
            out += '%';
            platform::appendHex(out, &c, 1, platform::HexDigits::Upper);
        }
    }
    return out;
}

// ---- file list ----

bool scanFileList(std::string_view body, std::vector<ListedFile>& outList, std::string& outError,
                  const std::function<void(const std::string&)>& onVersion) {
    outList.clear();
    outError.clear();

    platform::LineReader lines(body);
    std::string_view line;
    if (!lines.next(line) || line.substr(0, kListHeader.size()) != kListHeader) {
        outError = kListRejectedHeader;
        return false;
    }
    // One entry per line at most: reserving that much keeps a large list from being
    // copied as it grows (the slack past the entries is never touched).
    outList.reserve(static_cast<size_t>(std::count(body.begin(), body.end(), '\n')) + 1);
    while (lines.next(line)) {

        if (line.substr(0, kVersionPrefix.size()) == kVersionPrefix) {
            if (onVersion) onVersion(std::string(line.substr(kVersionPrefix.size())));
            continue;
        }
        if (line.empty() || line[0] == '#') continue;

        size_t p1 = line.find(' ');
        if (p1 == std::string_view::npos) continue;
        size_t p2 = line.find(' ', p1 + 1);
        if (p2 == std::string_view::npos) continue; // no second blank: not a file line

        ListedFile entry;
        entry.hash = line.substr(0, p1);
        entry.size = readSizeField(line.substr(p1 + 1, p2 - p1 - 1));
        entry.path = line.substr(p2 + 1);
        if (entry.hash.size() != kHashLength || entry.size < 0 || !isSafeRelativePath(entry.path)) {
            outError = kListRejectedLine;
            outList = {};
            return false;
        }
        outList.push_back(entry);
    }
    return true;
}

bool parseFileList(std::string_view body, FileList& outList, std::string& outError,
                   const std::function<void(const std::string&)>& onVersion) {
    outList.clear();
    std::vector<ListedFile> listed;
    if (!scanFileList(body, listed, outError, onVersion)) return false;
    outList.reserve(listed.size());
    for (const ListedFile& entry : listed)
        outList.push_back(FileEntry{std::string(entry.hash), entry.size, std::string(entry.path)});
    return true;
}

std::string fileListText(const FileList& entries, const std::string* version) {
    std::string text = std::string(kListHeader) + "\n";
    if (version) text += std::string(kVersionPrefix) + *version + "\n";
    for (const FileEntry& entry : entries)
        text += entry.hash + " " + std::to_string(entry.size) + " " + entry.path + "\n";
    return text;
}

// ---- update cache ----

UpdateCache loadUpdateCache(const std::string& file) {
    std::string text;
    if (!platform::readWholeFile(file, text)) return UpdateCache{};
    return parseUpdateCache(text);
}

UpdateCache parseUpdateCache(std::string_view all) {
    UpdateCache cache;
    // A listed path may itself end in CR (from a "\r\r\n" list line): the cache keeps it.
    platform::LineReader lines(all, platform::LineReader::CarriageReturn::Keep);
    std::string_view line;
    while (lines.next(line)) {
        CacheLine read;
        if (!readCacheLine(line, read)) continue;
        std::string path(read.path);
        cache.mtimes[path] = read.time;
        FileEntry& entry = cache.entries[path];
        entry.hash = std::string(read.hash);
        entry.size = read.size;
        entry.path = std::move(path);
    }
    return cache;
}

// The whole file goes to a temporary file first and is renamed over the old one, so a
// crash in the middle never leaves a torn cache behind.
bool saveUpdateCache(UpdateCache& cache, const std::string& file) {
    return platform::writeFileAtomically(file, updateCacheText(cache));
}

std::string updateCacheText(UpdateCache& cache) {
    std::string text;
    for (const auto& [path, entry] : cache.entries) {
        if (path.find('\n') != std::string::npos) continue; // could never be read back as one line
        appendCacheLine(text, entry.size, cache.mtimes[path], entry.hash, path); // a missing time: 0
    }
    return text;
}

// ---- the pass's cache table ----

void CacheTable::load(const std::string& file) {
    std::string text;
    const int64_t size = platform::fileSize(file);
    if (size > 0) text.reserve(static_cast<size_t>(size)); // read once into its final place
    if (!platform::readWholeFile(file, text)) {
        adopt(std::string());
        canonical_ = false; // an unreadable file is rewritten, as every save did
        return;
    }
    adopt(std::move(text));
}

void CacheTable::adopt(std::string text) {
    bytes_ = std::move(text);
    lines_.clear();
    learned = UpdateCache{};
    indexed_ = false;
    cursor_ = 0;
    hint_ = 0;
    // A file in the writer's own form needs no index while lookups follow its order.
    canonical_ = true;
    const std::string_view all(bytes_);
    std::string_view previous, line;
    platform::LineReader lines(all, platform::LineReader::CarriageReturn::Keep);
    while (canonical_ && lines.next(line)) {
        CacheLine read;
        canonical_ = readCacheLine(line, read) && isWritersForm(all, line, read) &&
                     (previous.empty() || previous < read.path);
        previous = read.path;
    }
    if (!canonical_) buildIndex();
}

// Every record, in path order, and of the lines naming one path the last.
void CacheTable::buildIndex() {
    indexed_ = true;
    lines_.clear();
    lines_.reserve(static_cast<size_t>(std::count(bytes_.begin(), bytes_.end(), '\n')) + 1);
    platform::LineReader lines(bytes_, platform::LineReader::CarriageReturn::Keep);
    std::string_view line;
    while (lines.next(line)) {
        CacheLine read;
        if (readCacheLine(line, read))
            lines_.push_back(Line{read.path, Record{read.hash, read.size, read.time}});
    }
    if (canonical_) return; // sorted, one line per path
    std::stable_sort(lines_.begin(), lines_.end(),
                     [](const Line& a, const Line& b) { return a.path < b.path; });
    size_t kept = 0;
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (i + 1 < lines_.size() && lines_[i + 1].path == lines_[i].path) continue;
        lines_[kept++] = lines_[i];
    }
    lines_.resize(kept);
}

bool CacheTable::find(std::string_view path, Record& out) {
    if (!indexed_) { // the line at the cursor, else an index from here on
        const size_t end = bytes_.find('\n', cursor_);
        CacheLine read;
        if (end != std::string::npos &&
            readCacheLine(std::string_view(bytes_).substr(cursor_, end - cursor_), read) &&
            read.path == path) {
            out = Record{read.hash, read.size, read.time};
            cursor_ = end + 1;
            return true;
        }
        buildIndex();
    }
    size_t at = hint_;
    if (at >= lines_.size() || lines_[at].path != path) {
        auto found = std::lower_bound(lines_.begin(), lines_.end(), path,
                                      [](const Line& line, std::string_view p) { return line.path < p; });
        if (found == lines_.end() || found->path != path) return false;
        at = static_cast<size_t>(found - lines_.begin());
    }
    out = lines_[at].record;
    hint_ = at + 1;
    return true;
}

std::string CacheTable::text() {
    if (!indexed_) buildIndex();
    std::string text;
    auto learnedAt = learned.entries.begin();
    auto appendLearned = [&] {
        const std::string& path = learnedAt->first;
        if (path.find('\n') == std::string::npos) // could never be read back as one line
            appendCacheLine(text, learnedAt->second.size, learned.mtimes[path], learnedAt->second.hash, path);
        ++learnedAt;
    };
    for (const Line& line : lines_) {
        while (learnedAt != learned.entries.end() && std::string_view(learnedAt->first) < line.path)
            appendLearned();
        if (learnedAt != learned.entries.end() && learnedAt->first == line.path) {
            appendLearned(); // replaces the line read
            continue;
        }
        appendCacheLine(text, line.record.size, line.record.time, line.record.hash, line.path);
    }
    while (learnedAt != learned.entries.end())
        appendLearned();
    return text;
}

bool CacheTable::unchangedOnDisk() const {
    return canonical_ && learned.entries.empty();
}

bool CacheTable::save(const std::string& file) {
    return unchangedOnDisk() || platform::writeFileAtomically(file, text());
}

// ---- file facts ----

int64_t fileModTime(const std::string& path) {
    return platform::fileWriteTime(path);
}

int64_t fileSizeOnDisk(const std::string& path) {
    return platform::fileSize(path);
}
