// frame.h - the frame being drawn: its logical window, content scale and input layer, the
// one drawing set-up every frame starts with, and rectangles.
//
// Index
//   ---- frame ----     InputLayer, Rect, FrameContext, beginDrawing
// The frame loop fills the context before it draws (tests set it directly); gfx only
// reads it. Main thread only.
#pragma once

#include <cstdint>

// ---- frame ----

// Input layers: a widget takes the mouse only while its layer is the frame's input layer.
enum class InputLayer : int32_t {
    MainScreen = 0, // the main screen's widgets
    Dialog = 1,     // a modal dialog (login, settings)
    Message = 2,    // the message box, above everything
};

// A rectangle in logical pixels: origin top left, y downwards.
struct Rect {
    float x = 0, y = 0, w = 0, h = 0;
};

// ---- tunables ----
inline constexpr int32_t kLauncherWidth = 800, kLauncherHeight = 610; // the launcher's window
struct ClearColor {
    float r, g, b;
};
inline constexpr ClearColor kBackground{0.05f, 0.06f, 0.08f}; // behind everything drawn

struct FrameContext {
    int32_t windowWidth = kLauncherWidth; // logical window size; 1280 x 640 on the closing screen
    int32_t windowHeight = kLauncherHeight;
    float contentScale = 1.0f; // framebuffer pixels per logical pixel (atlases, clipping)
    InputLayer inputLayer = InputLayer::MainScreen;
};

// The whole window as a rectangle.
inline Rect windowRect(const FrameContext& frame) {
    return {0, 0, static_cast<float>(frame.windowWidth), static_cast<float>(frame.windowHeight)};
}

// How every frame starts: viewport over the framebuffer, a projection with one unit per
// logical pixel of `frame`'s window (origin top left, y down), identity model-view, no
// clip, cleared to `clear`, blending on. GL thread, with the window's context current.
void beginDrawing(const FrameContext& frame, int framebufferWidth, int framebufferHeight,
                  ClearColor clear = kBackground);
