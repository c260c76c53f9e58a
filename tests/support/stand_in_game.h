// stand_in_game.h - a test program that has to start a program starts itself. Linked into a
// test program (any use of this header does it), the program does one of two jobs before
// any test runs and ends, when its environment asks for it:
//   MORLAKEN_BILET set (the launcher started it as the game): writes "TICKET|SERVER" (the
//   two game variables) into "bilet.txt" and its arguments, one a line, into
//   "argumanlar.txt", both in its working folder, and ends with kGameExitCode;
//   MORLAKEN_TEST_SLEEP set: waits that many seconds, then ends with 0.
#pragma once

#include "platform/platform.h"

#include <string>

inline constexpr int kGameExitCode = 3;

namespace testsupport {

// The program to start: this very test program.
std::string standInGame();

// Polls `process` until it ends or `seconds` pass; its state then, with its exit code.
platform::ProcessPoll waitForExit(platform::ProcessId process, int& outExitCode, double seconds = 60);

} // namespace testsupport
