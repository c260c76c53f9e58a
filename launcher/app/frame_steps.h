// ui_state.h - process-wide UI state of the application core, main thread only.
//
// Index
//   ---- state ----         GameState, UiState, ui, now
//   ---- frame helpers ---- sampleDownloadSpeed, computeInputLayer, scaleMouse,
//                           checkContentScale, DragState, beginDrag, dragTarget
// Screens and widgets read and write the state; the frame loop (app.cpp) owns it. The
// frame helpers are the loop's arithmetic, kept apart from GLFW so tests can call them
// without a window.
#pragma once

#include <cstdint>

// ---- state ----

enum GameState : int32_t { NotRunning = 0, Running = 1, Closing = 2 };

struct UiState {
    int32_t windowWidth = 800; // logical window size; 1280 x 640 on the closing screen
    int32_t windowHeight = 610;
    float contentScale = 1.0f; // framebuffer pixels per logical pixel (fonts, clipping)
    int32_t gameState = NotRunning;
    int32_t activeModal = 0;  // 0 none, 1 login dialog, 2 settings dialog
    int32_t inputLayer = 0;   // 2 message dialog, 1 modal dialog, 0 main screen
    double downloadSpeed = 0; // smoothed bytes per second
    int64_t speedLastBytes = 0;
    double speedLastTime = 0;         // clock seconds of the last speed sample
    double serverCheckTimer = -100.0; // clock seconds of the last background server check
    double closingStart = 0;          // clock seconds at which the closing screen began
    bool rememberMe = true;           // the login dialog's check box
    bool closeRequested = false;      // set by screens; the frame loop closes the window
};

UiState& ui();

// The monotonic clock in seconds ("now" everywhere). Any thread.
double now();

// ---- frame helpers ----

// Step 3 of a frame: `state`/`bytesDone` come from the update status block. While
// downloading (state 2) a sample is taken at most once a second and smoothed 0.3 new /
// 0.7 old; in every other state the speed is 0 and the sample restarts at `nowSeconds`.
void sampleDownloadSpeed(UiState& s, int32_t state, int64_t bytesDone, double nowSeconds);

// 2 while the message dialog is visible, else 1 while a modal dialog is open, else 0.
int32_t computeInputLayer(bool messageVisible, int32_t activeModal);

// Window coordinates -> logical pixels: logical x cx / max(windowW, 1), likewise for y,
// in double precision, stored as float.
void scaleMouse(double cx, double cy, int windowW, int windowH, int logicalW, int logicalH, float& outX,
                float& outY);

// Step 7 of a frame: s = framebufferWidth / logicalWidth. True (and `s` stored in
// `inOutScale`) when s > 0 and it differs from the current scale by more than 0.01; the
// caller then empties the font cache.
bool checkContentScale(float& inOutScale, int framebufferWidth, int logicalWidth);

// Dragging the borderless window: a press that no widget claims anchors the window
// position plus the cursor (screen position of the press); later frames move the window
// by the cursor's screen movement since then, truncated toward zero.
struct DragState {
    bool dragging = false;
    int32_t dragWinX = 0, dragWinY = 0;
    double dragAnchorX = 0, dragAnchorY = 0;
};
void beginDrag(DragState& d, int winX, int winY, double cx, double cy);
// Where the window goes this frame, given its current position and the cursor (window
// coordinates).
void dragTarget(const DragState& d, int winX, int winY, double cx, double cy, int& outX, int& outY);
