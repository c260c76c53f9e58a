// download.h - one listed file fetched beside its target as NAME.indir, verified while it
// arrives, and continued where an interrupted run stopped.
//
// Index
//   ---- one file ----     Download, downloadFile
//   ---- the file sink ----  makeFileHashSink
#pragma once

#include "net/http.h"
#include "platform/platform.h"
#include "update/filelist.h"
#include "update/sha256.h"
#include "update/source.h"
#include "update/status.h"

#include <atomic>
#include <cstdint>
#include <ostream>
#include <string>

// ---- one file ----

struct Download {
    enum class Result { Verified, Stopped, Failed };
    Result result = Result::Failed;
    platform::FileHandle file = -1; // Verified: the open ".indir", for the installer to take over
    std::string error;              // Failed: the pass's message
};

// Fetches `entry` from `baseUrl` (ending in '/') + urlEncodePath(path) into path + ".indir"
// beside its target (its parent folders are created first), hashing every byte as it
// arrives; `hash` is scratch space reused from file to file. Verified means exactly the
// listed size and hash, with the permission bits the target will need already set
// (platform::setInstalledFileMode). Every received byte is added to status.bytesDone.
//
// An earlier ".indir" of the player's (a regular file with one link, shorter than listed)
// is continued with a ranged fetch; its bytes count as done. When the server does not
// answer that range exactly, or the continued file does not verify, what that attempt
// counted is taken back and the file is fetched once more from zero. Anything else in the
// way of the ".indir" (a link, a file with a second name, an empty folder) is removed, and
// a folder with content is set aside whole under ".indir.eski".
//
// Failed, with the ".indir" gone: kErrTempFile + path when the ".indir" cannot be created
// (nothing is fetched then); kErrDownload + path + kErrBroken when the body was complete
// but of another size or hash, or went past the listed size (never written past it);
// kErrDownload + path + " (" + error word + ")" for any other failed fetch. Stopped, with
// the ".indir" gone, whenever status.stopRequested is set by the end. Worker thread only.
Download downloadFile(UpdateStatus& status, UpdateSource& source, const FileEntry& entry,
                      const std::string& baseUrl, Sha256& hash);

// ---- the file sink ----

// Hashes, counts (per file into `fileBytes`, and into the caller's `byteCounter`, which
// other threads may read) and writes each chunk. Refuses when the stream fails, or once
// more than `expectedSize` bytes have arrived (a server sending past the listed size must
// not fill the player's disk); the refused chunk is counted, never written. Every
// referenced object must outlive the transfer.
DownloadSink makeFileHashSink(Sha256& hash, int64_t& fileBytes, std::ostream& out, int64_t expectedSize,
                              std::atomic<int64_t>& byteCounter);
