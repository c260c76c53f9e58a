// platform_posix.cpp - platform.h for Linux and other POSIX systems.
//
// Index
//   ---- tunables ----
//   ---- helpers ----
//   ---- program and folders ----
//   ---- files ----
//   ---- processes ----
//   ---- desktop ----
//   ---- terminal ----
//   ---- memory ----
//   ---- shared libraries ----
#include "platform/clock.h"
#include "platform/platform.h"
#include "platform/temporary_names.h"
#include "platform/text.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform {

// ---- tunables ----

namespace {

constexpr const char* kLauncherFileName = "MorlakenLauncher";
constexpr const char* kErrorCaption = "Morlaken Launcher";
constexpr const char* kWebOpener = "xdg-open";
constexpr const char* kDesktopEntryExtension = ".desktop";
constexpr int64_t kUnixToWindowsSeconds = 11644473600LL; // 1601-01-01 .. 1970-01-01
constexpr int64_t kTicksPerSecond = 10000000LL;          // 100 ns ticks
constexpr mode_t kNewFileMode = 0644;
constexpr mode_t kNewFolderMode = 0755;
constexpr auto kTerminatePollInterval = std::chrono::milliseconds(10);
constexpr int kFreshFileAttempts = 16;    // createFreshFile: tries while something keeps reappearing
constexpr mode_t kFreshFileMode = 0666;   // less the umask
constexpr mode_t kLockFileMode = 0600;    // only the player can open the update lock
constexpr mode_t kProgramFileMode = 0777; // less the umask

// ---- helpers ----

// Closes a descriptor, retrying never: on Linux the descriptor is gone even after EINTR.
void closeQuietly(int fd) {
    if (fd >= 0) ::close(fd);
}

// The child of a detached start is collected by a small thread of its own, so no
// zombie is left behind while the launcher keeps running.
void reapInBackground(pid_t pid) {
    try {
        std::thread([pid] {
            int status = 0;
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (...) {
        // Without a thread the child is collected when the launcher exits.
    }
}

// argv vector for posix_spawn; the strings are owned by `args`.
std::vector<char*> makeArgv(const std::string& program, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.reserve(args.size() + 2);
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    return argv;
}

// How a child is started; see spawnChild.
struct SpawnSetup {
    bool searchPath = false;
    bool quiet = true;
    bool newSession = false;
    std::string workingFolder;
    char** environment = nullptr; // nullptr = ours
};

// Spawns `program` as `setup` says. Returns the child's id, or -1 with `outError` set to
// the system's error number when it could not start.
pid_t spawnChild(const std::string& program, const std::vector<std::string>& args, const SpawnSetup& setup,
                 int& outError) {
    outError = 0;
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    if ((outError = posix_spawn_file_actions_init(&actions)) != 0) return -1;
    if ((outError = posix_spawnattr_init(&attr)) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return -1;
    }
    int rc = 0;
    if (setup.quiet) {
        if (rc == 0) rc = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        if (rc == 0) rc = posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        if (rc == 0) rc = posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    if (rc == 0 && !setup.workingFolder.empty())
        rc = posix_spawn_file_actions_addchdir_np(&actions, setup.workingFolder.c_str());
    // A started program gets standard input, output and error and nothing else: ENet and
    // libcurl open their sockets without close-on-exec, and the game must not hold the
    // launcher's link to the game server (nor a browser a download). (glibc 2.34 and later)
    if (rc == 0) rc = posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
#ifdef POSIX_SPAWN_SETSID
    if (setup.newSession) flags |= POSIX_SPAWN_SETSID;
#endif
    // The child starts with no blocked signals and the usual dispositions, whatever the
    // launcher did with its own.
    sigset_t noSignals;
    sigemptyset(&noSignals);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGHUP);
    if (rc == 0) rc = posix_spawnattr_setflags(&attr, flags);
    if (rc == 0) rc = posix_spawnattr_setsigmask(&attr, &noSignals);
    if (rc == 0) rc = posix_spawnattr_setsigdefault(&attr, &defaults);
    pid_t pid = -1;
    if (rc == 0) {
        std::vector<char*> argv = makeArgv(program, args);
        char** env = setup.environment ? setup.environment : environ;
        rc = setup.searchPath ? posix_spawnp(&pid, program.c_str(), &actions, &attr, argv.data(), env)
                              : posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), env);
    }
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        outError = rc;
        return -1;
    }
    return pid;
}

pid_t spawnQuiet(const std::string& program, const std::vector<std::string>& args, bool searchPath,
                 bool newSession) {
    SpawnSetup setup;
    setup.searchPath = searchPath;
    setup.newSession = newSession;
    int error = 0;
    return spawnChild(program, args, setup, error);
}

// Exit status as the launcher reports it: the code, or 128 + N after signal N.
int exitCodeOf(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

std::string baseNameOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Target of a symbolic link; "" when it cannot be read.
std::string readLink(const std::string& path) {
    std::string buffer(PATH_MAX, '\0');
    ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
    if (n <= 0 || static_cast<size_t>(n) >= buffer.size()) return "";
    buffer.resize(static_cast<size_t>(n));
    return buffer;
}

// Whole small file (a /proc entry); "" when it cannot be read.
std::string readSmallFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "";
    std::string out;
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        out.append(buffer, static_cast<size_t>(n));
        if (out.size() > (1u << 16)) break;
    }
    ::close(fd);
    return out;
}

// True when the process whose /proc folder is `procFolder` runs for this process's real
// user ("Uid:" of its status, first field). False when that cannot be read.
bool ownedByUs(const std::string& procFolder) {
    const std::string status = readSmallFile(procFolder + "/status");
    const size_t at = status.find("\nUid:");
    if (at == std::string::npos) return false;
    char* end = nullptr;
    const unsigned long uid = std::strtoul(status.c_str() + at + 5, &end, 10);
    return end != status.c_str() + at + 5 && uid == static_cast<unsigned long>(::getuid());
}

std::string homeFolder() {
    const char* home = std::getenv("HOME");
    return home ? home : "";
}

// True when an executable named `name` is found on PATH.
bool onPath(const char* name) {
    const char* path = std::getenv("PATH");
    if (!path) return false;
    std::string list = path;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(':', start);
        if (end == std::string::npos) end = list.size();
        std::string folder = list.substr(start, end - start);
        if (folder.empty()) folder = ".";
        std::string candidate = folder + "/" + name;
        struct stat st;
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

// Folder part of `path` ("." when it has none).
std::string parentFolder(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Process-wide by nature: two threads that write temporaries beside the same file at once
// must get different names, whoever owns the file.
std::atomic<unsigned> tempCounter{0};

// Makes renames in `folder` durable; failures are ignored (the rename itself stands).
void syncFolder(const std::string& folder) {
    int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        closeQuietly(dirFd);
    }
}

// The process's umask, read without changing it (umask(2) would, for a moment, for every
// thread): the "Umask:" line of /proc/self/status. -1 when it cannot be read.
int currentUmask() {
    const std::string status = readSmallFile("/proc/self/status");
    const std::string key = "\nUmask:";
    size_t at = status.find(key);
    if (at == std::string::npos) return -1;
    at += key.size();
    while (at < status.size() && (status[at] == ' ' || status[at] == '\t'))
        ++at;
    int mask = 0;
    size_t digits = 0;
    while (at < status.size() && status[at] >= '0' && status[at] <= '7' && digits < 4) {
        mask = mask * 8 + (status[at++] - '0');
        ++digits;
    }
    return digits > 0 ? mask : -1;
}

bool looksLikeProgram(const std::string& leading) {
    return leading.starts_with("\x7f"
                               "ELF") ||
           leading.starts_with("#!");
}

} // namespace

// ---- program and folders ----

const char* launcherFileName() {
    return kLauncherFileName;
}

std::string executablePath() {
    // Read by the first call only (a thread-safe static): see platform.h.
    static const std::string path = [] {
        std::string buffer(PATH_MAX, '\0');
        for (;;) {
            ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
            if (n < 0) return std::string();
            if (static_cast<size_t>(n) < buffer.size()) return buffer.substr(0, static_cast<size_t>(n));
            if (buffer.size() > (1u << 20)) return std::string();
            buffer.resize(buffer.size() * 2);
        }
    }();
    return path;
}

std::vector<std::string> programArguments(int argc, char** argv) {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
}

bool setWorkingFolder(const std::string& folder) {
    return !folder.empty() && ::chdir(folder.c_str()) == 0;
}

std::string fullPath(const std::string& path) {
    std::string input;
    if (path.empty() || path[0] != '/') {
        std::string cwd(PATH_MAX, '\0');
        while (::getcwd(cwd.data(), cwd.size()) == nullptr) {
            if (errno != ERANGE || cwd.size() > (1u << 20)) {
                cwd = "/";
                break;
            }
            cwd.resize(cwd.size() * 2);
        }
        cwd.resize(std::strlen(cwd.c_str()));
        input = cwd + "/" + path;
    } else {
        input = path;
    }
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= input.size()) {
        size_t end = input.find('/', start);
        if (end == std::string::npos) end = input.size();
        std::string part = input.substr(start, end - start);
        if (part.empty() || part == ".") {
            // repeated '/' and "." fold away
        } else if (part == "..") {
            if (!parts.empty()) parts.pop_back(); // ".." above the root stays at the root
        } else {
            parts.push_back(std::move(part));
        }
        start = end + 1;
    }
    if (parts.empty()) return "/";
    std::string out;
    for (const std::string& p : parts) {
        out += '/';
        out += p;
    }
    return out;
}

bool isAbsolutePath(const std::string& path) {
    return !path.empty() && path[0] == '/';
}

// ---- files ----

int64_t fileSize(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<int64_t>(st.st_size);
}

int64_t fileWriteTime(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return 0;
    return (static_cast<int64_t>(st.st_mtim.tv_sec) + kUnixToWindowsSeconds) * kTicksPerSecond +
           static_cast<int64_t>(st.st_mtim.tv_nsec) / 100;
}

bool regularFileFacts(const std::string& path, int64_t& outSize, int64_t& outWriteTime) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    outSize = static_cast<int64_t>(st.st_size);
    outWriteTime = (static_cast<int64_t>(st.st_mtim.tv_sec) + kUnixToWindowsSeconds) * kTicksPerSecond +
                   static_cast<int64_t>(st.st_mtim.tv_nsec) / 100;
    return true;
}

bool replaceFile(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) return false;
    syncFolder(parentFolder(to));
    return true;
}

bool deleteFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

bool removeEmptyFolder(const std::string& path) {
    return !path.empty() && ::rmdir(path.c_str()) == 0;
}

bool createFolders(const std::string& folder) {
    if (folder.empty()) return false;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = folder.find('/', pos + 1);
        std::string prefix = folder.substr(0, pos);
        if (prefix.empty()) continue;
        if (::mkdir(prefix.c_str(), kNewFolderMode) != 0 && errno != EEXIST) {
            // Keep going: the final check below is what counts (a later part may exist).
        }
    }
    struct stat st;
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

EntryType entryType(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return EntryType::Missing;
    if (S_ISREG(st.st_mode)) return EntryType::File;
    if (S_ISDIR(st.st_mode)) return EntryType::Folder;
    if (S_ISLNK(st.st_mode)) return EntryType::Link;
    return EntryType::Other;
}

bool listFolderEntries(const std::string& folder, std::vector<FolderEntry>& outEntries) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return false;
    bool ok = true;
    for (;;) {
        errno = 0;
        struct dirent* entry = ::readdir(dir);
        if (!entry) {
            ok = errno == 0;
            break;
        }
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        EntryType type = EntryType::Other;
        switch (entry->d_type) {
        case DT_REG:
            type = EntryType::File;
            break;
        case DT_DIR:
            type = EntryType::Folder;
            break;
        case DT_LNK:
            type = EntryType::Link;
            break;
        case DT_UNKNOWN: // a file system that keeps no type in its folders
            type = entryType(folder + "/" + name);
            break;
        default:
            break;
        }
        outEntries.push_back(FolderEntry{name, type});
    }
    ::closedir(dir);
    return ok;
}

bool fileIdentity(const std::string& path, FileIdentity& out) {
    struct stat st;
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return false;
    out = FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    return true;
}

std::FILE* openForReading(const std::string& path, int64_t offset) {
    std::FILE* file = std::fopen(path.c_str(), "rbe"); // "e": close-on-exec
    if (file && offset != 0 && ::fseeko(file, static_cast<off_t>(offset), SEEK_SET) != 0) {
        std::fclose(file);
        return nullptr;
    }
    return file;
}

bool readWholeFile(const std::string& path, std::string& outBytes) {
    outBytes.clear();
    std::FILE* file = std::fopen(path.c_str(), "rbe"); // "e": close-on-exec
    if (!file) return false;
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        outBytes.append(buffer, n);
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

bool writeFileAtomically(const std::string& path, const std::string& data) {
    if (path.empty()) return false;
    // The temporary name is unique per process and call, and sits in the same folder,
    // so the final rename never crosses a file system.
    std::string temp = path + kTemporaryMark + std::to_string(static_cast<long>(::getpid())) + "-" +
                       std::to_string(tempCounter.fetch_add(1));
    mode_t mode = kNewFileMode;
    struct stat old;
    if (::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode)) mode = old.st_mode & 07777;
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) return false;
    bool ok = true;
    const char* p = data.data();
    size_t left = data.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    if (ok && ::fsync(fd) != 0) ok = false;
    if (::close(fd) != 0) ok = false;
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0) ok = false;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    syncFolder(parentFolder(path)); // the rename itself made durable; a failure does not undo it
    return true;
}

bool flushFileToDisk(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = ::fsync(fd) == 0;
    closeQuietly(fd);
    return ok;
}

FileHandle createFreshFile(const std::string& path) {
    if (path.empty()) return -1;
    for (int attempt = 0; attempt < kFreshFileAttempts; ++attempt) {
        // O_EXCL never opens what is there and never follows a link, not even a dangling one.
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFreshFileMode);
        if (fd >= 0) return fd;
        if (errno == EINTR) continue;
        if (errno != EEXIST) return -1;
        struct stat st;
        if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return -1;
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) return -1; // the link itself goes
    }
    return -1;
}

FileHandle createOwnerOnlyFile(const std::string& path) {
    if (path.empty()) return -1;
    int fd;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0 && ::fchmod(fd, S_IRUSR | S_IWUSR) != 0) { // whatever the umask allowed
        ::close(fd);
        ::unlink(path.c_str());
        return -1;
    }
    return fd;
}

FileHandle openForAppend(const std::string& path) {
    if (path.empty()) return -1;
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    // A fifo or device is no download; a second link could be any file of this user's
    // (hard-linked in by someone with access to the folder), another owner's file can be
    // changed by that owner after it was verified.
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 || st.st_uid != ::geteuid()) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool writeToFile(FileHandle file, const void* data, size_t count) {
    if (file < 0) return false;
    const char* p = static_cast<const char*>(data);
    while (count > 0) {
        ssize_t n = ::write(static_cast<int>(file), p, count);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

int64_t readFileAt(FileHandle file, int64_t offset, void* data, size_t count) {
    if (file < 0 || offset < 0) return -1;
    for (;;) {
        const ssize_t n = ::pread(static_cast<int>(file), data, count, static_cast<off_t>(offset));
        if (n >= 0) return n;
        if (errno != EINTR) return -1;
    }
}

bool setInstalledFileMode(FileHandle file, const std::string& target, const std::string& leadingBytes) {
    if (file < 0) return false;
    mode_t mode = 0;
    struct stat old;
    if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        mode = old.st_mode & 07777;
    } else {
        int mask = currentUmask();
        if (mask < 0) {
            // The fresh file was created 0666 less the umask: its bits tell the umask's r/w part.
            struct stat self;
            if (::fstat(static_cast<int>(file), &self) != 0) return false;
            mode = self.st_mode & 0666;
            if (looksLikeProgram(leadingBytes)) mode |= (mode & 0444) >> 2;
        } else {
            mode = (looksLikeProgram(leadingBytes) ? kProgramFileMode : kFreshFileMode) &
                   ~static_cast<mode_t>(mask);
        }
    }
    return ::fchmod(static_cast<int>(file), mode) == 0;
}

void startWriteBack(FileHandle file) {
    if (file >= 0) ::sync_file_range(static_cast<int>(file), 0, 0, SYNC_FILE_RANGE_WRITE); // a hint only
}

bool closeFile(FileHandle file, bool flushToDisk) {
    if (file < 0) return false;
    bool ok = !flushToDisk || ::fsync(static_cast<int>(file)) == 0;
    if (::close(static_cast<int>(file)) != 0) ok = false;
    return ok;
}

namespace {
// A lock wait that the caller may give up: the helper thread blocks in flock and owns the
// descriptor until the caller takes it; a caller that gave up leaves the helper to close it
// (releasing the lock at once if it was granted after all).
struct LockWait {
    std::mutex mutex;
    std::condition_variable cue;
    int fd = -1;
    bool finished = false; // the helper's flock returned
    bool granted = false;
    bool abandoned = false; // the caller gave up; the helper closes fd
};

void waitForLock(std::shared_ptr<LockWait> wait) {
    int rc;
    do {
        rc = ::flock(wait->fd, LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    std::lock_guard<std::mutex> lock(wait->mutex);
    wait->finished = true;
    wait->granted = rc == 0;
    if (wait->abandoned || !wait->granted) {
        closeQuietly(wait->fd);
        wait->fd = -1;
    }
    wait->cue.notify_all();
}
} // namespace

namespace {
// The folder's lock file, open: created 0600 when missing; anything else found under its
// name that this user could not rely on (a link, not a regular file, another owner, bits
// for others) is removed and the file made afresh. -1 when none can be had.
int openLockFile(const std::string& folder) {
    const std::string path = (folder.empty() ? std::string(".") : folder) + "/" + kFolderLockFile;
    for (int attempt = 0; attempt < kFreshFileAttempts; ++attempt) {
        int fd =
            ::open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, kLockFileMode);
        if (fd < 0 && errno == EINTR) continue;
        if (fd >= 0) {
            struct stat st;
            if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
                (st.st_mode & 0077) == 0)
                return fd;
            closeQuietly(fd);
        } else if (errno != ELOOP && errno != EACCES) {
            return -1; // a read-only file system, a folder of that name, ...
        }
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) return -1; // a link goes, not its target
    }
    return -1;
}
} // namespace

FolderLock lockFolder(const std::string& folder, const std::atomic<bool>& stop) {
    int fd = openLockFile(folder);
    if (fd < 0) return kFolderLockUnsupported;
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) return fd;
    if (errno != EWOULDBLOCK) {
        closeQuietly(fd);
        return kFolderLockUnsupported; // e.g. a network file system that cannot lock
    }
    auto wait = std::make_shared<LockWait>();
    wait->fd = fd;
    try {
        std::thread(waitForLock, wait).detach();
    } catch (...) {
        // No thread to wait in: block right here, without the stop check.
        do {
            rc = ::flock(fd, LOCK_EX);
        } while (rc != 0 && errno == EINTR);
        if (rc == 0) return fd;
        closeQuietly(fd);
        return -1;
    }
    std::unique_lock<std::mutex> lock(wait->mutex);
    while (!wait->finished) {
        if (stop.load()) {
            wait->abandoned = true;
            return -1;
        }
        wait->cue.wait_for(lock, std::chrono::milliseconds(kLockStopCheckMs));
    }
    if (!wait->granted) return -1; // the helper closed the descriptor
    return wait->fd;
}

void unlockFolder(FolderLock lock) {
    if (lock >= 0) closeQuietly(static_cast<int>(lock)); // closing the descriptor releases flock
}

bool isAbandonedWriteTemporary(const std::string& name) {
    if (!isAtomicWriteTemporary(name)) return false;
    const int64_t pid = atomicWriteTemporaryWriter(name);
    if (pid <= 0 || pid > INT_MAX) return true;
    if (pid == ::getpid()) return false; // one of ours: a save of this very process may be running
    return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

// ---- processes ----

bool startDetached(const std::string& executable, const std::vector<std::string>& args) {
    if (executable.empty()) return false;
    pid_t pid = spawnQuiet(executable, args, false, true);
    if (pid <= 0) return false;
    reapInBackground(pid);
    return true;
}

ProcessId startProcess(const std::string& executable, const std::vector<std::string>& args,
                       const ProcessOptions& options, int& outErrorCode) {
    outErrorCode = 0;
    if (executable.empty()) {
        outErrorCode = ENOENT;
        return 0;
    }
    // The child's environment: ours with the extra variables added or replaced.
    std::vector<std::string> text;
    for (char** e = environ; e && *e; ++e) {
        std::string entry = *e;
        size_t eq = entry.find('=');
        std::string name = entry.substr(0, eq);
        bool replaced = false;
        for (const auto& extra : options.extraEnvironment)
            if (extra.first == name) replaced = true;
        if (!replaced) text.push_back(std::move(entry));
    }
    for (const auto& extra : options.extraEnvironment)
        text.push_back(extra.first + "=" + extra.second);
    std::vector<char*> env;
    env.reserve(text.size() + 1);
    for (std::string& t : text)
        env.push_back(t.data());
    env.push_back(nullptr);

    SpawnSetup setup;
    setup.quiet = options.quiet;
    setup.newSession = options.newSession;
    setup.workingFolder = options.workingFolder;
    setup.environment = env.data();
    pid_t pid = spawnChild(executable, args, setup, outErrorCode);
    // The environment copy may hold a ticket: wipe it before the memory goes back.
    for (std::string& t : text)
        wipeText(t);
    if (pid <= 0) {
        if (outErrorCode == 0) outErrorCode = EINVAL;
        return 0;
    }
    return static_cast<ProcessId>(pid);
}

ProcessPoll pollProcess(ProcessId process, int& outExitCode) {
    outExitCode = 0;
    if (process <= 0) return ProcessPoll::Failed;
    int status = 0;
    for (;;) {
        pid_t r = ::waitpid(static_cast<pid_t>(process), &status, WNOHANG);
        if (r == 0) return ProcessPoll::Running;
        if (r == static_cast<pid_t>(process)) {
            outExitCode = exitCodeOf(status);
            return ProcessPoll::Exited;
        }
        if (errno != EINTR) return ProcessPoll::Failed;
    }
}

int terminateProcess(ProcessId process, double graceSeconds) {
    if (process <= 0) return -1;
    const pid_t pid = static_cast<pid_t>(process);
    int code = 0;
    ProcessPoll state = pollProcess(process, code);
    if (state == ProcessPoll::Exited) return code;
    if (state == ProcessPoll::Failed) return -1;
    ::kill(pid, SIGTERM);
    const double deadline = now() + (graceSeconds > 0 ? graceSeconds : 0);
    while (now() < deadline) {
        state = pollProcess(process, code);
        if (state == ProcessPoll::Exited) return code;
        if (state == ProcessPoll::Failed) return -1;
        std::this_thread::sleep_for(kTerminatePollInterval);
    }
    ::kill(pid, SIGKILL);
    int status = 0;
    for (;;) {
        pid_t r = ::waitpid(pid, &status, 0);
        if (r == pid) return exitCodeOf(status);
        if (r < 0 && errno != EINTR) return -1;
    }
}

bool isProgramRunning(const std::string& baseName) {
    if (baseName.empty()) return false;
    DIR* dir = ::opendir("/proc");
    if (!dir) return false;
    bool found = false;
    while (!found) {
        struct dirent* entry = ::readdir(dir);
        if (!entry) break;
        const char* name = entry->d_name;
        bool numeric = *name != '\0';
        for (const char* c = name; *c; ++c)
            if (*c < '0' || *c > '9') numeric = false;
        if (!numeric) continue;
        const std::string base = std::string("/proc/") + name;
        if (!ownedByUs(base)) continue;
        std::string exe = readLink(base + "/exe");
        const std::string_view deleted = " (deleted)";
        if (exe.size() > deleted.size() && exe.ends_with(deleted)) exe.resize(exe.size() - deleted.size());
        if (exe.empty()) {
            // One that changed its credentials hides its executable, not its command line.
            std::string cmdline = readSmallFile(base + "/cmdline");
            exe = cmdline.substr(0, cmdline.find('\0'));
        }
        if (!exe.empty() && equalsIgnoringCase(baseNameOf(exe), baseName)) found = true;
    }
    ::closedir(dir);
    return found;
}

bool pathExists(const std::string& path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

void lowerThreadPriority() {
    constexpr int kBackgroundNice = 19; // the lowest: the window's threads always come first
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kBackgroundNice);
}

// ---- desktop ----

void openWebAddress(const std::string& address) {
    if (address.empty()) return;
    pid_t pid = spawnQuiet(kWebOpener, {address}, true, true);
    if (pid > 0) reapInBackground(pid);
}

void showErrorBox(const std::string& text) {
    std::string line = text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);

    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((!display || !*display) && (!wayland || !*wayland)) return;

    std::string program;
    std::vector<std::string> args;
    if (onPath("zenity")) {
        program = "zenity";
        args = {"--error", "--no-markup", std::string("--title=") + kErrorCaption, "--text=" + text};
    } else if (onPath("kdialog")) {
        program = "kdialog";
        args = {"--title", kErrorCaption, "--error", text};
    } else if (display && *display && onPath("xmessage")) {
        program = "xmessage";
        args = {"-title", kErrorCaption, "-center", "-buttons", "OK:0", text};
    } else {
        return;
    }
    pid_t pid = spawnQuiet(program, args, true, false);
    if (pid <= 0) return;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

std::string desktopFolder() {
    std::string folder;
    const char* direct = std::getenv("XDG_DESKTOP_DIR");
    if (direct && *direct) {
        folder = direct;
    } else {
        const char* configHome = std::getenv("XDG_CONFIG_HOME");
        std::string dirsFile =
            (configHome && *configHome ? std::string(configHome) : homeFolder() + "/.config") +
            "/user-dirs.dirs";
        std::string text = readSmallFile(dirsFile);
        size_t pos = 0;
        while (pos < text.size() && folder.empty()) {
            size_t end = text.find('\n', pos);
            if (end == std::string::npos) end = text.size();
            std::string line = text.substr(pos, end - pos);
            pos = end + 1;
            const std::string key = "XDG_DESKTOP_DIR=";
            size_t at = line.find_first_not_of(" \t");
            if (at == std::string::npos || line.compare(at, key.size(), key) != 0) continue;
            std::string value = line.substr(at + key.size());
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
                value = value.substr(1, value.size() - 2);
            if (value.starts_with("$HOME")) value = homeFolder() + value.substr(5);
            folder = value;
        }
        if (folder.empty() && !homeFolder().empty()) folder = homeFolder() + "/Desktop";
    }
    struct stat st;
    if (folder.empty() || ::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return "";
    return folder;
}

bool makeExecutable(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    mode_t mode = st.st_mode & 07777;
    mode |= (mode & 0444) >> 2; // r -> x for owner, group and others
    return ::chmod(path.c_str(), mode) == 0;
}

namespace {

// A string value of a desktop entry: '\' and control characters escaped.
std::string entryValue(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

// One Exec argument: in double quotes when it holds a reserved character, with '"', '`',
// '$' and '\' escaped inside; '%' doubled (field codes). The result is then a string value,
// so its backslashes are escaped once more by entryValue.
std::string execArgument(std::string_view path) {
    static constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
    std::string arg;
    bool quote = false;
    for (char c : path) {
        if (kReserved.find(c) != std::string_view::npos) quote = true;
        if (c == '"' || c == '`' || c == '$' || c == '\\') arg += '\\';
        if (c == '%') arg += '%';
        arg += c;
    }
    // No reserved character: nothing was escaped except '%'.
    return quote ? "\"" + arg + "\"" : arg;
}

} // namespace

const char* desktopShortcutExtension() {
    return kDesktopEntryExtension;
}

bool saveDesktopShortcut(const DesktopShortcut& shortcut) {
    if (shortcut.target.empty()) return false;
    const std::string desktop = desktopFolder();
    if (desktop.empty()) return false;
    const std::string path = desktop + "/" + shortcut.name + kDesktopEntryExtension;
    const std::string text = "[Desktop Entry]\n"
                             "Type=Application\n"
                             "Name=" +
                             entryValue(shortcut.name) + "\nComment=" + entryValue(shortcut.description) +
                             "\nExec=" + entryValue(execArgument(shortcut.target)) +
                             "\nPath=" + entryValue(shortcut.workingFolder) +
                             "\nIcon=" + entryValue(shortcut.iconImage) +
                             "\nTerminal=false\nCategories=Game;\n";
    return writeFileAtomically(path, text) && makeExecutable(path);
}

// ---- terminal ----

bool stderrIsTerminal() {
    return ::isatty(2) == 1;
}

void useUtf8Console() {} // terminals here take the bytes as they are

void exitNow(int exitCode) {
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(exitCode);
}

int64_t processId() {
    return static_cast<int64_t>(::getpid());
}

// ---- memory ----

void releaseFreeMemory() {
    ::malloc_trim(0);
}

// ---- shared libraries ----

Library openLibrary(const char* fileName) {
    // Its symbols stay out of the global scope: they are only reached through
    // libraryFunction.
    return ::dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
}

void* libraryFunction(Library library, const char* name) {
    return library ? ::dlsym(library, name) : nullptr;
}

} // namespace platform
