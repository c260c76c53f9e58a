// platform.h - every operating-system call the launcher makes, declared once.
//
// Shared code never includes an OS header; it calls these functions instead.
// platform_posix.cpp implements them for Linux (a platform_win32.cpp with the same
// functions in the same order can sit beside it). Results are normalised: bool, -1,
// 0 or an enum, never a raw errno. Paths are UTF-8 byte strings; '/' separates.
//
// Index
//   ---- program and folders ----
//   ---- files ----
//   ---- processes ----
//   ---- desktop ----
//   ---- terminal ----
//   ---- memory ----
//   ---- shared libraries ----
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// ---- program and folders ----

// The launcher's own file name in the game folder and in the file list:
// "MorlakenLauncher" here ("MorlakenLauncher.exe" in the Windows build). The update
// worker compares list paths with it byte for byte to know when to restart.
const char* launcherFileName();

// Absolute path of the running executable (readlink of /proc/self/exe), read once, by the
// first call, and the same text on every later call: once an update has renamed a new
// file over the running one, the link names ".../MorlakenLauncher (deleted)", while the
// self-restart must start the file that now sits at the original place. The launcher
// makes the first call first thing at start-up. "" when it could not be read. Any thread.
std::string executablePath();

// The program's arguments argv[1..] as UTF-8: argv itself here; on Windows read again from
// the wide command line (argv holds the ANSI code page's guesses at any other letter).
std::vector<std::string> programArguments(int argc, char** argv);

// Makes `folder` the process's working folder. Returns false on failure.
// Main thread only, before any other thread starts (the working folder is process-wide).
bool setWorkingFolder(const std::string& folder);

// Absolute, lexically normalised form of `path` (".", ".." and repeated '/' folded;
// relative paths are taken against the working folder). Nothing is read from disk.
std::string fullPath(const std::string& path);

// True when `path` names its place without the working folder: it starts with '/' (on
// Windows also '\', a drive such as "C:/" or "C:\", or a share). Nothing is read from disk.
bool isAbsolutePath(const std::string& path);

// ---- files ----

// Size in bytes when `path` names a regular file (symbolic links followed); -1 when it
// is missing, not a regular file, or cannot be read. Any thread.
int64_t fileSize(const std::string& path);

// Last-write time of `path` (links followed) as 100-nanosecond ticks since
// 1601-01-01 00:00 UTC, the Windows file-time scale, so cached times compare like
// with like on every platform. 0 when it cannot be read. Any thread.
int64_t fileWriteTime(const std::string& path);

// fileSize and fileWriteTime of `path` from one look at the file: true with both when it
// is a regular file (links followed), false otherwise with the outputs untouched. Any
// thread.
bool regularFileFacts(const std::string& path, int64_t& outSize, int64_t& outWriteTime);

// Renames `from` to `to`, atomically replacing an existing `to` (rename(2)), then syncs
// the folder of `to` so the new name survives a power cut. Returns false when the rename
// failed; `from` is then left where it was (a failed folder sync does not undo it).
// Any thread.
bool replaceFile(const std::string& from, const std::string& to);

// Deletes one file. Returns false when it could not be deleted (missing included).
bool deleteFile(const std::string& path);

// Removes `path` when it is an empty folder (rmdir: a link is never followed, a folder
// with anything in it is left whole). False when nothing was removed. Any thread.
bool removeEmptyFolder(const std::string& path);

// Creates `folder` and every missing ancestor (mkdir -p). Returns true when the folder
// exists afterwards.
bool createFolders(const std::string& folder);

// What `path` itself is, links not followed: a symbolic link reports `Link` whatever it
// points at (fileSize tells whether it leads to a regular file). Any thread.
enum class EntryType { Missing, File, Folder, Link, Other };
EntryType entryType(const std::string& path);

// The entries of `folder` (names, not paths), without "." and "..", in no particular
// order, not descending, each with what entryType says of it, read from the folder
// listing itself where the file system tells (so a walk of a large tree makes no call per
// entry) and asked of the entry only where it does not. Returns false when the folder
// cannot be listed; `outEntries` then holds what was read before the failure. Any thread.
struct FolderEntry {
    std::string name;
    EntryType type = EntryType::Missing;
};
bool listFolderEntries(const std::string& folder, std::vector<FolderEntry>& outEntries);

// The names alone, as listFolderEntries reads them.
inline bool listFolder(const std::string& folder, std::vector<std::string>& outNames) {
    std::vector<FolderEntry> entries;
    const bool ok = listFolderEntries(folder, entries);
    for (FolderEntry& entry : entries)
        outNames.push_back(std::move(entry.name));
    return ok;
}

// Which file `path` names (links followed): the same for every name it has, hard links,
// links to it and other spellings of the path included. False when it cannot be read.
// Any thread.
struct FileIdentity {
    uint64_t volume = 0;
    uint64_t index = 0;
    bool operator==(const FileIdentity&) const = default;
};
bool fileIdentity(const std::string& path, FileIdentity& out);

// Opens `path` for reading bytes (fopen with "rb"; on Windows through the wide call, so a
// path with any letter opens), positioned `offset` bytes in (64-bit on every platform).
// nullptr when it cannot be opened or positioned. Close with std::fclose. Any thread.
std::FILE* openForReading(const std::string& path, int64_t offset = 0);

// The whole content of the file at `path` into `outBytes`. False when it cannot be opened
// or read to its end (`outBytes` then holds what was read). Any thread.
bool readWholeFile(const std::string& path, std::string& outBytes);

// Writes `data` to a temporary file beside `path`, flushes it to disk and renames it
// over `path`, so a crash leaves either the old or the new content, never a cut file.
// Returns false when any step failed; the old file is then untouched.
bool writeFileAtomically(const std::string& path, const std::string& data);

// Forces the content of an already written and closed file to the disk (fsync), so a
// rename that follows can never leave a renamed but empty file after a power cut.
// Returns false when the file cannot be opened or the flush fails. Any thread.
bool flushFileToDisk(const std::string& path);

// True when `name` (a file name or path) has the form of writeFileAtomically's
// temporary files ("<target>.yaz-<process>-<counter>"): what a crash mid-write leaves
// behind, never content of its own. Any thread.
bool isAtomicWriteTemporary(const std::string& name);

// A file open for writing, made by createFreshFile. -1 = none.
using FileHandle = int64_t;

// Creates `path` afresh for writing, empty, with read and write for everyone the umask
// allows. Whatever non-folder entry already has that name - a file left by a killed run,
// a symbolic link planted there - is replaced, never followed or opened, so the bytes can
// only land in a new file at that very place (links in the folders above it are followed
// as usual). Returns -1 when it cannot be created. Close with closeFile. Any thread.
FileHandle createFreshFile(const std::string& path);

// Creates `path` as a new file that only its owner may read or write (a secret key). An
// existing entry of that name is never replaced or followed: -1 then, as on any failure.
FileHandle createOwnerOnlyFile(const std::string& path);

// Opens an existing regular file for appending (a download resumed where a killed run
// stopped): never through a symbolic link, and only a regular file with no other name
// (one link) that this user owns, as checked on what was opened, so the check and the
// writes meet the same file and no file elsewhere can be written through a hard link.
// -1 for anything else. Close with closeFile. Any thread.
FileHandle openForAppend(const std::string& path);

// Writes all `count` bytes at the end of the file. False on any failure. Any thread.
bool writeToFile(FileHandle file, const void* data, size_t count);

// Reads up to `count` bytes from `offset` of a file made by createFreshFile or
// openForAppend, without moving where writeToFile writes, so one thread can read back
// what another is still writing. The number of bytes read (0 at the end of the file);
// -1 on failure. Any thread.
int64_t readFileAt(FileHandle file, int64_t offset, void* data, size_t count);

// Sets the permission bits an installed file gets before it is renamed into place at
// `target`: when `target` is a regular file (links followed), its bits, so a replaced
// program stays runnable and a private file stays private; otherwise read and execute
// for everyone the umask allows when `leadingBytes` (the first bytes of the verified
// content) begins with an ELF header or "#!", else read for everyone the umask allows
// (write for the owner as the umask gives it). The name decides nothing. False when the
// bits could not be set. Any thread.
bool setInstalledFileMode(FileHandle file, const std::string& target, const std::string& leadingBytes);

// How many leading content bytes setInstalledFileMode looks at.
inline constexpr size_t kInstalledModeProbeBytes = 4;

// Starts writing the file's changed bytes to the disk without waiting for them, so a
// flush that follows (closeFile with `flushToDisk`) finds little left to write. Does
// nothing where the system has no such call. Any thread.
void startWriteBack(FileHandle file);

// Closes the file; with `flushToDisk` its content is forced to the disk first (fsync), so
// a rename that follows can never leave a renamed but empty file after a power cut.
// False when the flush or the close failed (the handle is spent either way). Any thread.
bool closeFile(FileHandle file, bool flushToDisk);

// An exclusive lock on a folder, held from lockFolder to unlockFolder. -1 = none.
using FolderLock = int64_t;

// The lock file lockFolder keeps in the folder (the Windows build keeps none). It stays
// there: file lists never name it and clean-ups leave it.
inline constexpr const char* kFolderLockFile = "guncelleme.kilit";

// Takes the exclusive update lock of `folder`: flock on its kFolderLockFile, a regular
// file that only this user can open (created 0600; a link there is removed, never
// followed, and so is a file of another owner or with wider bits), so no other user can
// hold the lock and stall the pass. Every path to the same folder, links included, meets
// the same lock; the lock ends with the process, however it ends. When another process or
// thread holds it, waits in the kernel until it is released; every kLockStopCheckMs the
// wait looks at `stop` and gives up when it is set, returning -1. When no lock file can
// be had (a read-only folder) or the file system cannot lock, returns
// kFolderLockUnsupported and the caller goes on unlocked. Any thread; the caller must
// call unlockFolder exactly once for a result >= 0.
FolderLock lockFolder(const std::string& folder, const std::atomic<bool>& stop);
inline constexpr FolderLock kFolderLockUnsupported = -2;
inline constexpr int kLockStopCheckMs = 50;
void unlockFolder(FolderLock lock);

// True when `name` (a file name or path) is a writeFileAtomically temporary whose writer
// process no longer runs: the leftover of an interrupted save, safe to delete. A
// temporary of a live process (another launcher saving its settings right now) is not.
bool isAbandonedWriteTemporary(const std::string& name);

// ---- processes ----

// Every program started here (the game, the local server, the self-restart, the browser,
// a dialog program) gets standard input, output and error and no other descriptor or
// handle of the launcher's, whether or not that was opened close-on-exec.

// Starts `executable` with `args` (argv[1..]) detached from this process: its own
// session, stdio on /dev/null, not waited for. Returns false when it could not start.
// Main thread only.
bool startDetached(const std::string& executable, const std::vector<std::string>& args);

// A started child that this process waits for (the game, the local server). 0 = none.
using ProcessId = int64_t;

struct ProcessOptions {
    // Added to (or replacing in) a copy of the launcher's environment for the child only;
    // the launcher's own environment is never changed, so a ticket never sits in it.
    std::vector<std::pair<std::string, std::string>> extraEnvironment;
    std::string workingFolder; // "" = the launcher's working folder
    bool quiet = true;         // stdio on /dev/null; false = the launcher's own stdio (console)
    bool newSession = false;   // its own session, so terminal signals to the launcher miss it
};

// Starts `executable` (a path, not searched on PATH) with `args` as argv[1..]. Returns the
// child's id, or 0 when it could not start; `outErrorCode` is then the system's error
// number (for the player's message), else 0. The child must be collected with
// pollProcess or terminateProcess. Main thread only.
ProcessId startProcess(const std::string& executable, const std::vector<std::string>& args,
                       const ProcessOptions& options, int& outErrorCode);

enum class ProcessPoll { Running, Exited, Failed };

// Looks at a started child without waiting. `Exited`: `outExitCode` is its exit status,
// or 128 + N when signal N ended it; the id is spent afterwards. `Failed`: the id is not
// (or no longer) a child of this process. Main thread only.
ProcessPoll pollProcess(ProcessId process, int& outExitCode);

// Asks a started child to end (SIGTERM), waits up to `graceSeconds` for it, then kills it
// (SIGKILL) and collects it. Returns its exit code as pollProcess reports it, or -1 when
// the id was not a child. Main thread only.
int terminateProcess(ProcessId process, double graceSeconds);

// True when some running process of this user (real user id, here; the token's user on
// Windows) has an executable with `baseName` as its file name, compared ignoring ASCII
// letter case ("morlaken_server" finds "Morlaken_Server"). Another user's process never
// counts, whatever its name. Processes whose executable cannot be read are judged by the
// first word of their command line. False for an empty name. Any thread.
bool isProgramRunning(const std::string& baseName);

// True when `path` names anything at all (links followed): the "is the game there" check.
bool pathExists(const std::string& path);

// Lowers the calling thread's scheduling priority below the window's, so background work
// (an update pass: its transfer, hashing and installs) takes what the frame loop leaves of
// the cores and the window stays smooth. Best effort: nothing happens where the system
// refuses. Any thread, for itself.
void lowerThreadPriority();

// ---- desktop ----

// Hands a web address to the desktop's browser (xdg-open, started without a shell, the
// address as its one argument). The result of the browser start is not examined.
// Main thread only.
void openWebAddress(const std::string& address);

// Start-up error: writes `text` and a line feed to standard error, then shows a modal
// dialog with the caption "Morlaken Launcher" when a dialog program (zenity, kdialog,
// xmessage) is installed and a display is available; waits for it to be dismissed.
void showErrorBox(const std::string& text);

// The player's desktop folder: $XDG_DESKTOP_DIR, else XDG_DESKTOP_DIR from
// user-dirs.dirs ($XDG_CONFIG_HOME or ~/.config; "$HOME" expanded), else ~/Desktop.
// "" when the chosen folder does not exist (nothing is to be written then). Main thread.
std::string desktopFolder();

// Adds execute permission wherever read permission is set (a desktop entry must be
// executable to be trusted). Returns false on failure.
bool makeExecutable(const std::string& path);

// A shortcut on the player's desktop that starts a program with no arguments.
struct DesktopShortcut {
    std::string name;          // shown under the icon; the file's name without its ending
    std::string target;        // absolute path of the program
    std::string workingFolder; // the folder the program starts in
    std::string iconImage;     // a picture file (desktop entries); a shell link shows the target's first icon
    std::string description;   // the tooltip
};

// How a desktop shortcut's file name ends: ".desktop" here (a desktop entry), ".lnk" in the
// Windows build (a shell link).
const char* desktopShortcutExtension();

// Saves `shortcut` in desktopFolder() as its name followed by desktopShortcutExtension(),
// replacing a file of that name. Here a desktop entry (Exec quoted by the desktop entry
// rules, so a path with blanks or quotes stays one argument), written atomically and made
// executable; on Windows a shell link saved by the shell itself. False when nothing was
// saved: no desktop folder, an empty target, or any step failed. Main thread.
bool saveDesktopShortcut(const DesktopShortcut& shortcut);

// ---- terminal ----

// True when standard error is a terminal (progress lines are only drawn there). Any thread.
bool stderrIsTerminal();

// Makes a console show this program's UTF-8 output as the characters it means (a Windows
// console otherwise reads it in the OEM code page); nothing to do elsewhere. Call it first
// thing in main.
void useUtf8Console();

// Flushes standard output and error and ends the process with `exitCode` at once, running
// no exit handlers and no static destructors: the way out while a detached thread may
// still be inside the HTTP or TLS library, whose exit-time cleanup would free what that
// thread is using. Main thread.
[[noreturn]] void exitNow(int exitCode);

// This process's id (written to the test hook's file). Any thread.
int64_t processId();

// ---- memory ----

// Hands the heap's free pages back to the system (malloc_trim), so memory that start-up
// used and freed (decoded images, glyph bitmaps, the graphics driver's compiler) stops
// counting as resident. Takes a few milliseconds; call it once start-up is over. Any thread.
void releaseFreeMemory();

// ---- shared libraries ----

// A shared library opened at run time; null when none.
using Library = void*;

// Opens the shared library `fileName` (found the system's usual way: "libcurl.so.4",
// "wininet.dll"), with what it needs, and keeps it for the rest of the process; opening it
// again gives the same library. Null when it cannot be loaded. Any thread.
Library openLibrary(const char* fileName);

// The address of the function `name` in `library` or in a library it brought in; null when
// there is none. Any thread.
void* libraryFunction(Library library, const char* name);

} // namespace platform
