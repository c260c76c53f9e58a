// stand_in_game.h - the Windows test programs are their own stand-in game: started by the
// launcher with a ticket in its environment, the program writes the ticket and the server
// address into "bilet.txt" in its working folder and ends with kGameExitCode before any
// test runs.
#pragma once

#include "login/game.h"
#include "platform/platform.h"

inline constexpr int kGameExitCode = 3;

// Seconds of the steady clock.
double secondsNow();
// Polls the game a login started (watch.gameProcess) once a frame until it ends or
// `seconds` pass; its state then, with its exit code.
platform::ProcessPoll waitForGame(const GameWatch& watch, int& outExitCode, double seconds = 60);
