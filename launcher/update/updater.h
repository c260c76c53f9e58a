// updater.h - the update pass: status block, worker thread, self-restart.
//
// One worker at a time keeps the game folder identical to the server's list. The main
// thread reads the status block once a frame; the worker writes it.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

enum UpdateState : int32_t {
    NotStarted = 0,
    Checking = 1,
    Downloading = 2,
    UpToDate = 3,
    Failed = 4,
    RestartPending = 5,
};

struct UpdateStatus {
    std::atomic<int32_t> state{NotStarted};  // written by startUpdate / worker / setUpdateError
    std::atomic<int64_t> bytesTotal{0};      // written by the worker after the comparison
    std::atomic<int64_t> bytesDone{0};       // worker sets 0; FileHashSink adds every chunk
    std::atomic<int32_t> filesTotal{0};      // written by the worker after the comparison
    std::atomic<int32_t> filesDone{0};       // worker: 0 after the comparison, +1 per file
    std::atomic<bool> stopRequested{false};  // startUpdate clears; the main loop sets at exit
    std::mutex statusMutex;                  // guards errorText and serverVersion only
    std::string errorText;                   // last failed pass's message; never cleared
    std::string serverVersion;               // last list's "surum" text; never cleared
    std::thread worker;                      // current or last worker; main thread only
};

// The process-wide status block.
UpdateStatus& updateStatus();

// Main thread. Empty URL: state 3, no thread, nothing touched. Otherwise joins the
// previous worker, removes top-level ".eski" files, clears stopRequested, state 1, and
// starts updateWorker with copies of both strings.
void startUpdate(const std::string& url, const std::string& launcherName);

// The worker's body (runs one full pass on the calling thread).
void updateWorker(std::string baseUrl, std::string launcherName);

void setUpdateError(const std::string& message);
std::string getServerVersion();
void removeOldFiles();

// Main thread: sets stopRequested and joins the worker if it is joinable.
void stopUpdate();

// Main thread: starts a detached copy of the running executable. The caller then closes
// the window. Returns false when the copy could not be started.
bool restartLauncher();
