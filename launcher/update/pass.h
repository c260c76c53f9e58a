// pass.h - the update pass: one worker at a time keeps the game folder (the working
// folder) identical to the update server's list.
//
// Index
//   ---- starting and stopping ----   startUpdate, stopUpdate, removeOldFiles
//   ---- the pass ----                updateWorker, runUpdatePass
//   ---- self-restart ----            restartLauncher
//
// A pass: take the folder's update lock; fetch the list and trust it (signature.h); parse
// it; compare each entry with the disk (the cache spares reading unchanged files, and the
// files that must be read are hashed on every core, then decided in list order); remove
// what killed runs left behind; download the rest in list order (download.h) while the
// installer thread puts verified files in place (installer.h); save the cache. The first
// faulty file ends the pass with its message; what was installed before it stays, and is
// in the saved cache.
#pragma once

#include "update/source.h"
#include "update/status.h"

#include <string>

// ---- starting and stopping ----

// Main thread. Empty URL: UpToDate, no thread, nothing touched. Otherwise joins the
// previous worker, removes top-level ".eski" files, clears stopRequested, sets Checking,
// starts the speed sample (readUpdateProgress) and starts updateWorker on status.worker
// with copies of both strings.
void startUpdate(UpdateStatus& status, const std::string& baseUrl, const std::string& launcherName);

// Main thread: sets stopRequested and joins the worker if it is joinable. A running
// download ends within a fraction of a second; the hashing of one file on disk is not
// interrupted.
void stopUpdate(UpdateStatus& status);

// Main thread: deletes every ".eski" entry of the working folder (not descending);
// failures are ignored.
void removeOldFiles();

// ---- the pass ----

// The worker's body: runUpdatePass over HTTP(S), then clears workerActive.
void updateWorker(UpdateStatus& status, std::string baseUrl, std::string launcherName);

// One full pass on the calling thread against `source`, in the working folder. `baseUrl`
// holds one address or several separated by blanks (mirrors of one another, each given a
// '/' when it lacks one, download.h's splitMirrors): the list comes from the first whose
// list is fetched, trusted and parsed, each file from the mirror that delivered last and
// then the others (downloadFile). Writes status's counters, state and texts:
//   Checking -> Failed                    no mirror's list can be fetched (kErrListFetch +
//                                         word + ")"), is trusted and parses: the first
//                                         mirror's message; the cache is not saved
//   Checking -> UpToDate                  nothing to download; the cache is saved
//   Checking -> Downloading -> UpToDate   every file installed; the cache is saved
//                          -> RestartPending  the top-level `launcherName` among them
//                          -> Failed      a file could not be written, fetched, verified or
//                                         installed; the cache is saved first
// A stop request ends the pass where it is (state stays Checking or Downloading), with no
// message, no ".indir" of the current file and no cache saved.
// The pass holds the folder's exclusive update lock (platform::lockFolder) from before the
// list is fetched to its end; a second pass in the same folder, in this or another
// process, waits for it (a stop request ends the wait). Once the comparison is done,
// ".indir" files this pass will not write and temporaries of interrupted cache or settings
// saves are removed, in real sub-folders too (links to folders are not entered).
void runUpdatePass(UpdateStatus& status, UpdateSource& source, std::string baseUrl,
                   const std::string& launcherName);

// ---- self-restart ----

// Main thread: starts a detached copy of the executable at the path read at start-up
// (platform::executablePath), which after an update holds the new launcher. The caller
// then closes the window. Returns false when the copy could not be started (the caller
// then stays open and tells the player to start it again).
bool restartLauncher();
