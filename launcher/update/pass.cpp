// pass.cpp - the update pass: start, stop, the worker, and the self-restart.
//
// Index
//   ---- starting and stopping ----
//   ---- comparison ----
//   ---- leftovers ----
//   ---- signed lists ----
//   ---- the pass ----
//   ---- self-restart ----
#include "update/pass.h"

#include "config/config.h"
#include "platform/clock.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "update/chunks.h"
#include "update/download.h"
#include "update/filelist.h"
#include "update/installer.h"
#include "update/sha256.h"
#include "update/signature.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <string_view>
#include <vector>

// ---- starting and stopping ----

void removeOldFiles() {
    std::vector<std::string> names;
    platform::listFolder(".", names); // a failed listing cleans what it could read
    for (const std::string& name : names)
        if (std::string_view(name).ends_with(kSetAsideSuffix)) platform::deleteFile(name);
}

void startUpdate(UpdateStatus& status, const std::string& baseUrl, const std::string& launcherName) {
    if (baseUrl.empty()) {
        status.state.store(UpdateState::UpToDate);
        return;
    }
    if (status.worker.joinable()) status.worker.join();
    removeOldFiles();
    status.stopRequested.store(false);
    status.workerActive.store(true);
    status.state.store(UpdateState::Checking);
    // The pass starts at 0 bytes now: the first speed sample measures from here. The frame
    // loop's clock is platform::now.
    status.speedSample = {0, 0, platform::now()};
    status.worker = std::thread(updateWorker, std::ref(status), baseUrl, launcherName);
}

void stopUpdate(UpdateStatus& status) {
    status.stopRequested.store(true);
    if (status.worker.joinable()) status.worker.join();
}

namespace {

// ---- comparison ----

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
        if (std::string_view(name).ends_with(kDownloadSuffix)) {
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

// One pass per folder at a time: held from before the list is fetched until the pass
// returns, so a second launcher or morlaken-sync in the same folder waits and then finds
// the work done.
struct FolderLockGuard {
    platform::FolderLock lock = -1;
    ~FolderLockGuard() {
        if (lock >= 0) platform::unlockFolder(lock);
    }
};

// Ends the pass with `message`, unless an earlier file failed to install: then with that
// one's. Everything installed is in the saved cache.
void failPass(UpdateStatus& status, Installer& installer, UpdateCache& cache, bool& restart,
              const std::string& message) {
    std::string earlier;
    const bool ok = installer.finish(cache, restart, earlier);
    saveUpdateCache(cache);
    setUpdateError(status, ok ? message : earlier);
}

} // namespace

// ---- the pass ----

void updateWorker(UpdateStatus& status, std::string baseUrl, std::string launcherName) {
    // Behind the window: the pass's own threads (hashing, installing) start from this one
    // and, on Linux, inherit its priority.
    platform::lowerThreadPriority();
    {
        HttpUpdateSource source(status.stopRequested);
        runUpdatePass(status, source, std::move(baseUrl), launcherName);
    }
    status.workerActive.store(false);
}

void runUpdatePass(UpdateStatus& s, UpdateSource& source, std::string baseUrl,
                   const std::string& launcherName) {
    Mirrors mirrors = splitMirrors(baseUrl);
    s.state.store(UpdateState::Checking);

    FolderLockGuard folderLock;
    folderLock.lock = platform::lockFolder(".", s.stopRequested);
    if (folderLock.lock == -1 && s.stopRequested.load()) return; // closing while another pass runs
    // Any other result without the lock (a file system that cannot lock folders) goes on
    // unlocked, as every pass did before there was a lock.

    // The list from the first mirror whose list passes every check (mirrors are not
    // trusted: each list is verified on its own); with none, the first mirror's message.
    FileList list;
    std::map<std::string, ChunkIndexRef> indexes;
    std::string firstMirrorsError;
    bool accepted = false;
    for (size_t m = 0; m < mirrors.bases.size() && !accepted; ++m) {
        std::string body, error, message;
        const bool fetched = source.fetch(mirrors.bases[m] + kFileListName, nullptr,
                                          makeStringSink(body, kFileListCap), error);
        if (!fetched && s.stopRequested.load()) return; // closing: no message for a pass nobody waits on
        if (!fetched) {
            message = kErrListFetch + error + ")";
        } else if (listTrusted(body, message) && // before any entry or the version is used
                   parseFileList(body, list, message, [&s](const std::string& version) {
                       std::lock_guard<std::mutex> lock(s.statusMutex);
                       s.serverVersion = version;
                   })) {
            indexes = readChunkIndexLines(body);
            mirrors.current = m;
            accepted = true;
        }
        if (m == 0) firstMirrorsError = message;
    } // a large list is not kept while files download
    if (!accepted) {
        setUpdateError(s, firstMirrorsError);
        return;
    }

    UpdateCache cache = loadUpdateCache();
    std::vector<const FileEntry*> downloads;
    int64_t total = 0;
    for (const FileEntry& entry : list) {
        if (s.stopRequested.load()) return; // state stays Checking, the cache is not saved
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
    s.bytesFetched.store(0);
    s.filesTotal.store(static_cast<int32_t>(downloads.size()));
    s.filesDone.store(0);
    if (!downloads.empty()) s.state.store(UpdateState::Downloading);

    Sha256 hash;
    bool restart = false;
    Installer installer(s, launcherName); // before the return paths below: joined on every one
    for (const FileEntry* entry : downloads) {
        if (installer.failed()) break; // the pass ends at the file that could not be installed
        installer.waitUntilClear(entry->path);
        const auto index = indexes.find(entry->path);
        const Download d =
            downloadFile(s, source, *entry, mirrors, index == indexes.end() ? nullptr : &index->second, hash);
        if (d.result == Download::Result::Stopped) return; // no message, no cache saved
        if (d.result == Download::Result::Failed) {
            failPass(s, installer, cache, restart, d.error);
            return;
        }
        installer.submit(*entry, d.file); // flushed, renamed and recorded while the next file arrives
    }
    std::string failure;
    if (!installer.finish(cache, restart, failure)) {
        saveUpdateCache(cache);
        setUpdateError(s, failure);
        return;
    }
    saveUpdateCache(cache);
    s.state.store(restart ? UpdateState::RestartPending : UpdateState::UpToDate);
}

// ---- self-restart ----

bool restartLauncher() {
    std::string self = platform::executablePath();
    if (self.empty()) return false;
    return platform::startDetached(self, {});
}
