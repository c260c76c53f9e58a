// download.cpp - one listed file fetched beside its target, verified while it arrives,
// and continued where an interrupted run stopped.
//
// Index
//   ---- tunables ----
//   ---- mirrors ----                   splitMirrors
//   ---- writing to the ".indir" ----   HandleBuffer, clearFolderFromDownloadName
//   ---- one attempt ----               fetchInto, hashFilePart, openResumable, resumeInto
//   ---- one whole file ----            downloadWhole
//   ---- patching ----                  fetchIndex, localChunks, PatchWriter, patchInto
//   ---- one file ----                  downloadFile
//   ---- the file sink ----             makeFileHashSink
#include "update/download.h"

#include "platform/platform.h"
#include "platform/text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <streambuf>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// ---- tunables ----
namespace {
// A large download asks the system to start writing its bytes to the disk after every
// this many, so the flush before its rename waits for the last few only.
constexpr size_t kWriteBackBytes = size_t(8) << 20;
// Where an interrupted run's ".indir" goes while a patch reads it: a name ending in
// ".indir", so a pass killed meanwhile leaves nothing the next pass's clean-up misses.
constexpr const char* kPreviousDownloadSuffix = ".onceki.indir";
} // namespace

// ---- mirrors ----

Mirrors splitMirrors(const std::string& value) {
    Mirrors mirrors;
    size_t at = 0;
    while (at < value.size()) {
        const size_t end = std::min(value.find(' ', at), value.size());
        if (end > at) mirrors.bases.push_back(value.substr(at, end - at));
        at = end + 1;
    }
    if (mirrors.bases.empty()) mirrors.bases.push_back(value);
    for (std::string& base : mirrors.bases)
        if (base.empty() || base.back() != '/') base += '/';
    return mirrors;
}

namespace {

// ---- writing to the ".indir" ----

std::string parentFolder(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// The download's bytes go to the platform's file handle (a file created afresh, never a
// planted link); the sink writes to a stream, so this buffer hands every write on.
class HandleBuffer : public std::streambuf {
  public:
    explicit HandleBuffer(platform::FileHandle file) : file_(file) {}

  protected:
    std::streamsize xsputn(const char* bytes, std::streamsize count) override {
        if (!platform::writeToFile(file_, bytes, static_cast<size_t>(count))) return 0;
        unflushed_ += static_cast<size_t>(count);
        if (unflushed_ >= kWriteBackBytes) {
            platform::startWriteBack(file_);
            unflushed_ = 0;
        }
        return count;
    }
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        const char byte = traits_type::to_char_type(c);
        return platform::writeToFile(file_, &byte, 1) ? c : traits_type::eof();
    }

  private:
    platform::FileHandle file_;
    size_t unflushed_ = 0; // bytes written since the last startWriteBack
};

// One attempt at a file's bytes: from zero (fetchInto) or continued (resumeInto).
struct Attempt {
    bool fetched = false;
    bool intact = false;
    bool written = false;
    int64_t fileBytes = 0;
    std::string error;
};

// A folder where the download's ".indir" file goes (this program never makes one; a hand
// or another program may) would fail every pass. An empty one goes; one with
// anything in it may be the player's and is moved aside whole to ".indir.eski", where the
// clean-up of set-aside files never deletes a folder. Nothing behind a link is touched: a
// link has no Folder type and createFreshFile removes the link itself.
void clearFolderFromDownloadName(const std::string& temporary) {
    if (platform::entryType(temporary) != platform::EntryType::Folder ||
        platform::removeEmptyFolder(temporary))
        return;
    const std::string aside = temporary + kSetAsideSuffix;
    if (platform::entryType(aside) != platform::EntryType::Folder) platform::deleteFile(aside);
    platform::replaceFile(temporary, aside); // a failure shows as the file that cannot be written
}

// ---- one attempt ----

// The whole file from zero into `file`, hashed as it arrives.
Attempt fetchInto(UpdateStatus& s, UpdateSource& source, platform::FileHandle file, const FileEntry& entry,
                  const std::string& url, Sha256& hash, std::string& leading) {
    Attempt a;
    HandleBuffer buffer(file);
    std::ostream out(&buffer);
    DownloadSink fileSink = makeFileHashSink(hash, a.fileBytes, out, entry.size, s.bytesDone);
    DownloadSink sink = [&s, &leading, &fileSink](const uint8_t* bytes, uint32_t count) {
        s.bytesFetched.fetch_add(count);
        if (leading.size() < platform::kInstalledModeProbeBytes)
            leading.append(reinterpret_cast<const char*>(bytes),
                           std::min<size_t>(count, platform::kInstalledModeProbeBytes - leading.size()));
        return fileSink(bytes, count);
    };
    a.fetched = source.fetch(url, nullptr, sink, a.error);
    a.intact = a.fileBytes == entry.size && platform::toHex(hash.finish()) == entry.hash;
    a.written = !out.fail();
    if (a.fetched && a.intact && a.written)
        a.written = platform::setInstalledFileMode(file, entry.path, leading);
    return a;
}

// Hashes bytes [from, to) of the file at `path` into `hash` (the first bytes of the file
// also into `leading`). False when they cannot all be read, or when `cancel` is set.
bool hashFilePart(const std::string& path, int64_t from, int64_t to, Sha256& hash, std::string& leading,
                  const std::atomic<bool>& cancel) {
    std::FILE* in = platform::openForReading(path, from);
    if (!in) return false;
    std::vector<char> chunk(kReadChunkBytes);
    int64_t at = from;
    while (at < to && !cancel.load()) {
        const size_t n =
            std::fread(chunk.data(), 1, static_cast<size_t>(std::min<int64_t>(chunk.size(), to - at)), in);
        if (n == 0) break;
        hash.update(chunk.data(), n);
        if (at < static_cast<int64_t>(platform::kInstalledModeProbeBytes) &&
            leading.size() < platform::kInstalledModeProbeBytes)
            leading.append(chunk.data(), std::min(n, platform::kInstalledModeProbeBytes - leading.size()));
        at += static_cast<int64_t>(n);
    }
    std::fclose(in);
    return at == to && !cancel.load();
}

// How many bytes of an interrupted earlier download of `entry` can be continued: the
// ".indir" file must be a regular file of the player's with no other name (never a link,
// never a file that also lives elsewhere: openForAppend checks what it opened) and shorter
// than the listed size. Anything else is created afresh, which removes that name first.
// `outFile` is left open for appending. 0, with nothing open, when there is nothing to
// continue.
int64_t openResumable(const std::string& temporary, const FileEntry& entry, platform::FileHandle& outFile) {
    outFile = -1;
    if (platform::entryType(temporary) != platform::EntryType::File) return 0;
    const int64_t have = platform::fileSize(temporary);
    if (have <= 0 || have >= entry.size) return 0; // longer than listed: not this file's
    const platform::FileHandle file = platform::openForAppend(temporary);
    if (file < 0) return 0;
    platform::startWriteBack(file); // what the interrupted run left unwritten goes out meanwhile
    outFile = file;
    return have;
}

// Continues the download of `entry` in `file`, which holds its first `have` bytes. Those
// are hashed from the disk while the rest arrives (the wait for the network and the
// hashing overlap); the new bytes are hashed afterwards, read back from the file, so the
// digest is that of exactly what is on disk.
Attempt resumeInto(UpdateStatus& s, UpdateSource& source, platform::FileHandle file,
                   const std::string& temporary, const FileEntry& entry, const std::string& url, Sha256& hash,
                   std::string& leading, int64_t have) {
    Attempt a;
    std::atomic<bool> giveUp{false};
    bool prefixRead = false;
    std::thread prefix([&] { prefixRead = hashFilePart(temporary, 0, have, hash, leading, giveUp); });
    {
        HandleBuffer buffer(file);
        std::ostream out(&buffer);
        a.fileBytes = have;
        DownloadSink sink = [&](const uint8_t* bytes, uint32_t count) {
            a.fileBytes += count;
            s.bytesDone.fetch_add(count);
            s.bytesFetched.fetch_add(count);
            if (a.fileBytes > entry.size) return false; // counted, never written
            out.write(reinterpret_cast<const char*>(bytes), count);
            return !out.fail();
        };
        const HttpRange range{have, entry.size};
        a.fetched = source.fetch(url, &range, sink, a.error);
        a.written = !out.fail();
    }
    if (!(a.fetched && a.written && a.fileBytes == entry.size)) giveUp.store(true);
    prefix.join();
    a.intact = prefixRead && a.fetched && a.written && a.fileBytes == entry.size &&
               hashFilePart(temporary, have, a.fileBytes, hash, leading, giveUp) &&
               platform::toHex(hash.finish()) == entry.hash;
    if (a.fetched && a.intact && a.written)
        a.written = platform::setInstalledFileMode(file, entry.path, leading);
    return a;
}

} // namespace

namespace {

// ---- one whole file ----

// The whole file from one mirror, continued from an interrupted run's ".indir" when there
// is one. `outCounted`: what a failed call added to status.bytesDone.
Download downloadWhole(UpdateStatus& status, UpdateSource& source, const FileEntry& entry,
                       const std::string& url, Sha256& hash, int64_t& outCounted) {
    const std::string& target = entry.path;
    const std::string temporary = target + kDownloadSuffix;
    const int64_t doneBefore = status.bytesDone.load();
    Download d;

    hash.reset();
    std::string leading; // the first hashed bytes decide whether a new file is a program
    platform::FileHandle file = -1;
    const int64_t resumeFrom = openResumable(temporary, entry, file);
    Attempt a;
    if (resumeFrom > 0) {
        status.bytesDone.fetch_add(resumeFrom); // already done: the progress line starts there
        a = resumeInto(status, source, file, temporary, entry, url, hash, leading, resumeFrom);
        if (!(a.fetched && a.intact && a.written)) {
            platform::closeFile(file, false);
            file = -1;
            status.bytesDone.fetch_sub(a.fileBytes); // counted again from zero below
            if (status.stopRequested.load()) {
                platform::deleteFile(temporary);
                d.result = Download::Result::Stopped;
                return d;
            }
        }
    }
    if (resumeFrom == 0 || !(a.fetched && a.intact && a.written)) {
        clearFolderFromDownloadName(temporary);
        file = platform::createFreshFile(temporary);
        if (file < 0) {
            d.error = kErrTempFile + target;
            return d;
        }
        hash.reset();
        leading.clear();
        a = fetchInto(status, source, file, entry, url, hash, leading);
        if (!(a.fetched && a.intact && a.written)) {
            platform::closeFile(file, false);
            file = -1;
        }
    }

    if (status.stopRequested.load()) {
        if (file >= 0) platform::closeFile(file, false);
        platform::deleteFile(temporary);
        d.result = Download::Result::Stopped;
        return d;
    }
    if (!a.fetched || !a.written || !a.intact) {
        platform::deleteFile(temporary);
        if (a.fileBytes > entry.size || (a.fetched && !a.intact)) // more than listed, short, or wrong hash
            d.error = kErrDownload + target + kErrBroken;
        else if (!a.fetched)
            d.error = kErrDownload + target + " (" + a.error + ")";
        else
            d.error = kErrDownload + target + " (" + kErrSink + ")";
        outCounted = status.bytesDone.load() - doneBefore;
        return d;
    }
    d.result = Download::Result::Verified;
    d.file = file;
    return d;
}

} // namespace

// ---- patching ----
namespace {

struct ChunkHashKey {
    size_t operator()(const ChunkHash& hash) const {
        size_t value = 0;
        std::memcpy(&value, hash.data(), sizeof value);
        return value;
    }
};
struct LocalChunk {
    size_t source = 0; // index into the old copies
    int64_t offset = 0;
};
using LocalChunks = std::unordered_map<ChunkHash, LocalChunk, ChunkHashKey>;

ChunkHash chunkHashOf(const uint8_t* bytes, size_t count) {
    Sha256 hash;
    hash.update(bytes, count);
    const std::vector<uint8_t> digest = hash.finish();
    ChunkHash out;
    std::copy(digest.begin(), digest.end(), out.begin());
    return out;
}

// The file's chunk index from the first mirror (the current one first) whose copy has
// exactly the size and SHA-256 of the list's line, parses, and describes a file of the
// listed size. False when none does.
bool fetchIndex(UpdateStatus& s, UpdateSource& source, const FileEntry& entry, const ChunkIndexRef& ref,
                Mirrors& mirrors, ChunkIndex& outIndex) {
    const size_t count = mirrors.bases.size();
    for (size_t k = 0; k < count && !s.stopRequested.load(); ++k) {
        const size_t m = (mirrors.current + k) % count;
        std::string bytes, error;
        const DownloadSink keep = makeStringSink(bytes, static_cast<size_t>(ref.size) + 1);
        const DownloadSink sink = [&s, &keep](const uint8_t* data, uint32_t n) {
            s.bytesFetched.fetch_add(n);
            return keep(data, n);
        };
        if (!source.fetch(mirrors.bases[m] + kChunkIndexFolder + "/" + ref.hash, nullptr, sink, error))
            continue;
        Sha256 hash;
        hash.update(bytes.data(), bytes.size());
        if (static_cast<int64_t>(bytes.size()) == ref.size && platform::toHex(hash.finish()) == ref.hash &&
            parseChunkIndex(bytes, outIndex) && outIndex.fileSize == entry.size) {
            mirrors.current = m;
            return true;
        }
    }
    return false;
}

// Where the old copies hold the chunks `index` names (the first place each is found).
// An old copy that cannot be read to its end still gives the chunks read before.
void findLocalChunks(const std::vector<std::string>& sources, const ChunkIndex& index,
                     const std::atomic<bool>& stop, LocalChunks& out) {
    std::unordered_set<ChunkHash, ChunkHashKey> wanted;
    for (const Chunk& chunk : index.chunks)
        wanted.insert(chunk.hash);
    std::vector<Chunk> chunks;
    for (size_t i = 0; i < sources.size() && !stop.load(); ++i) {
        chunkFile(sources[i], chunks, stop);
        for (const Chunk& chunk : chunks)
            if (wanted.count(chunk.hash)) out.emplace(chunk.hash, LocalChunk{i, chunk.offset});
    }
}

// Reads chunks of the old copies, reopening a copy only where a read does not go on from
// the last one.
class OldCopies {
  public:
    explicit OldCopies(const std::vector<std::string>& paths)
        : paths_(paths), files_(paths.size(), nullptr), at_(paths.size(), -1) {}
    ~OldCopies() { close(); }
    bool read(const LocalChunk& where, uint8_t* out, size_t count) {
        std::FILE*& file = files_[where.source];
        if (!file || at_[where.source] != where.offset) {
            if (file) std::fclose(file);
            file = platform::openForReading(paths_[where.source], where.offset);
            if (!file) return false;
            at_[where.source] = where.offset;
        }
        const size_t n = std::fread(out, 1, count, file);
        at_[where.source] += static_cast<int64_t>(n);
        return n == count;
    }
    void close() {
        for (std::FILE*& file : files_)
            if (file) std::fclose(file), file = nullptr;
    }

  private:
    std::vector<std::string> paths_;
    std::vector<std::FILE*> files_;
    std::vector<int64_t> at_;
};

// Writes the ".indir" in order, hashing every byte and counting it as done.
class PatchWriter {
  public:
    PatchWriter(UpdateStatus& s, platform::FileHandle file, Sha256& hash) : s_(s), file_(file), hash_(hash) {}
    bool put(const uint8_t* bytes, size_t count) {
        if (!platform::writeToFile(file_, bytes, count)) return false;
        hash_.update(bytes, count);
        if (leading.size() < platform::kInstalledModeProbeBytes)
            leading.append(reinterpret_cast<const char*>(bytes),
                           std::min(count, platform::kInstalledModeProbeBytes - leading.size()));
        written += static_cast<int64_t>(count);
        s_.bytesDone.fetch_add(static_cast<int64_t>(count));
        unflushed_ += count;
        if (unflushed_ >= kWriteBackBytes) {
            platform::startWriteBack(file_);
            unflushed_ = 0;
        }
        return true;
    }
    int64_t written = 0;
    std::string leading; // the first bytes: they decide whether the file is a program

  private:
    UpdateStatus& s_;
    platform::FileHandle file_;
    Sha256& hash_;
    size_t unflushed_ = 0;
};

// Fetches index chunks [first, end), which lie side by side, as one range, mirror after
// mirror (the current one first). Each chunk is checked against the index as it arrives
// and written once it is whole and right; a mirror that fails (unreachable, an error
// status, a 200 for the range, wrong or short bytes) hands over at the first chunk not yet
// written. False when no mirror delivered the rest, or the ".indir" could not be written.
bool fetchRun(UpdateStatus& s, UpdateSource& source, const FileEntry& entry, const std::string& encodedPath,
              const ChunkIndex& index, size_t first, size_t end, Mirrors& mirrors, PatchWriter& out,
              std::vector<uint8_t>& buffer) {
    size_t next = first; // the first chunk not yet written
    bool writeFailed = false;
    const int64_t last = index.chunks[end - 1].offset + index.chunks[end - 1].length;
    const size_t count = mirrors.bases.size();
    for (size_t k = 0; k < count && next < end && !writeFailed && !s.stopRequested.load(); ++k) {
        const size_t m = (mirrors.current + k) % count;
        const HttpRange range{index.chunks[next].offset, entry.size, last - index.chunks[next].offset};
        size_t filled = 0;
        const DownloadSink sink = [&](const uint8_t* bytes, uint32_t n) {
            s.bytesFetched.fetch_add(n);
            while (n > 0) {
                if (next == end) return false; // more than the range
                const Chunk& chunk = index.chunks[next];
                const size_t take = std::min<size_t>(n, static_cast<size_t>(chunk.length) - filled);
                std::memcpy(buffer.data() + filled, bytes, take);
                filled += take;
                bytes += take;
                n -= static_cast<uint32_t>(take);
                if (filled < static_cast<size_t>(chunk.length)) continue;
                if (chunkHashOf(buffer.data(), filled) != chunk.hash) return false;
                if (!out.put(buffer.data(), filled)) {
                    writeFailed = true;
                    return false;
                }
                filled = 0;
                ++next;
            }
            return true;
        };
        std::string error;
        if (source.fetch(mirrors.bases[m] + encodedPath, &range, sink, error) && next == end) {
            mirrors.current = m;
            return true;
        }
    }
    return next == end && !writeFailed;
}

enum class PatchEnd { Verified, Stopped, Failed };

// Builds the ".indir" of `entry` from its old copies and the missing chunks (downloadFile
// says how). Verified: `outFile` is the open, verified ".indir". Failed: nothing of the
// attempt is left; `outCounted` is what it added to status.bytesDone.
PatchEnd patchInto(UpdateStatus& s, UpdateSource& source, const FileEntry& entry, const ChunkIndexRef& ref,
                   Mirrors& mirrors, Sha256& hash, platform::FileHandle& outFile, int64_t& outCounted) {
    const std::string temporary = entry.path + kDownloadSuffix;
    const std::string previous = entry.path + kPreviousDownloadSuffix;
    outCounted = 0;
    ChunkIndex index;
    if (!fetchIndex(s, source, entry, ref, mirrors, index))
        return s.stopRequested.load() ? PatchEnd::Stopped : PatchEnd::Failed;

    std::vector<std::string> sources;
    if (fileSizeOnDisk(entry.path) > 0) sources.push_back(entry.path);
    if (platform::entryType(temporary) == platform::EntryType::File) {
        platform::deleteFile(previous);
        if (platform::replaceFile(temporary, previous)) sources.push_back(previous);
    }
    LocalChunks found;
    findLocalChunks(sources, index, s.stopRequested, found);
    if (s.stopRequested.load()) return PatchEnd::Stopped;

    clearFolderFromDownloadName(temporary);
    const platform::FileHandle file = platform::createFreshFile(temporary);
    if (file < 0) {
        platform::deleteFile(previous);
        return PatchEnd::Failed;
    }
    hash.reset();
    PatchWriter out(s, file, hash);
    OldCopies old(sources);
    std::vector<uint8_t> buffer(static_cast<size_t>(kChunkMaxBytes));
    const std::string encodedPath = urlEncodePath(entry.path);
    bool good = true;
    for (size_t i = 0; good && i < index.chunks.size() && !s.stopRequested.load();) {
        const Chunk& chunk = index.chunks[i];
        auto local = found.find(chunk.hash);
        if (local != found.end()) {
            good = old.read(local->second, buffer.data(), static_cast<size_t>(chunk.length)) &&
                   out.put(buffer.data(), static_cast<size_t>(chunk.length));
            ++i;
            continue;
        }
        size_t end = i + 1;
        while (end < index.chunks.size() && !found.count(index.chunks[end].hash))
            ++end;
        good = fetchRun(s, source, entry, encodedPath, index, i, end, mirrors, out, buffer);
        i = end;
    }
    old.close();
    platform::deleteFile(previous);
    outCounted = out.written;
    if (s.stopRequested.load()) {
        platform::closeFile(file, false);
        return PatchEnd::Stopped;
    }
    good = good && out.written == entry.size && platform::toHex(hash.finish()) == entry.hash &&
           platform::setInstalledFileMode(file, entry.path, out.leading);
    if (!good) {
        platform::closeFile(file, false);
        platform::deleteFile(temporary);
        return PatchEnd::Failed;
    }
    outFile = file;
    return PatchEnd::Verified;
}

} // namespace

// ---- one file ----

Download downloadFile(UpdateStatus& status, UpdateSource& source, const FileEntry& entry, Mirrors& mirrors,
                      const ChunkIndexRef* index, Sha256& hash) {
    const std::string& target = entry.path;
    const std::string temporary = target + kDownloadSuffix;
    const std::string parent = parentFolder(target);
    if (!parent.empty()) platform::createFolders(parent);
    Download d;

    const bool oldCopy =
        fileSizeOnDisk(target) > 0 || platform::entryType(temporary) == platform::EntryType::File;
    if (index && oldCopy && entry.size > 0) {
        int64_t counted = 0;
        platform::FileHandle file = -1;
        switch (patchInto(status, source, entry, *index, mirrors, hash, file, counted)) {
        case PatchEnd::Verified:
            d.result = Download::Result::Verified;
            d.file = file;
            return d;
        case PatchEnd::Stopped:
            platform::deleteFile(temporary);
            d.result = Download::Result::Stopped;
            return d;
        case PatchEnd::Failed:
            status.bytesDone.fetch_sub(counted); // counted again by the whole download
            break;
        }
    }

    const std::string encodedPath = urlEncodePath(target);
    const size_t count = mirrors.bases.size();
    std::string firstMirrorsError;
    for (size_t k = 0; k < count; ++k) {
        const size_t m = (mirrors.current + k) % count;
        int64_t counted = 0;
        d = downloadWhole(status, source, entry, mirrors.bases[m] + encodedPath, hash, counted);
        if (d.result == Download::Result::Verified) {
            mirrors.current = m;
            return d;
        }
        if (d.result == Download::Result::Stopped || d.error.starts_with(kErrTempFile)) return d;
        if (m == 0) firstMirrorsError = d.error;
        if (k + 1 < count) status.bytesDone.fetch_sub(counted); // the next mirror counts afresh
    }
    d.error = firstMirrorsError;
    return d;
}

// ---- the file sink ----

DownloadSink makeFileHashSink(Sha256& hash, int64_t& fileBytes, std::ostream& out, int64_t expectedSize,
                              std::atomic<int64_t>& byteCounter) {
    return [&hash, &fileBytes, &out, expectedSize, &byteCounter](const uint8_t* bytes, uint32_t count) {
        hash.update(bytes, count);
        fileBytes += count;
        byteCounter.fetch_add(count);
        // Bytes past the listed size are counted (the caller reports the file as broken)
        // but never written: an endless body must not fill the player's disk.
        if (expectedSize >= 0 && fileBytes > expectedSize) return false;
        out.write(reinterpret_cast<const char*>(bytes), count);
        return !out.fail();
    };
}
