// process_probe.h - looking at processes a test did not start itself (a launcher that a
// launcher restarted): alive or not, its executable, its file locks; and signalling it.
#pragma once

#include "support/temp_folder.h"

#include <cerrno>
#include <filesystem>
#include <signal.h>
#include <sstream>
#include <string>

namespace testsupport {

// True while `pid` names a process that has not ended (a zombie counts as ended).
inline bool processAlive(int pid) {
    if (pid <= 0 || (::kill(pid, 0) != 0 && errno != EPERM)) return false;
    // "PID (name) S ...": the state letter follows the last ')'.
    const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    return close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] != 'Z';
}

// Sends `signalNumber` (kSigTerm, kSigKill of child_process.h) to `pid`.
inline void signalProcess(int pid, int signalNumber) {
    if (pid > 0) ::kill(pid, signalNumber);
}

// Target of /proc/PID/exe ("" when it cannot be read); it ends in " (deleted)" when the file
// the process runs was renamed over or removed.
inline std::string processExecutable(int pid) {
    std::error_code ec;
    auto target = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec);
    return ec ? std::string() : target.string();
}

enum class LockRole { None, Holds, Waits };
// What `pid` does with flock locks right now, from /proc/locks: waits for one (blocked in the
// kernel; said even when it also holds another), holds one, or neither. The lines read
// "1: FLOCK  ADVISORY  WRITE 4242 00:2a:17 0 EOF", a blocked request "1: -> FLOCK ...".
inline LockRole flockRole(int pid) {
    std::istringstream lines(readFile("/proc/locks"));
    LockRole role = LockRole::None;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string number, kind, advisory, mode;
        int owner = 0;
        words >> number >> kind;
        const bool waiting = kind == "->";
        if (waiting) words >> kind;
        if (kind != "FLOCK" || !(words >> advisory >> mode >> owner) || owner != pid) continue;
        if (waiting || role == LockRole::None) role = waiting ? LockRole::Waits : LockRole::Holds;
    }
    return role;
}

} // namespace testsupport
