// stand_in_game.cpp - see stand_in_game.h.
#include "stand_in_game.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

const bool kRunAsGame = [] {
    const char* ticket = std::getenv("MORLAKEN_BILET");
    if (!ticket) return false;
    const char* server = std::getenv("MORLAKEN_SUNUCU");
    if (FILE* f = std::fopen("bilet.txt", "wb")) {
        std::fprintf(f, "%s|%s", ticket, server ? server : "");
        std::fclose(f);
    }
    std::exit(kGameExitCode);
}();

} // namespace

double secondsNow() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

platform::ProcessPoll waitForGame(const GameWatch& watch, int& outExitCode, double seconds) {
    (void)kRunAsGame;
    const double deadline = secondsNow() + seconds;
    platform::ProcessPoll state;
    while ((state = platform::pollProcess(watch.gameProcess, outExitCode)) ==
               platform::ProcessPoll::Running &&
           secondsNow() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(16));
    return state;
}
