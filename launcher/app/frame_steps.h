// frame_steps.h - the frame loop's arithmetic, kept apart from GLFW so tests can call it
// without a window. Main thread only.
//
// Index
//   ---- per-frame values ----  computeInputLayer, scaleMouse, checkContentScale
//   ---- window dragging ----   DragState, beginDrag, dragTarget
#pragma once

#include "gfx/frame.h"
#include "screens/screen_state.h"

#include <cstdint>

// ---- per-frame values ----

// Message while the message box is visible, else Dialog while a modal dialog is open,
// else MainScreen.
InputLayer computeInputLayer(bool messageVisible, Modal activeModal);

// The cursor (window coordinates) and the window's size as the system reports them.
struct WindowMetrics {
    double cursorX = 0, cursorY = 0;
    int width = kLauncherWidth, height = kLauncherHeight;                       // window coordinates
    int framebufferWidth = kLauncherWidth, framebufferHeight = kLauncherHeight; // pixels
};

// Window coordinates -> logical pixels of `frame`: logical x cx / max(window width, 1),
// likewise for y, in double precision, stored as float.
void scaleMouse(const WindowMetrics& window, const FrameContext& frame, float& outX, float& outY);

// The content scale s = framebufferWidth / logicalWidth. True (and `s` stored in
// `inOutScale`) when s > 0 and it differs from the current scale by more than 0.01; the
// glyph atlases are then rebuilt at the new scale.
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
struct WindowPosition {
    int x = 0, y = 0; // screen coordinates of the window's corner
};
void beginDrag(DragState& d, WindowPosition window, double cx, double cy);
// Where the window goes this frame, given its current position and the cursor (window
// coordinates).
WindowPosition dragTarget(const DragState& d, WindowPosition window, double cx, double cy);
