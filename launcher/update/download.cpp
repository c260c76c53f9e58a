// download.cpp - one listed file fetched beside its target, verified while it arrives,
// and continued where an interrupted run stopped.
//
// Index
//   ---- tunables ----
//   ---- writing to the ".indir" ----   HandleBuffer, clearFolderFromDownloadName
//   ---- one attempt ----               fetchInto, hashFilePart, openResumable, resumeInto
//   ---- one file ----                  downloadFile
//   ---- the file sink ----             makeFileHashSink
#include "update/download.h"

#include "platform/platform.h"
#include "platform/text.h"

#include <algorithm>
#include <cstdio>
#include <streambuf>
#include <thread>
#include <vector>

// ---- tunables ----
namespace {
// A large download asks the system to start writing its bytes to the disk after every
// this many, so the flush before its rename waits for the last few only.
constexpr size_t kWriteBackBytes = size_t(8) << 20;
} // namespace

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
    DownloadSink sink = [&leading, &fileSink](const uint8_t* bytes, uint32_t count) {
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

// ---- one file ----

Download downloadFile(UpdateStatus& status, UpdateSource& source, const FileEntry& entry,
                      const std::string& baseUrl, Sha256& hash) {
    const std::string& target = entry.path;
    const std::string temporary = target + kDownloadSuffix;
    const std::string url = baseUrl + urlEncodePath(target);
    const std::string parent = parentFolder(target);
    if (!parent.empty()) platform::createFolders(parent);
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
        return d;
    }
    d.result = Download::Result::Verified;
    d.file = file;
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
