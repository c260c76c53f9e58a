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
#include "platform/platform.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
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
constexpr int64_t kUnixToWindowsSeconds = 11644473600LL; // 1601-01-01 .. 1970-01-01
constexpr int64_t kTicksPerSecond = 10000000LL;          // 100 ns ticks
constexpr mode_t kNewFileMode = 0644;
constexpr mode_t kNewFolderMode = 0755;

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

// Spawns `program` (searched on PATH when `searchPath`) with stdio on /dev/null.
// Returns the child's id, or -1 when it could not start.
pid_t spawnQuiet(const std::string& program, const std::vector<std::string>& args, bool searchPath,
                 bool newSession) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    if (posix_spawn_file_actions_init(&actions) != 0) return -1;
    if (posix_spawnattr_init(&attr) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return -1;
    }
    bool ok = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0) == 0 &&
              posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0) == 0 &&
              posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0) == 0;
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
#ifdef POSIX_SPAWN_SETSID
    if (newSession) flags |= POSIX_SPAWN_SETSID;
#else
    (void)newSession;
#endif
    sigset_t noSignals;
    sigemptyset(&noSignals);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    ok = ok && posix_spawnattr_setflags(&attr, flags) == 0 &&
         posix_spawnattr_setsigmask(&attr, &noSignals) == 0 &&
         posix_spawnattr_setsigdefault(&attr, &defaults) == 0;
    pid_t pid = -1;
    if (ok) {
        std::vector<char*> argv = makeArgv(program, args);
        int rc = searchPath ? posix_spawnp(&pid, program.c_str(), &actions, &attr, argv.data(), environ)
                            : posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
        if (rc != 0) pid = -1;
    }
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
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

std::atomic<unsigned> tempCounter{0};

} // namespace

// ---- program and folders ----

const char* launcherFileName() {
    return kLauncherFileName;
}

std::string executablePath() {
    std::string buffer(PATH_MAX, '\0');
    for (;;) {
        ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return "";
        if (static_cast<size_t>(n) < buffer.size()) {
            buffer.resize(static_cast<size_t>(n));
            return buffer;
        }
        if (buffer.size() > (1u << 20)) return "";
        buffer.resize(buffer.size() * 2);
    }
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

bool replaceFile(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool deleteFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
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

bool listFolder(const std::string& folder, std::vector<std::string>& outNames) {
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
        outNames.emplace_back(name);
    }
    ::closedir(dir);
    return ok;
}

EntryType entryType(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return EntryType::Missing;
    if (S_ISREG(st.st_mode)) return EntryType::File;
    if (S_ISDIR(st.st_mode)) return EntryType::Folder;
    if (S_ISLNK(st.st_mode)) return EntryType::Link;
    return EntryType::Other;
}

bool writeFileAtomically(const std::string& path, const std::string& data) {
    if (path.empty()) return false;
    // The temporary name is unique per process and call, and sits in the same folder,
    // so the final rename never crosses a file system.
    std::string temp = path + ".yaz-" + std::to_string(static_cast<long>(::getpid())) + "-" +
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
    // Make the rename itself durable; a failure here does not undo it.
    int dirFd = ::open(parentFolder(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        closeQuietly(dirFd);
    }
    return true;
}

// ---- processes ----

bool startDetached(const std::string& executable, const std::vector<std::string>& args) {
    if (executable.empty()) return false;
    pid_t pid = spawnQuiet(executable, args, false, true);
    if (pid <= 0) return false;
    reapInBackground(pid);
    return true;
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

// ---- terminal ----

bool stderrIsTerminal() {
    return ::isatty(2) == 1;
}

} // namespace platform
