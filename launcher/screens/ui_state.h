// ui_state.h - what the screens share across frames, main thread only.
//
// Screens and the key routing read and write it; the frame loop (app/) owns its timing
// fields and acts on closeRequested.
#pragma once

#include <cstdint>

enum class GameState : int32_t { NotRunning, Running, Closing };

// The modal dialog over the main screen.
enum class Modal : int32_t { None, Login, Settings };

struct UiState {
    GameState gameState = GameState::NotRunning;
    Modal activeModal = Modal::None;
    double serverCheckTimer = -100.0; // clock seconds of the last background server check
    double closingStart = 0;          // clock seconds at which the closing screen began
    bool rememberMe = true;           // the login dialog's check box
    bool closeRequested = false;      // set by screens; the frame loop closes the window
};

UiState& ui();
