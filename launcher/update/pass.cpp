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
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <map>
#include <string_view>
#include <system_error>
#include <thread>
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

// A file needing its content read: the listed entry, and the size and time it had.
struct HashJob {
    size_t entry;
    int64_t size;
    int64_t time;
    std::string hash; // filled by hashFiles
};

// What the disk says of one entry before any file is read: it needs a download, its
// cache record vouches for it, or it must be hashed (`jobs` gets it). Sizes decide first;
// a record with the same size and write time vouches without reading.
enum class Verdict : uint8_t { UpToDate, Download, Hash };
Verdict compareWithDisk(const ListedFile& entry, size_t index, CacheTable& cache, std::string& pathBuffer,
                        std::vector<HashJob>& jobs) {
    pathBuffer.assign(entry.path);
    int64_t size = -1, time = 0;
    if (!platform::regularFileFacts(pathBuffer, size, time) || size != entry.size) return Verdict::Download;
    CacheTable::Record cached;
    if (cache.find(entry.path, cached) && cached.size == size && cached.time == time)
        return cached.hash == entry.hash ? Verdict::UpToDate : Verdict::Download;
    jobs.push_back(HashJob{index, size, time, {}});
    return Verdict::Hash;
}

// Hashes every job's file, on as many threads as the machine has cores: each thread takes
// the next job by its index until none is left or a stop is requested (a file already
// begun is finished). One file is always hashed by one thread.
void hashFiles(std::vector<HashJob>& jobs, const std::vector<ListedFile>& list,
               const std::atomic<bool>& stop) {
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t j = next.fetch_add(1); j < jobs.size() && !stop.load(); j = next.fetch_add(1))
            jobs[j].hash = sha256File(std::string(list[jobs[j].entry].path));
    };
    const size_t threads = std::min<size_t>(std::max(1u, std::thread::hardware_concurrency()), jobs.size());
    std::vector<std::thread> helpers;
    for (size_t t = 1; t < threads; ++t) {
        try {
            helpers.emplace_back(work);
        } catch (const std::system_error&) {
            break; // fewer threads than cores: the work is shared among those there are
        }
    }
    work();
    for (std::thread& helper : helpers)
        helper.join();
}

// ---- leftovers ----

// With the folder locked, no other pass writes here: every ".indir" file that this pass
// will not write again is what a killed run left behind, and so is a temporary of a cache
// or settings save whose process is gone. Both are removed; a listed path never is.
// Real sub-folders are searched; links to folders (a player's own) are not entered.
// `listed` holds the listed paths that have such a name, `downloading` the paths this
// pass will write; both sorted.
void removeLeftovers(const std::string& folder, const std::vector<std::string_view>& listed,
                     const std::vector<std::string_view>& downloading) {
    std::vector<platform::FolderEntry> entries; // a failed listing cleans what it read
    platform::listFolderEntries(folder.empty() ? "." : folder, entries);
    const std::string_view suffix(kDownloadSuffix);
    for (const platform::FolderEntry& entry : entries) {
        const std::string_view name(entry.name);
        const std::string path = folder.empty() ? entry.name : folder + "/" + entry.name;
        if (entry.type == platform::EntryType::Folder) {
            removeLeftovers(path, listed, downloading);
            continue;
        }
        bool leftover = false;
        if (name.ends_with(suffix)) {
            const std::string_view target = std::string_view(path).substr(0, path.size() - suffix.size());
            leftover = !std::binary_search(downloading.begin(), downloading.end(), target);
        } else if (folder.empty() && platform::isAbandonedWriteTemporary(entry.name)) {
            for (const char* saved : {kUpdateCacheFile, kUserConfigFile, kSequenceFile})
                if (name.compare(0, std::strlen(saved) + 1, std::string(saved) + ".") == 0) leftover = true;
        }
        if (leftover && !std::binary_search(listed.begin(), listed.end(), std::string_view(path)))
            platform::deleteFile(path);
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
void failPass(UpdateStatus& status, Installer& installer, CacheTable& cache, bool& restart,
              const std::string& message) {
    std::string earlier;
    const bool ok = installer.finish(cache.learned, restart, earlier);
    cache.save();
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
    // The entries point into `body`, which is dropped once the comparison is done.
    std::string body;
    std::vector<ListedFile> list;
    std::map<std::string, ChunkIndexRef> indexes;
    std::string firstMirrorsError;
    bool accepted = false;
    for (size_t m = 0; m < mirrors.bases.size() && !accepted; ++m) {
        std::string error, message;
        body.clear();
        const bool fetched = source.fetch(mirrors.bases[m] + kFileListName, nullptr,
                                          makeStringSink(body, kFileListCap), error);
        if (!fetched && s.stopRequested.load()) return; // closing: no message for a pass nobody waits on
        if (!fetched) {
            message = kErrListFetch + error + ")";
        } else if (listTrusted(body, message) && // before any entry or the version is used
                   scanFileList(body, list, message, [&s](const std::string& version) {
                       std::lock_guard<std::mutex> lock(s.statusMutex);
                       s.serverVersion = version;
                   })) {
            indexes = readChunkIndexLines(body);
            mirrors.current = m;
            accepted = true;
        }
        if (m == 0) firstMirrorsError = message;
    }
    if (!accepted) {
        setUpdateError(s, firstMirrorsError);
        return;
    }

    // The disk first (one look per file), then the files no cache record vouches for are
    // hashed on every core, then each entry is decided in list order.
    CacheTable cache;
    cache.load();
    std::vector<Verdict> verdicts(list.size());
    std::vector<HashJob> jobs;
    std::string pathBuffer;
    for (size_t i = 0; i < list.size(); ++i) {
        if (s.stopRequested.load()) return; // state stays Checking, the cache is not saved
        verdicts[i] = compareWithDisk(list[i], i, cache, pathBuffer, jobs);
    }
    hashFiles(jobs, list, s.stopRequested);
    if (s.stopRequested.load()) return;
    std::vector<FileEntry> downloads;
    int64_t total = 0;
    auto job = jobs.begin();
    for (size_t i = 0; i < list.size(); ++i) {
        const ListedFile& entry = list[i];
        bool current = verdicts[i] == Verdict::UpToDate;
        if (verdicts[i] == Verdict::Hash) {
            const std::string path(entry.path);
            current = job->hash == entry.hash;
            cache.learned.mtimes[path] = job->time;
            cache.learned.entries[path] = FileEntry{std::move(job->hash), job->size, path};
            ++job;
        }
        if (!current) {
            downloads.push_back(FileEntry{std::string(entry.hash), entry.size, std::string(entry.path)});
            // A list may claim absurd sizes; the total saturates instead of overflowing.
            total = entry.size > INT64_MAX - total ? INT64_MAX : total + entry.size;
        }
    }
    jobs = {};
    verdicts = {};

    std::vector<std::string_view> listed, downloading;
    for (const ListedFile& entry : list)
        if (entry.path.ends_with(kDownloadSuffix) ||
            (entry.path.find('/') == std::string_view::npos &&
             platform::isAtomicWriteTemporary(std::string(entry.path))))
            listed.push_back(entry.path);
    for (const FileEntry& entry : downloads)
        downloading.push_back(entry.path);
    std::sort(listed.begin(), listed.end());
    std::sort(downloading.begin(), downloading.end());
    removeLeftovers("", listed, downloading);
    listed = {};
    downloading = {};
    list = {}; // a large list is not kept while files download
    body = {};

    s.bytesTotal.store(total);
    s.bytesDone.store(0);
    s.bytesFetched.store(0);
    s.filesTotal.store(static_cast<int32_t>(downloads.size()));
    s.filesDone.store(0);
    if (!downloads.empty()) s.state.store(UpdateState::Downloading);

    Sha256 hash;
    bool restart = false;
    Installer installer(s, launcherName); // before the return paths below: joined on every one
    for (const FileEntry& entry : downloads) {
        if (installer.failed()) break; // the pass ends at the file that could not be installed
        installer.waitUntilClear(entry.path);
        const auto index = indexes.find(entry.path);
        const Download d =
            downloadFile(s, source, entry, mirrors, index == indexes.end() ? nullptr : &index->second, hash);
        if (d.result == Download::Result::Stopped) return; // no message, no cache saved
        if (d.result == Download::Result::Failed) {
            failPass(s, installer, cache, restart, d.error);
            return;
        }
        installer.submit(entry, d.file); // flushed, renamed and recorded while the next file arrives
    }
    std::string failure;
    if (!installer.finish(cache.learned, restart, failure)) {
        cache.save();
        setUpdateError(s, failure);
        return;
    }
    cache.save();
    s.state.store(restart ? UpdateState::RestartPending : UpdateState::UpToDate);
}

// ---- self-restart ----

bool restartLauncher() {
    std::string self = platform::executablePath();
    if (self.empty()) return false;
    return platform::startDetached(self, {});
}
