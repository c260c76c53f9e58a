// frame_steps.h - the frame loop's arithmetic, kept apart from GLFW so tests can call it
// without a window. Main thread only.
//
// Index
//   ---- per-frame values ----  computeInputLayer, scaleMouse, checkContentScale
//   ---- window dragging ----   DragState, beginDrag, dragTarget
#pragma once

#include "gfx/frame.h"
#include "screens/ui_state.h"

// ---- per-frame values ----

// Message while the message box is visible, else Dialog while a modal dialog is open,
// else MainScreen.
InputLayer computeInputLayer(bool messageVisible, Modal activeModal);

// Window coordinates -> logical pixels: logical x cx / max(windowW, 1), likewise for y,
// in double precision, stored as float.
void scaleMouse(double cx, double cy, int windowW, int windowH, int logicalW, int logicalH, float& outX,
                float& outY);

// The content scale s = framebufferWidth / logicalWidth. True (and `s` stored in
// `inOutScale`) when s > 0 and it differs from the current scale by more than 0.01; the
// caller then empties the font cache.
bool checkContentScale(float& inOutScale, int framebufferWidth, int logicalWidth);

// ---- window dragging ----

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
