// stand_in_game.h - the Windows test programs are their own stand-in game: started by the
// launcher with a ticket in its environment, the program writes the ticket and the server
// address into "bilet.txt" in its working folder and ends with kGameExitCode before any
// test runs.
#pragma once

#include "platform/clock.h"
#include "platform/platform.h"

inline constexpr int kGameExitCode = 3;

// Polls the game the launcher started (gameWatch().gameProcess) once a frame until it ends
// or `seconds` pass; its state then, with its exit code.
platform::ProcessPoll waitForGame(int& outExitCode, double seconds = 60);
