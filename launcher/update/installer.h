// installer.h - verified downloads flushed and renamed into place on a thread of their own.
//
// The wait for the disk overlaps the next download instead of adding to it. Files are
// installed in the order they were handed in; the first that cannot be installed ends the
// pass, and every file handed in after it is given up (its ".indir" deleted), so what is
// in place is always a prefix of the list's downloads. A file reaches its real name only
// after its bytes are on the disk, and its cache record is handed back only after the
// rename is (replaceFile syncs the folder), so a saved cache never vouches for a file a
// power cut could still take away.
//
// A target that cannot be replaced (the running launcher on Windows, a folder of that
// name) is set aside under ".eski" and the new file takes its name; when even that fails
// the pass ends with kErrReplace + path + kErrReplaceTail and the target stays. A new
// file keeps the permission bits its download was given.
#pragma once

#include "platform/platform.h"
#include "update/filelist.h"
#include "update/status.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Owned by the worker thread of one pass; its own thread starts with the first file.
class Installer {
  public:
    // Counts every installed file in status.filesDone. Replacing the top-level file named
    // `launcherName` asks for a restart.
    Installer(UpdateStatus& status, std::string launcherName);
    Installer(const Installer&) = delete;
    Installer& operator=(const Installer&) = delete;
    // Installs what was handed in (a stopped pass keeps its verified files), then ends.
    ~Installer();

    // Takes over `file`, the open, verified ".indir" of `entry`. Blocks while 8 files wait
    // (kMaxPendingInstalls).
    void submit(const FileEntry& entry, platform::FileHandle file);

    // Waits until no file waiting to be installed has a name that `target`, or its
    // ".indir", begins with: the download of `target` then creates no folder and touches no
    // ".indir" that an earlier install is still to rename, replace or set aside (a path
    // listed twice, a file where a later entry wants a folder).
    void waitUntilClear(const std::string& target);

    // True once a file could not be installed.
    bool failed();

    // Waits until every file handed in is installed or given up, then moves the records of
    // the installed ones (listed hash and size, write time on disk) into `cache` and sets
    // `restart` when the launcher's own file was replaced. False, with the message of the
    // first file that failed in `outFailure`, when one did.
    bool finish(UpdateCache& cache, bool& restart, std::string& outFailure);

  private:
    struct Pending {
        FileEntry entry;
        platform::FileHandle file;
    };
    struct Record {
        FileEntry entry;
        int64_t time;
    };

    void run();
    bool install(const Pending& pending, std::string& failure, bool& replacedLauncher, int64_t& time);

    UpdateStatus& status_;
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
