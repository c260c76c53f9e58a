// screen_state.h - what the screens share across frames: whether the game runs, which
// dialog is open, and whether the window is to close. Owned by the app's Launcher; main
// thread only.
#pragma once

#include <cstdint>

enum class GameState : int32_t { NotRunning, Running, Closing };

// The modal dialog over the main screen.
enum class Modal : int32_t { None, Login, Settings };

struct ScreenState {
    GameState gameState = GameState::NotRunning;
    Modal activeModal = Modal::None;
    double closingStart = 0;     // clock seconds at which the closing screen began
    bool closeRequested = false; // set by screens; the frame loop closes the window
};
