// filelist.cpp - the file list "dosyalar.txt", the update cache "guncelleme.cache",
// the path rule for list entries and list paths as URLs.
//
// Index
//   ---- tunables ----
//   ---- helpers ----
//   ---- path rule and URLs ----
//   ---- file list ----
//   ---- update cache ----
//   ---- file facts ----
#include "update/filelist.h"

#include "platform/lines.h"
#include "platform/platform.h"
#include "platform/text.h"

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

bool parseFileList(std::string_view body, FileList& outList, std::string& outError,
                   const std::function<void(const std::string&)>& onVersion) {
    outList.clear();
    outError.clear();

    platform::LineReader lines(body);
    std::string_view line;
    if (!lines.next(line) || line.substr(0, kListHeader.size()) != kListHeader) {
        outError = kListRejectedHeader;
        return false;
    }

    FileList entries;
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

        FileEntry entry;
        std::string_view hash = line.substr(0, p1);
        entry.size = readSizeField(line.substr(p1 + 1, p2 - p1 - 1));
        std::string_view path = line.substr(p2 + 1);
        if (hash.size() != kHashLength || entry.size < 0 || !isSafeRelativePath(path)) {
            outError = kListRejectedLine;
            return false;
        }
        entry.hash = std::string(hash);
        entry.path = std::string(path);
        entries.push_back(std::move(entry));
    }
    outList = std::move(entries);
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

        size_t at = 0;
        int64_t size = 0;
        int64_t time = 0;
        if (!readStreamNumber(line, at, size) || !readStreamNumber(line, at, time)) continue;
        while (at < line.size() && isBlankByte(line[at]))
            ++at;
        size_t hashStart = at;
        while (at < line.size() && !isBlankByte(line[at]))
            ++at;
        if (at == hashStart) continue;
        std::string_view hash = line.substr(hashStart, at - hashStart);
        while (at < line.size() && isBlankByte(line[at]))
            ++at;
        if (at >= line.size()) continue; // no path
        std::string path(line.substr(at));

        cache.mtimes[path] = time;
        FileEntry& entry = cache.entries[path];
        entry.hash = std::string(hash);
        entry.size = size;
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
        int64_t& time = cache.mtimes[path];                 // created as 0 when missing
        text += std::to_string(entry.size);
        text += ' ';
        text += std::to_string(time);
        text += ' ';
        text += entry.hash;
        text += ' ';
        text += path;
        text += '\n';
    }
    return text;
}

// ---- file facts ----

int64_t fileModTime(const std::string& path) {
    return platform::fileWriteTime(path);
}

int64_t fileSizeOnDisk(const std::string& path) {
    return platform::fileSize(path);
}
