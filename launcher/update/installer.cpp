// installer.cpp - the installer thread: flush, rename, record.
//
// Index
//   ---- tunables ----
//   ---- the worker's side ----      submit, waitUntilClear, failed, finish
//   ---- the installing thread ----  run, install
#include "update/installer.h"

#include "net/http.h"

#include <algorithm>

// ---- tunables ----
namespace {
// Verified downloads that may wait for their flush and rename while the next file
// arrives; each keeps its file open until then.
constexpr size_t kMaxPendingInstalls = 8;
} // namespace

// ---- the worker's side ----

Installer::Installer(UpdateStatus& status, std::string launcherName)
    : status_(status), launcherName_(std::move(launcherName)) {}

Installer::~Installer() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void Installer::submit(const FileEntry& entry, platform::FileHandle file) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!thread_.joinable()) thread_ = std::thread(&Installer::run, this);
    done_.wait(lock, [this] { return queue_.size() < kMaxPendingInstalls; });
    queue_.push_back(Pending{entry, file});
    lock.unlock();
    wake_.notify_all();
}

void Installer::waitUntilClear(const std::string& target) {
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

bool Installer::failed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return !failure_.empty();
}

bool Installer::finish(UpdateCache& cache, bool& restart, std::string& outFailure) {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return queue_.empty() && !busy_; });
    for (Record& record : installed_) {
        cache.mtimes[record.entry.path] = record.time;
        cache.entries[record.entry.path] = std::move(record.entry);
    }
    installed_.clear();
    if (restart_) restart = true;
    outFailure = failure_;
    return failure_.empty();
}

// ---- the installing thread ----

void Installer::run() {
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
bool Installer::install(const Pending& pending, std::string& failure, bool& replacedLauncher, int64_t& time) {
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
    status_.filesDone.fetch_add(1);
    return true;
}
