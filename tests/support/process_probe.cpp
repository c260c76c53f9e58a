// process_probe.cpp - /proc and kill for processes the test did not start.
#include "support/process_probe.h"

#include "support/temp_folder.h"

#include <cerrno>
#include <filesystem>
#include <sstream>

#include <signal.h>

namespace testsupport {

bool processAlive(int pid) {
    if (pid <= 0) return false;
    if (::kill(pid, 0) != 0 && errno != EPERM) return false;
    // "PID (name) S ...": the state letter follows the last ')'.
    const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    return close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] != 'Z';
}

void signalProcess(int pid, int signalNumber) {
    if (pid > 0) ::kill(pid, signalNumber);
}

std::string processExecutable(int pid) {
    std::error_code ec;
    auto target = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec);
    return ec ? std::string() : target.string();
}

LockRole flockRole(int pid) {
    // "1: FLOCK  ADVISORY  WRITE 4242 00:2a:17 0 EOF", and for a blocked request
    // "1: -> FLOCK  ADVISORY  WRITE 4243 00:2a:17 0 EOF".
    std::istringstream lines(readFile("/proc/locks"));
    std::string line;
    LockRole role = LockRole::None;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string word, kind;
        bool waiting = false;
        words >> word; // "N:"
        words >> kind;
        if (kind == "->") {
            waiting = true;
            words >> kind;
        }
        std::string advisory, mode;
        int owner = 0;
        if (kind != "FLOCK" || !(words >> advisory >> mode >> owner) || owner != pid) continue;
        if (waiting)
            role = LockRole::Waits;
        else if (role == LockRole::None)
            role = LockRole::Holds;
    }
    return role;
}

} // namespace testsupport
