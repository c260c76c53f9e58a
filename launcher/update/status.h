// status.h - what an update pass publishes: its state, counters, error text and the
// server's version, and the snapshot a frame that the screens draw from.
//
// Index
//   ---- states and texts ----   UpdateState, the messages of a failed pass
//   ---- the status block ----   UpdateStatus
//   ---- reading it ----         UpdateProgress, readUpdateProgress, copyUpdateError,
//                                copyServerVersion
//   ---- writing it ----         setUpdateError (the pass's own)
//
// The caller owns one UpdateStatus (the launcher one for its whole run, a test or a tool
// its own) and hands it to startUpdate, stopUpdate and the readers below. The worker
// writes the atomics; the main thread reads them once a frame through readUpdateProgress.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

// ---- states and texts ----

enum class UpdateState : int32_t {
    NotStarted,
    Checking,
    Downloading,
    UpToDate,
    Failed,
    RestartPending, // the launcher's own file was replaced: restart to finish
};

// The messages of a failed pass (the path, or the error word and ")" follow).
inline constexpr const char* kErrListFetch = "Güncelleme sunucusuna ulaşılamadı (";
inline constexpr const char* kErrTempFile = "Dosya yazılamadı: ";
inline constexpr const char* kErrDownload = "İndirme başarısız: ";
inline constexpr const char* kErrBroken = " (dosya bozuk geldi)";
inline constexpr const char* kErrReplace = "Dosya değiştirilemedi: ";
inline constexpr const char* kErrReplaceTail = " (açık olabilir)";
inline constexpr const char* kDownloadSuffix = ".indir";
inline constexpr const char* kSetAsideSuffix = ".eski";

// ---- the status block ----

struct UpdateStatus {
    // Written by startUpdate, the worker and setUpdateError.
    std::atomic<UpdateState> state{UpdateState::NotStarted};
    // Written by the worker after the comparison: the listed sizes of the files to download
    // (saturating at INT64_MAX) and their number; the two counters below start at 0 then.
    std::atomic<int64_t> bytesTotal{0};
    std::atomic<int32_t> filesTotal{0};
    // Every chunk that arrives, failed attempts and bytes past a file's size included, and
    // every byte a patched file reuses from its old copy (it is done without a download).
    std::atomic<int64_t> bytesDone{0};
    // Bytes that actually arrived for files, their ranges and their chunk indexes; the speed
    // is measured on this one. Reset with bytesDone.
    std::atomic<int64_t> bytesFetched{0};
    std::atomic<int32_t> filesDone{0};      // +1 by the installer thread for each installed file
    std::atomic<bool> stopRequested{false}; // startUpdate clears; the owner sets it to end the pass
    mutable std::mutex statusMutex;         // guards errorText and serverVersion only; read them
    std::string errorText;                  //   through copyUpdateError / copyServerVersion.
    std::string serverVersion;              // Last failed pass's message and last list's "surum"
                                            //   text; neither is ever cleared.
    std::thread worker;                     // current or last worker; main thread only
    std::atomic<bool> workerActive{false};  // startUpdate sets, the worker clears as it returns

    // Main thread only: readUpdateProgress's speed sample. startUpdate starts it when a
    // pass starts, so the first sample measures from there, not from the clock's origin.
    struct SpeedSample {
        double speed = 0;      // smoothed bytes per second
        int64_t lastBytes = 0; // bytesFetched at the last sample
        double lastTime = 0;   // clock seconds of the last sample
    } speedSample;

    UpdateStatus() = default;
    UpdateStatus(const UpdateStatus&) = delete;
    UpdateStatus& operator=(const UpdateStatus&) = delete;
    // Stops and joins a worker still running (an owner that goes first never leaves one
    // writing into freed memory). Main thread.
    ~UpdateStatus();
};

// ---- reading it ----

// One frame's view of the pass. The counters are loaded one by one and need not agree
// with one another while a pass runs.
struct UpdateProgress {
    UpdateState state = UpdateState::NotStarted;
    int32_t filesDone = 0, filesTotal = 0;
    int64_t bytesDone = 0, bytesTotal = 0;
    double speed = 0;         // smoothed bytes fetched per second; 0 unless Downloading
    int64_t bytesFetched = 0; // of bytesDone (and indexes), what came over the network
};

// Main thread, once a frame. `nowSeconds` is the frame loop's monotonic clock (the
// steady clock in seconds). While downloading, a speed sample is taken at most once a
// second and smoothed 0.3 new / 0.7 old (the first one after a restart is taken as it
// is); in every other state the speed is 0 and the sample restarts at `nowSeconds`.
// Allocates nothing.
UpdateProgress readUpdateProgress(UpdateStatus& status, double nowSeconds);

// Any thread: copy errorText / serverVersion into `out` under statusMutex. `out` keeps
// its capacity, so a caller that reuses it every frame allocates only when a text grows.
void copyUpdateError(const UpdateStatus& status, std::string& out);
void copyServerVersion(const UpdateStatus& status, std::string& out);

// ---- writing it ----

// Any thread: errorText = message under statusMutex, then Failed (after the unlock, so a
// reader that sees Failed finds the message complete).
void setUpdateError(UpdateStatus& status, const std::string& message);
