// ui_state.h - process-wide UI state of the application core, main thread only.
//
// Screens and widgets read and write these; the frame loop (app.cpp) owns them.
#pragma once

#include <cstdint>

enum GameState : int32_t { NotRunning = 0, Running = 1, Closing = 2 };

struct UiState {
    int32_t windowWidth = 800;  // logical window size; 1280 x 640 on the closing screen
    int32_t windowHeight = 610;
    float contentScale = 1.0f;  // framebuffer pixels per logical pixel (fonts, clipping)
    int32_t gameState = NotRunning;
    int32_t activeModal = 0;    // 0 none, 1 login dialog, 2 settings dialog
    int32_t inputLayer = 0;     // 2 message dialog, 1 modal dialog, 0 main screen
    double downloadSpeed = 0;   // smoothed bytes per second
    int64_t speedLastBytes = 0;
    double speedLastTime = 0;
    double serverCheckTimer = -100.0;
    double closingStart = 0;
    bool rememberMe = true;     // the login dialog's check box
    bool closeRequested = false; // set by screens; the frame loop closes the window
};

UiState& ui();

// The monotonic clock in seconds ("now" everywhere).
double now();

// Main-loop download-speed sampling, step 3 of a frame; `state`/`bytesDone` come from
// the update status block. Kept apart from the loop so it can be tested without a window.
void sampleDownloadSpeed(UiState& s, int32_t state, int64_t bytesDone, double nowSeconds);
