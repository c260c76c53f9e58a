// frame.h - what drawing and widgets know about the frame being drawn, and the clock.
//
// The frame loop fills the context before it draws; gfx only reads it (tests set it
// directly). Main thread only, except now().
#pragma once

#include "platform/clock.h"

#include <cstdint>

// Input layers: a widget takes the mouse only while its layer is the frame's input layer.
enum class InputLayer : int32_t {
    MainScreen = 0, // the main screen's widgets
    Dialog = 1,     // a modal dialog (login, settings)
    Message = 2,    // the message box, above everything
};

struct FrameContext {
    int32_t windowWidth = 800; // logical window size; 1280 x 640 on the closing screen
    int32_t windowHeight = 610;
    float contentScale = 1.0f; // framebuffer pixels per logical pixel (atlases, clipping)
    InputLayer inputLayer = InputLayer::MainScreen;
};

FrameContext& frameContext();

// The monotonic clock in seconds (platform/clock.h). Any thread.
using platform::now;
