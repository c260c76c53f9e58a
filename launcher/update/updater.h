// updater.h - the update pass: status block, worker thread, self-restart.
//
// One worker at a time keeps the game folder identical to the server's list. The main
// thread reads the status block once a frame; the worker writes it.
#pragma once

#include "net/http.h"
#include "update/sha256.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>

enum class UpdateState : int32_t {
    NotStarted,
    Checking,
    Downloading,
    UpToDate,
    Failed,
    RestartPending, // the launcher's own file was replaced: restart to finish
};

struct UpdateStatus {
    std::atomic<UpdateState> state{
        UpdateState::NotStarted};           // written by startUpdate / worker / setUpdateError
    std::atomic<int64_t> bytesTotal{0};     // written by the worker after the comparison
    std::atomic<int64_t> bytesDone{0};      // worker sets 0; FileHashSink adds every chunk
    std::atomic<int32_t> filesTotal{0};     // written by the worker after the comparison
    std::atomic<int32_t> filesDone{0};      // worker: 0 after the comparison, +1 per file
    std::atomic<bool> stopRequested{false}; // startUpdate clears; the main loop sets at exit
    std::mutex statusMutex;                 // guards errorText and serverVersion only; read them
    std::string errorText;                  //   through copyUpdateError / copyServerVersion.
    std::string serverVersion;              // Last failed pass's message and last list's "surum"
                                            //   text; neither is ever cleared.
    std::thread worker;                     // current or last worker; main thread only
    std::atomic<bool> workerActive{false};  // startUpdate sets, the worker clears as it returns
    HttpOptions http;                       // the pass's transfers; set before startUpdate
};

// The error texts of a failed pass (the path, or the error word and ")" follow).
inline constexpr const char* kErrListFetch = "Güncelleme sunucusuna ulaşılamadı (";
inline constexpr const char* kErrTempFile = "Dosya yazılamadı: ";
inline constexpr const char* kErrDownload = "İndirme başarısız: ";
inline constexpr const char* kErrBroken = " (dosya bozuk geldi)";
inline constexpr const char* kErrReplace = "Dosya değiştirilemedi: ";
inline constexpr const char* kErrReplaceTail = " (açık olabilir)";
inline constexpr const char* kDownloadSuffix = ".indir";
inline constexpr const char* kSetAsideSuffix = ".eski";

// The process-wide status block.
UpdateStatus& updateStatus();

// Main thread. Empty URL: UpToDate, no thread, nothing touched. Otherwise joins the
// previous worker, removes top-level ".eski" files, clears stopRequested, Checking, and
// starts updateWorker with copies of both strings.
void startUpdate(const std::string& url, const std::string& launcherName);

// The worker's body (runs one full pass on the calling thread). Relative paths are
// taken against the working folder, which is the game folder. The pass holds the
// folder's exclusive update lock (platform::lockFolder) from before the list is fetched
// to its end; a second pass in the same folder, in this or another process, waits for it
// (a stop request ends the wait). Once the comparison is done, ".indir" files this pass
// will not write and temporaries of interrupted cache or settings saves are removed.
// Installed files keep the permission bits of the file they replace; a new one is a
// program exactly when its verified content says so (platform::setInstalledFileMode).
// A verified file is flushed and renamed into place by a helper thread, in list order,
// while the next one downloads; the pass waits for it before it saves the cache or ends.
void updateWorker(std::string baseUrl, std::string launcherName);

// Any thread: errorText = message under statusMutex, then Failed.
void setUpdateError(const std::string& message);
// Any thread: copy errorText / serverVersion into `out` under statusMutex. `out` keeps
// its capacity, so a caller that reuses it every frame allocates only when a text grows.
void copyUpdateError(std::string& out);
void copyServerVersion(std::string& out);
// Main thread: deletes every ".eski" entry of the working folder (not descending);
// failures are ignored.
void removeOldFiles();

// The sink of a file download.
// Hashes, counts (per file into `fileBytes`, and into the caller's `byteCounter`, which
// other threads may read) and writes each chunk. Refuses when the stream fails, or once
// more than `expectedSize` bytes have arrived (a server sending past the listed size must
// not fill the player's disk). Every referenced object must outlive the transfer.
DownloadSink makeFileHashSink(Sha256& hash, int64_t& fileBytes, std::ostream& out, int64_t expectedSize,
                              std::atomic<int64_t>& byteCounter);

// Main thread: sets stopRequested and joins the worker if it is joinable.
void stopUpdate();

// Main thread: starts a detached copy of the executable at the path read at start-up
// (platform::executablePath), which after an update holds the new launcher. The caller
// then closes the window. Returns false when the copy could not be started (the caller
// then stays open and tells the player to start it again).
bool restartLauncher();

// ---- test hooks ----
// Called with every value stored into `state`, on the thread that stores it (startUpdate's
// thread or the worker). Set it before startUpdate and clear it after the worker ended.
void setUpdateStateObserver(std::function<void(UpdateState)> observer);
// Number of files read and hashed on disk by the current or last pass (written by the
// worker, read by anyone). A file vouched for by the cache is never counted.
int64_t updateFilesHashed();
