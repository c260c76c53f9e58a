// updater.cpp - the update pass: status block, worker thread, self-restart.
//
// Index
//   ---- status block ----
//   ---- starting and stopping ----
//   ---- comparison ----
//   ---- download and install ----
//   ---- the worker ----
//   ---- self-restart ----
#include "update/updater.h"

#include "platform/platform.h"
#include "update/filelist.h"
#include "update/http.h"
#include "update/sha256.h"

#include <cstdint>
#include <fstream>
#include <vector>

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

// ---- download and install ----

enum class Outcome { Installed, Stopped, Failed };

std::string parentFolder(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// Downloads one listed file beside its target, verifies it while it arrives and swaps it
// into place. On failure the message is set and the ".indir" file is gone.
Outcome downloadAndInstall(const FileEntry& entry, const std::string& baseUrl,
                           const std::string& launcherName, UpdateCache& cache, Sha256& hash,
                           bool& outRestart) {
    UpdateStatus& s = updateStatus();
    const std::string& target = entry.path;
    const std::string temporary = target + kDownloadSuffix;
    std::string parent = parentFolder(target);
    if (!parent.empty()) platform::createFolders(parent);

    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out.is_open()) {
        saveUpdateCache(cache);
        setUpdateError(kErrTempFile + target);
        return Outcome::Failed;
    }
    hash.reset();
    int64_t fileBytes = 0;
    std::string error;
    DownloadSink sink = makeFileHashSink(hash, fileBytes, out, entry.size, s.bytesDone);
    bool fetched = httpGet(baseUrl + urlEncodePath(target), sink, error, s.stopRequested);
    out.close(); // flushes: a write error at close must not install a cut file
    // On disk before the rename, so a power cut cannot leave an installed but empty file.
    bool written = !out.fail() && (!fetched || platform::flushFileToDisk(temporary));

    if (s.stopRequested.load()) {
        platform::deleteFile(temporary);
        return Outcome::Stopped;
    }
    bool intact = fileBytes == entry.size && toHex(hash.finish()) == entry.hash;
    if (!fetched || !written || !intact) {
        platform::deleteFile(temporary);
        saveUpdateCache(cache);
        if (fileBytes > entry.size || (fetched && !intact))
            setUpdateError(kErrDownload + target + kErrBroken); // more than listed, short, or wrong hash
        else if (!fetched)
            setUpdateError(kErrDownload + target + " (" + error + ")");
        else
            setUpdateError(kErrDownload + target + " (" + kErrSink + ")");
        return Outcome::Failed;
    }

    if (platform::replaceFile(temporary, target)) {
        if (target == launcherName) outRestart = true;
    } else {
        // The target is in use (the running launcher is): set it aside, then take its name.
        const std::string old = target + kSetAsideSuffix;
        platform::deleteFile(old);
        if (!platform::replaceFile(target, old) || !platform::replaceFile(temporary, target)) {
            platform::deleteFile(temporary);
            saveUpdateCache(cache);
            setUpdateError(kErrReplace + target + kErrReplaceTail);
            return Outcome::Failed;
        }
        outRestart = true;
    }
    cache.entries[target] = entry;
    cache.mtimes[target] = fileModTime(target);
    s.filesDone.fetch_add(1);
    return Outcome::Installed;
}

struct ActiveGuard {
    ~ActiveGuard() { updateStatus().workerActive.store(false); }
};

} // namespace

// ---- the worker ----

void updateWorker(std::string baseUrl, std::string launcherName) {
    ActiveGuard active;
    UpdateStatus& s = updateStatus();
    gFilesHashed.store(0);
    if (baseUrl.empty() || baseUrl.back() != '/') baseUrl += '/';
    storeState(UpdateState::Checking);

    std::string body;
    std::string error;
    if (!httpGet(baseUrl + kFileListName, makeStringSink(body, kFileListCap), error, s.stopRequested)) {
        if (s.stopRequested.load()) return; // closing: no message for a pass nobody waits on
        setUpdateError(kErrListFetch + error + ")");
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

    s.bytesTotal.store(total);
    s.bytesDone.store(0);
    s.filesTotal.store(static_cast<int32_t>(downloads.size()));
    s.filesDone.store(0);
    if (!downloads.empty()) storeState(UpdateState::Downloading);

    Sha256 hash;
    bool restart = false;
    for (const FileEntry* entry : downloads) {
        Outcome outcome = downloadAndInstall(*entry, baseUrl, launcherName, cache, hash, restart);
        if (outcome != Outcome::Installed) return; // stopped (no save) or failed (saved, message set)
    }
    saveUpdateCache(cache);
    storeState(restart ? UpdateState::RestartPending : UpdateState::UpToDate);
}

// ---- self-restart ----

bool restartLauncher() {
    std::string self = platform::executablePath();
    if (self.empty()) return false;
    return platform::startDetached(self, {});
}
