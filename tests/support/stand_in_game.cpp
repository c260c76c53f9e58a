// stand_in_game.cpp - see stand_in_game.h.
#include "support/stand_in_game.h"

#include "support/temp_folder.h"
#include "support/wait.h"

#include <chrono>
#include <cstdlib>
#include <thread>

namespace testsupport {
namespace {

// The arguments this process was started with, read back from the system.
std::vector<std::string> ownArguments() {
#ifdef _WIN32
    return platform::programArguments(0, nullptr); // from the wide command line
#else
    std::vector<std::string> args;
    const std::string line = readFile("/proc/self/cmdline");
    for (size_t at = line.find('\0') + 1; at < line.size(); at = line.find('\0', at) + 1)
        args.push_back(line.substr(at, line.find('\0', at) - at));
    return args;
#endif
}

const bool kRunAsChild = [] {
    if (const char* seconds = std::getenv("MORLAKEN_TEST_SLEEP")) {
        std::this_thread::sleep_for(std::chrono::duration<double>(std::atof(seconds)));
        std::exit(0);
    }
    const char* ticket = std::getenv("MORLAKEN_BILET");
    if (!ticket) return false;
    const char* server = std::getenv("MORLAKEN_SUNUCU");
    std::string args;
    for (const std::string& arg : ownArguments())
        args += arg + "\n";
    platform::writeFileAtomically("bilet.txt", std::string(ticket) + "|" + (server ? server : ""));
    platform::writeFileAtomically("argumanlar.txt", args);
    std::exit(kGameExitCode);
}();

} // namespace

std::string standInGame() {
    (void)kRunAsChild;
    return platform::executablePath();
}

platform::ProcessPoll waitForExit(platform::ProcessId process, int& outExitCode, double seconds) {
    platform::ProcessPoll state = platform::ProcessPoll::Running;
    waitUntil(
        [&] {
            return (state = platform::pollProcess(process, outExitCode)) != platform::ProcessPoll::Running;
        },
        seconds);
    return state;
}

} // namespace testsupport
