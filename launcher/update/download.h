// download.h - one listed file fetched beside its target as NAME.indir, verified while it
// arrives, continued where an interrupted run stopped, or patched: built from the chunks
// its old copy already has and the missing ones fetched as ranges.
//
// Index
//   ---- mirrors ----        Mirrors, splitMirrors
//   ---- one file ----       Download, downloadFile
#pragma once

#include "net/http.h"
#include "platform/platform.h"
#include "update/chunks.h"
#include "update/filelist.h"
#include "update/sha256.h"
#include "update/source.h"
#include "update/status.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// ---- mirrors ----

// The update server's addresses, each ending in '/', in the order the "guncelleme" value
// names them; every one serves the same list and files. `current` is the one that
// delivered last: each fetch tries it first, then the others in turn.
struct Mirrors {
    std::vector<std::string> bases;
    size_t current = 0;
};
// The addresses of a "guncelleme" value: separated by blanks, each given its '/'. A value
// with no address at all gives the value itself as the one address. Pure.
Mirrors splitMirrors(const std::string& value);

// ---- one file ----

struct Download {
    enum class Result { Verified, Stopped, Failed };
    Result result = Result::Failed;
    platform::FileHandle file = -1; // Verified: the open ".indir", for the installer to take over
    std::string error;              // Failed: the pass's message
};

// Fetches `entry` into path + ".indir" beside its target (its parent folders are created
// first), hashing every byte back from the file while the next ones arrive; `hash` is scratch space reused
// from file to file. Verified means exactly the listed size and hash, with the permission bits the target
// will need already set (platform::setInstalledFileMode).
//
// Patching: with `index` (the list's "# parcalar" line of the entry) and an old copy in
// the folder (the target, or an ".indir" of an interrupted run, first renamed aside to
// NAME.onceki.indir so it is never the file written), the index is fetched and checked
// against the line, the old copies are cut into chunks by the same rule, and the ".indir"
// is written in order from old chunks whose SHA-256 the index names and from the missing
// chunks, fetched as single ranges (adjacent ones merged) and each checked against the
// index as it arrives. Any failure of this path (index missing or not matching, a range
// answered with 200, wrong or short bytes on every mirror, a result that does not verify)
// takes back what it counted and ends in one whole download as below.
//
// Whole: every mirror from the current one in turn until one delivers the verified file;
// with all failed, the message of the first mirror in `mirrors.bases` order. Every byte
// written is added to status.bytesDone (reused ones included), every byte received to
// status.bytesFetched; what a failed attempt counted in bytesDone is taken back before
// the next mirror is tried.
//
// When the file is not patched, an earlier ".indir" of the player's (a regular file with
// one link, shorter than listed) is continued with a ranged fetch; its bytes count as done. When the server
// does not answer that range exactly, or the continued file does not verify, what that attempt counted is
// taken back and the file is fetched once more from zero. Anything else in the way of the ".indir" (a link, a
// file with a second name, an empty folder) is removed, and a folder with content is set aside whole under
// ".indir.eski".
//
// Failed, with the ".indir" gone: kErrTempFile + path when the ".indir" cannot be created
// (nothing is fetched then); kErrDownload + path + kErrBroken when the body was complete
// but of another size or hash, or went past the listed size (never written past it);
// kErrDownload + path + " (" + error word + ")" for any other failed fetch. Stopped, with
// the ".indir" gone, whenever status.stopRequested is set by the end. Worker thread only.
Download downloadFile(UpdateStatus& status, UpdateSource& source, const FileEntry& entry, Mirrors& mirrors,
                      const ChunkIndexRef* index, Sha256& hash);
