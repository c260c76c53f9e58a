// updater.cpp - the update pass: status block, worker thread, self-restart.
//
// Index
//   ---- status block ----
//   ---- starting and stopping ----
//   ---- comparison ----
//   ---- leftovers ----
//   ---- download and install ----
//   ---- installing ----
//   ---- the worker ----
//   ---- self-restart ----
#include "update/updater.h"

#include "config/config.h"
#include "net/http.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "update/filelist.h"
#include "update/sha256.h"
#include "update/signature.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <ostream>
#include <set>
#include <streambuf>
#include <vector>

// ---- tunables ----
namespace {
// Verified downloads that may wait for their flush and rename while the next file
// arrives; each keeps its file open until then.
constexpr size_t kMaxPendingInstalls = 8;
// A large download asks the system to start writing its bytes to the disk after every
// this many, so the flush before its rename waits for the last few only.
constexpr size_t kWriteBackBytes = size_t(8) << 20;
} // namespace

// ---- status block ----
namespace {
std::function<void(UpdateState)> gStateObserver; // set by tests while no worker runs
std::atomic<int64_t> gFilesHashed{0};

void storeState(UpdateState state) {
    updateStatus().state.store(state);
    if (gStateObserver) gStateObserver(state);
}
} // namespace

UpdateStatus& updateStatus() {
    static UpdateStatus status;
    return status;
}

void setUpdateStateObserver(std::function<void(UpdateState)> observer) {
    gStateObserver = std::move(observer);
}

int64_t updateFilesHashed() {
    return gFilesHashed.load();
}

void setUpdateError(const std::string& message) {
    UpdateStatus& s = updateStatus();
    {
        std::lock_guard<std::mutex> lock(s.statusMutex);
        s.errorText = message;
    }
    storeState(UpdateState::Failed); // after the unlock: a reader that sees Failed finds the message complete
}

void copyUpdateError(std::string& out) {
    UpdateStatus& s = updateStatus();
    std::lock_guard<std::mutex> lock(s.statusMutex);
    out.assign(s.errorText);
}

void copyServerVersion(std::string& out) {
    UpdateStatus& s = updateStatus();
    std::lock_guard<std::mutex> lock(s.statusMutex);
    out.assign(s.serverVersion);
}

// ---- starting and stopping ----

void removeOldFiles() {
    std::vector<std::string> names;
    platform::listFolder(".", names); // a failed listing cleans what it could read
    const std::string suffix = kSetAsideSuffix;
    for (const std::string& name : names) {
        if (name.size() >= suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            platform::deleteFile(name);
    }
}

void startUpdate(const std::string& url, const std::string& launcherName) {
    UpdateStatus& s = updateStatus();
    if (url.empty()) {
        storeState(UpdateState::UpToDate);
        return;
    }
    if (s.worker.joinable()) s.worker.join();
    removeOldFiles();
    s.stopRequested.store(false);
    s.workerActive.store(true);
    storeState(UpdateState::Checking);
    s.worker = std::thread(updateWorker, url, launcherName);
}

void stopUpdate() {
    UpdateStatus& s = updateStatus();
    s.stopRequested.store(true);
    if (s.worker.joinable()) s.worker.join();
}

// ---- comparison ----
namespace {

// True when the file on disk already has the listed content. Sizes decide first; a cache
// record with the same size and write time vouches for the content without reading it;
// otherwise the file is hashed once and the cache learns the result.
bool isUpToDate(const FileEntry& entry, UpdateCache& cache) {
    int64_t size = fileSizeOnDisk(entry.path);
    if (size != entry.size) return false;
    int64_t time = fileModTime(entry.path);
    auto cached = cache.entries.find(entry.path);
    auto cachedTime = cache.mtimes.find(entry.path);
    if (cached != cache.entries.end() && cached->second.size == size && cachedTime != cache.mtimes.end() &&
        cachedTime->second == time)
        return cached->second.hash == entry.hash;
    std::string hash = sha256File(entry.path);
    gFilesHashed.fetch_add(1);
    cache.entries[entry.path] = FileEntry{hash, size, entry.path};
    cache.mtimes[entry.path] = time;
    return hash == entry.hash;
}

// ---- leftovers ----

// With the folder locked, no other pass writes here: every ".indir" file that this pass
// will not write again is what a killed run left behind, and so is a temporary of a cache
// or settings save whose process is gone. Both are removed; a listed path never is.
// Real sub-folders are searched; links to folders (a player's own) are not entered.
void removeLeftovers(const std::string& folder, const std::set<std::string>& listed,
                     const std::set<std::string>& downloading) {
    std::vector<std::string> names;
    platform::listFolder(folder.empty() ? "." : folder, names); // a failed listing cleans what it read
    for (const std::string& name : names) {
        const std::string path = folder.empty() ? name : folder + "/" + name;
        const platform::EntryType type = platform::entryType(path);
        if (type == platform::EntryType::Folder) {
            removeLeftovers(path, listed, downloading);
            continue;
        }
        if (listed.count(path)) continue;
        bool leftover = false;
        if (name.ends_with(kDownloadSuffix)) {
            const std::string target = path.substr(0, path.size() - std::string(kDownloadSuffix).size());
            leftover = downloading.count(target) == 0;
        } else if (folder.empty() && platform::isAbandonedWriteTemporary(name)) {
            for (const char* saved : {kUpdateCacheFile, kUserConfigFile, kSequenceFile})
                if (name.compare(0, std::strlen(saved) + 1, std::string(saved) + ".") == 0) leftover = true;
        }
        if (leftover) platform::deleteFile(path);
    }
}

// ---- signed lists ----

// With the studio's key in the shipped defaults (never the player's launcher.ini, which
// could otherwise switch the check off or swap the key), a list is used only when its
// signature verifies and its sequence is not below the highest this folder has accepted
// for that key, nor below the floor shipped with the package, so an older, signed list
// cannot be replayed to roll files back. The guard fails closed: a key or floor that is
// present but malformed, or a record that is there but damaged, trusts nothing, and a
// record that cannot be raised ends the pass before anything is installed. False with
// the pass's message in `outError`.
bool listTrusted(std::string_view body, std::string& outError) {
    outError = kListUnverified;
    std::vector<ConfigEntry> defaults;
    loadConfigFile(kDefaultConfigFile, defaults);
    auto shipped = [&defaults](const char* name) -> const std::string* {
        auto found = std::find_if(defaults.begin(), defaults.end(),
                                  [name](const ConfigEntry& e) { return e.key == name; });
        return found == defaults.end() || found->value.empty() ? nullptr : &found->value;
    };
    const std::string* keyText = shipped(kListKeyName);
    if (!keyText) return true;
    ListPublicKey key;
    uint64_t floor = 0, sequence = 0, recorded = 0;
    const std::string* floorText = shipped(kListFloorName);
    if (!parseListPublicKey(*keyText, key) || (floorText && !parseSequenceNumber(*floorText, floor)) ||
        !verifySignedList(body, key, sequence))
        return false;
    const std::string keyHex = platform::toHex(key.data(), key.size());
    const SequenceRecord record = readAcceptedSequence(keyHex, recorded);
    if (record == SequenceRecord::Damaged || sequence < std::max(floor, recorded)) return false;
    if ((record == SequenceRecord::Missing || sequence > recorded) &&
        !recordAcceptedSequence(keyHex, sequence)) {
        outError = kErrTempFile + std::string(kSequenceFile);
        return false;
    }
    return true;
}

// ---- download and install ----

enum class Outcome { Installed, Stopped, Failed };

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

// The whole file from zero into `file`, hashed as it arrives.
Attempt fetchInto(platform::FileHandle file, const FileEntry& entry, const std::string& url, Sha256& hash,
                  std::string& leading, HttpSession& session) {
    UpdateStatus& s = updateStatus();
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
    a.fetched = httpGet(url, sink, a.error, s.stopRequested, &session);
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
Attempt resumeInto(platform::FileHandle file, const std::string& temporary, const FileEntry& entry,
                   const std::string& url, Sha256& hash, std::string& leading, int64_t have,
                   HttpSession& session) {
    UpdateStatus& s = updateStatus();
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
        a.fetched = httpGet(url, sink, a.error, s.stopRequested, &session, &range);
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

// ---- installing ----

// Flushes and renames verified downloads into place on a thread of its own, so the wait
// for the disk overlaps the next download instead of adding to it. Files are installed in
// the order they were handed in; the first that cannot be installed ends the pass, and
// every file handed in after it is given up (its ".indir" deleted), so what is in place
// is always a prefix of the list's downloads. A file reaches its real name only after its
// bytes are on the disk, and its cache record is handed back only after the rename is
// (replaceFile syncs the folder), so a saved cache never vouches for a file a power cut
// could still take away.
class Installer {
  public:
    explicit Installer(std::string launcherName) : launcherName_(std::move(launcherName)) {}
    Installer(const Installer&) = delete;
    Installer& operator=(const Installer&) = delete;

    // Installs what was handed in (a stopped pass keeps its verified files), then ends.
    ~Installer() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closing_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
    }

    // Takes over `file`, the open, verified ".indir" of `entry`. Blocks while
    // kMaxPendingInstalls are waiting. Worker thread only.
    void submit(const FileEntry& entry, platform::FileHandle file) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!thread_.joinable()) thread_ = std::thread(&Installer::run, this);
        done_.wait(lock, [this] { return queue_.size() < kMaxPendingInstalls; });
        queue_.push_back(Pending{entry, file});
        lock.unlock();
        wake_.notify_all();
    }

    // Waits until no file waiting to be installed has a name that `target`, or its
    // ".indir", begins with: the download of `target` then creates no folder and touches no
    // ".indir" that an earlier install is still to rename, replace or set aside (a path
    // listed twice, a file where a later entry wants a folder). Worker thread only.
    void waitUntilClear(const std::string& target) {
        const std::string temporary = target + kDownloadSuffix;
        auto clashes = [&](const std::string& pending) {
            return target.compare(0, pending.size(), pending) == 0 ||
                   temporary.compare(0, pending.size(), pending) == 0;
        };
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [&] {
            if (busy_ && clashes(busyPath_)) return false;
            return std::none_of(queue_.begin(), queue_.end(),
                                [&](const Pending& p) { return clashes(p.entry.path); });
        });
    }

    // True once a file could not be installed. Worker thread only.
    bool failed() {
        std::lock_guard<std::mutex> lock(mutex_);
        return !failure_.empty();
    }

    // Waits until every file handed in is installed or given up, then moves the records of
    // the installed ones into `cache` and sets `restart` when the launcher's own file was
    // replaced. False, with the message of the first file that failed, when one did.
    bool finish(UpdateCache& cache, bool& restart, std::string& failure) {
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [this] { return queue_.empty() && !busy_; });
        for (Record& record : installed_) {
            cache.mtimes[record.entry.path] = record.time;
            cache.entries[record.entry.path] = std::move(record.entry);
        }
        installed_.clear();
        if (restart_) restart = true;
        failure = failure_;
        return failure_.empty();
    }

  private:
    struct Pending {
        FileEntry entry;
        platform::FileHandle file;
    };
    struct Record {
        FileEntry entry;
        int64_t time;
    };

    void run() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return closing_ || !queue_.empty(); });
            if (queue_.empty()) return; // closing, and nothing left
            Pending next = std::move(queue_.front());
            queue_.pop_front();
            busy_ = true;
            busyPath_ = next.entry.path;
            const bool giveUp = !failure_.empty();
            lock.unlock();
            done_.notify_all(); // room in the queue
            std::string failure;
            bool replacedLauncher = false;
            Record record{next.entry, 0};
            const bool ok = !giveUp && install(next, failure, replacedLauncher, record.time);
            if (giveUp) {
                platform::closeFile(next.file, false);
                platform::deleteFile(next.entry.path + kDownloadSuffix);
            }
            lock.lock();
            if (ok) {
                installed_.push_back(std::move(record));
                if (replacedLauncher) restart_ = true;
            } else if (!giveUp) {
                failure_ = failure;
            }
            busy_ = false;
            done_.notify_all();
        }
    }

    // Flushes, closes and renames one file; on failure its ".indir" is gone.
    bool install(const Pending& pending, std::string& failure, bool& replacedLauncher, int64_t& time) {
        const std::string& target = pending.entry.path;
        const std::string temporary = target + kDownloadSuffix;
        // On disk before the rename, so a power cut cannot leave an installed but empty file.
        if (!platform::closeFile(pending.file, true)) {
            platform::deleteFile(temporary);
            failure = kErrDownload + target + " (" + kErrSink + ")";
            return false;
        }
        if (!platform::replaceFile(temporary, target)) {
            // The target is in use (the running launcher is), or a folder has its name: set
            // it aside, then take its name.
            const std::string old = target + kSetAsideSuffix;
            platform::deleteFile(old);
            if (!platform::replaceFile(target, old) || !platform::replaceFile(temporary, target)) {
                platform::deleteFile(temporary);
                failure = kErrReplace + target + kErrReplaceTail;
                return false;
            }
        }
        // Only a new launcher needs a restart; any other file is in use from its new name on.
        if (target == launcherName_) replacedLauncher = true;
        time = fileModTime(target);
        updateStatus().filesDone.fetch_add(1);
        return true;
    }

    const std::string launcherName_;
    std::mutex mutex_;
    std::condition_variable wake_; // the installing thread: work or closing
    std::condition_variable done_; // the worker: room in the queue, or all done
    std::deque<Pending> queue_;
    bool busy_ = false;    // a file is being installed outside the lock
    std::string busyPath_; // its path
    bool closing_ = false;
    std::string failure_; // the first file that could not be installed
    std::vector<Record> installed_;
    bool restart_ = false;
    std::thread thread_; // started with the first file
};

// Ends the pass with `message`, unless an earlier file failed to install: then with that
// one's. Everything installed is in the saved cache.
void failPass(Installer& installer, UpdateCache& cache, bool& restart, const std::string& message) {
    std::string earlier;
    const bool ok = installer.finish(cache, restart, earlier);
    saveUpdateCache(cache);
    setUpdateError(ok ? message : earlier);
}

// Downloads one listed file beside its target, verifies it while it arrives and hands it
// to `installer`. An interrupted earlier download of the same size is continued from
// where it stopped when the server answers the range exactly; any other answer, or a
// continued file whose hash does not match, is downloaded once more from zero. On failure
// the message is set and the ".indir" file is gone.
Outcome downloadAndInstall(const FileEntry& entry, const std::string& baseUrl, UpdateCache& cache,
                           Sha256& hash, HttpSession& session, Installer& installer, bool& restart) {
    UpdateStatus& s = updateStatus();
    const std::string& target = entry.path;
    const std::string temporary = target + kDownloadSuffix;
    const std::string url = baseUrl + urlEncodePath(target);
    std::string parent = parentFolder(target);
    if (!parent.empty()) platform::createFolders(parent);

    hash.reset();
    std::string leading; // the first hashed bytes decide whether a new file is a program
    platform::FileHandle file = -1;
    const int64_t resumeFrom = openResumable(temporary, entry, file);
    Attempt a;
    if (resumeFrom > 0) {
        s.bytesDone.fetch_add(resumeFrom); // already done: the progress line starts there
        a = resumeInto(file, temporary, entry, url, hash, leading, resumeFrom, session);
        if (!(a.fetched && a.intact && a.written)) {
            platform::closeFile(file, false);
            file = -1;
            s.bytesDone.fetch_sub(a.fileBytes); // counted again from zero below
            if (s.stopRequested.load()) {
                platform::deleteFile(temporary);
                return Outcome::Stopped;
            }
        }
    }
    if (resumeFrom == 0 || !(a.fetched && a.intact && a.written)) {
        clearFolderFromDownloadName(temporary);
        file = platform::createFreshFile(temporary);
        if (file < 0) {
            failPass(installer, cache, restart, kErrTempFile + target);
            return Outcome::Failed;
        }
        hash.reset();
        leading.clear();
        a = fetchInto(file, entry, url, hash, leading, session);
        if (!(a.fetched && a.intact && a.written)) {
            platform::closeFile(file, false);
            file = -1;
        }
    }
    const bool fetched = a.fetched, intact = a.intact, written = a.written;
    const int64_t fileBytes = a.fileBytes;
    const std::string& error = a.error;

    if (s.stopRequested.load()) {
        if (file >= 0) platform::closeFile(file, false);
        platform::deleteFile(temporary);
        return Outcome::Stopped;
    }
    if (!fetched || !written || !intact) {
        platform::deleteFile(temporary);
        if (fileBytes > entry.size || (fetched && !intact)) // more than listed, short, or wrong hash
            failPass(installer, cache, restart, kErrDownload + target + kErrBroken);
        else if (!fetched)
            failPass(installer, cache, restart, kErrDownload + target + " (" + error + ")");
        else
            failPass(installer, cache, restart, kErrDownload + target + " (" + kErrSink + ")");
        return Outcome::Failed;
    }
    installer.submit(entry, file); // flushed, renamed and recorded while the next file arrives
    return Outcome::Installed;
}

struct ActiveGuard {
    ~ActiveGuard() { updateStatus().workerActive.store(false); }
};

// One pass per folder at a time: held from before the list is fetched until the worker
// returns, so a second launcher or morlaken-sync in the same folder waits and then finds
// the work done.
struct FolderLockGuard {
    platform::FolderLock lock = -1;
    ~FolderLockGuard() {
        if (lock >= 0) platform::unlockFolder(lock);
    }
};

} // namespace

// ---- the worker ----

void updateWorker(std::string baseUrl, std::string launcherName) {
    ActiveGuard active;
    UpdateStatus& s = updateStatus();
    gFilesHashed.store(0);
    if (baseUrl.empty() || baseUrl.back() != '/') baseUrl += '/';
    storeState(UpdateState::Checking);

    FolderLockGuard folderLock;
    folderLock.lock = platform::lockFolder(".", s.stopRequested);
    if (folderLock.lock == -1 && s.stopRequested.load()) return; // closing while another pass runs
    // Any other result without the lock (a file system that cannot lock folders) goes on
    // unlocked, as every pass did before there was a lock.

    HttpSession session(s.http); // the list and every file over one connection
    std::string body;
    std::string error;
    if (!httpGet(baseUrl + kFileListName, makeStringSink(body, kFileListCap), error, s.stopRequested,
                 &session)) {
        if (s.stopRequested.load()) return; // closing: no message for a pass nobody waits on
        setUpdateError(kErrListFetch + error + ")");
        return;
    }

    if (std::string untrusted; !listTrusted(body, untrusted)) { // before any entry or the version is used
        setUpdateError(untrusted);
        return;
    }

    FileList list;
    std::string listError;
    bool accepted = parseFileList(body, list, listError, [&s](const std::string& version) {
        std::lock_guard<std::mutex> lock(s.statusMutex);
        s.serverVersion = version;
    });
    std::string().swap(body); // a large list is not kept while files download
    if (!accepted) {
        setUpdateError(listError);
        return;
    }

    UpdateCache cache = loadUpdateCache();
    std::vector<const FileEntry*> downloads;
    int64_t total = 0;
    for (const FileEntry& entry : list) {
        if (s.stopRequested.load()) return; // state stays 1, the cache is not saved
        if (!isUpToDate(entry, cache)) {
            downloads.push_back(&entry);
            // A list may claim absurd sizes; the total saturates instead of overflowing.
            total = entry.size > INT64_MAX - total ? INT64_MAX : total + entry.size;
        }
    }

    std::set<std::string> listed, downloading;
    for (const FileEntry& entry : list)
        listed.insert(entry.path);
    for (const FileEntry* entry : downloads)
        downloading.insert(entry->path);
    removeLeftovers("", listed, downloading);

    s.bytesTotal.store(total);
    s.bytesDone.store(0);
    s.filesTotal.store(static_cast<int32_t>(downloads.size()));
    s.filesDone.store(0);
    if (!downloads.empty()) storeState(UpdateState::Downloading);

    Sha256 hash;
    bool restart = false;
    Installer installer(launcherName); // before the return paths below: joined on every one
    for (const FileEntry* entry : downloads) {
        if (installer.failed()) break; // the pass ends at the file that could not be installed
        installer.waitUntilClear(entry->path);
        Outcome outcome = downloadAndInstall(*entry, baseUrl, cache, hash, session, installer, restart);
        if (outcome != Outcome::Installed) return; // stopped (no save) or failed (saved, message set)
    }
    std::string failure;
    if (!installer.finish(cache, restart, failure)) {
        saveUpdateCache(cache);
        setUpdateError(failure);
        return;
    }
    saveUpdateCache(cache);
    storeState(restart ? UpdateState::RestartPending : UpdateState::UpToDate);
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

// ---- self-restart ----

bool restartLauncher() {
    std::string self = platform::executablePath();
    if (self.empty()) return false;
    return platform::startDetached(self, {});
}
