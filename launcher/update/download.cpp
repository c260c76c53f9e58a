// download.cpp - one listed file fetched beside its target, verified while it arrives,
// and continued where an interrupted run stopped.
//
// Index
//   ---- tunables ----
//   ---- mirrors ----                   splitMirrors
//   ---- writing to the ".indir" ----   Attempt, clearFolderFromDownloadName
//   ---- hashing behind the writes ---- TrailingHash
//   ---- one attempt ----               fetchInto, openResumable
//   ---- one whole file ----            downloadWhole
//   ---- patching ----                  fetchIndex, localChunks, PatchWriter, patchInto
//   ---- one file ----                  downloadFile
#include "update/download.h"

#include "platform/platform.h"
#include "platform/text.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// ---- tunables ----
namespace {
// A large download asks the system to start writing its bytes to the disk after every
// this many, so the flush before its rename waits for the last few only.
constexpr size_t kWriteBackBytes = size_t(8) << 20;
// A download's bytes are hashed back from the file by a thread of their own once this many
// wait (smaller files are hashed at their end, where a thread would cost more than it saves),
// that thread wakes when this many more have arrived, and reads this many at a time.
constexpr int64_t kTrailThreadBytes = int64_t(1) << 20;
constexpr int64_t kTrailStepBytes = int64_t(256) << 10;
constexpr int64_t kTrailReadBytes = int64_t(1) << 20;
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

// One attempt at a file's bytes, from zero or continued from an earlier run's.
struct Attempt {
    bool fetched = false;
    bool intact = false;
    bool written = true;
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

// ---- hashing behind the writes ----

// Hashes a file's bytes after they reach it: the writer says how far the file is written,
// and a thread of its own reads the bytes back and hashes them while the next ones arrive.
// The digest is that of exactly what is in the file, the hash runs on another core than
// the transfer, and the bytes are not copied on their way from the socket to the file.
// A thread starts only once kTrailThreadBytes wait to be hashed; the rest is hashed by
// finish. Every kWriteBackBytes hashed, the system is asked to start writing them to the
// disk, so the flush before the rename finds little left to do.
class TrailingHash {
  public:
    // `file` already holds `have` bytes (a continued download) of `expected` in all;
    // `hash` starts afresh and `leading` gets the file's first bytes.
    TrailingHash(platform::FileHandle file, int64_t have, int64_t expected, Sha256& hash,
                 std::string& leading)
        : file_(file), hash_(hash), leading_(leading), expected_(expected) {
        hash_.reset();
        leading_.clear();
        wrote(have);
    }
    TrailingHash(const TrailingHash&) = delete;
    TrailingHash& operator=(const TrailingHash&) = delete;
    ~TrailingHash() { stopThread(); }

    // The writer's thread: the file now holds `total` bytes.
    void wrote(int64_t total) {
        std::lock_guard<std::mutex> lock(mutex_);
        written_ = total;
        if (!thread_.joinable()) {
            if (total >= kTrailThreadBytes) thread_ = std::thread(&TrailingHash::run, this);
        } else if (sleeping_ && total >= wakeAt_) {
            wake_.notify_one();
        }
    }

    // Hashes the file up to `total` bytes and leaves the digest in `hash`. False when they
    // could not all be read back.
    bool finish(int64_t total) {
        stopThread();
        return !failed_ && hashUpTo(total, false);
    }

  private:
    void run() {
        for (;;) {
            int64_t end = 0;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wakeAt_ = std::min(hashed_ + kTrailStepBytes, expected_);
                sleeping_ = true;
                wake_.wait(lock, [this] { return stopping_ || written_ >= wakeAt_; });
                sleeping_ = false;
                if (stopping_) return;
                end = written_;
            }
            if (!hashUpTo(end, true)) {
                failed_ = true;
                return;
            }
        }
    }
    void stopThread() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
            wake_.notify_one();
        }
        if (thread_.joinable()) thread_.join();
    }
    // Reads bytes [hashed_, end) back from the file and hashes them (one thread at a time:
    // the trailing thread, then finish after it has ended). The trailing thread
    // (`trailing`) leaves off early when it is stopped; finish goes on from there.
    bool hashUpTo(int64_t end, bool trailing) {
        if (buffer_.empty() && end > hashed_)
            buffer_.resize(static_cast<size_t>(std::min<int64_t>(kTrailReadBytes, expected_)));
        while (hashed_ < end) {
            if (trailing && stopping_) return true;
            const int64_t n = platform::readFileAt(
                file_, hashed_, buffer_.data(),
                static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(buffer_.size()), end - hashed_)));
            if (n <= 0) return false;
            hash_.update(buffer_.data(), static_cast<size_t>(n));
            if (leading_.size() < platform::kInstalledModeProbeBytes)
                leading_.append(
                    reinterpret_cast<const char*>(buffer_.data()),
                    std::min(static_cast<size_t>(n), platform::kInstalledModeProbeBytes - leading_.size()));
            hashed_ += n;
            unflushed_ += n;
            if (unflushed_ >= static_cast<int64_t>(kWriteBackBytes)) {
                platform::startWriteBack(file_);
                unflushed_ = 0;
            }
        }
        return true;
    }

    platform::FileHandle file_;
    Sha256& hash_;
    std::string& leading_;
    const int64_t expected_;
    std::vector<uint8_t> buffer_;
    int64_t hashed_ = 0;    // the hashing side's alone
    int64_t unflushed_ = 0; // hashed since the last startWriteBack
    std::atomic<bool> failed_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
    int64_t written_ = 0;   // under mutex_
    int64_t wakeAt_ = 0;    // under mutex_: the thread waits until the file reaches this
    bool sleeping_ = false; // under mutex_
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

// ---- one attempt ----

// Fetches `entry` into `file`, which holds its first `have` bytes (0: from zero; more: the
// rest as a range), hashing every byte from the file as above. The first bytes go to
// `leading`.
Attempt fetchInto(UpdateStatus& s, UpdateSource& source, platform::FileHandle file, const FileEntry& entry,
                  const std::string& url, Sha256& hash, std::string& leading, int64_t have) {
    Attempt a;
    a.fileBytes = have;
    TrailingHash trail(file, have, entry.size, hash, leading);
    const DownloadSink sink = [&](const uint8_t* bytes, uint32_t count) {
        a.fileBytes += count;
        s.bytesDone.fetch_add(count);
        s.bytesFetched.fetch_add(count);
        // Bytes past the listed size are counted (the file is then reported broken) but
        // never written: an endless body must not fill the player's disk.
        if (a.fileBytes > entry.size) return false;
        if (!platform::writeToFile(file, bytes, count)) return a.written = false;
        trail.wrote(a.fileBytes);
        return true;
    };
    const HttpRange range{have, entry.size};
    a.fetched = source.fetch(url, have > 0 ? &range : nullptr, sink, a.error);
    a.intact = a.fetched && a.written && a.fileBytes == entry.size && trail.finish(entry.size) &&
               platform::toHex(hash.finish()) == entry.hash;
    if (a.intact) a.written = platform::setInstalledFileMode(file, entry.path, leading);
    return a;
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
        a = fetchInto(status, source, file, entry, url, hash, leading, resumeFrom);
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
        a = fetchInto(status, source, file, entry, url, hash, leading, 0);
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
        if (a.fileBytes > entry.size ||
            (a.fetched && a.written && !a.intact)) // more than listed, short, or wrong hash
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
