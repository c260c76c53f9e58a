// ui.h - the Ui: everything drawing and widgets keep between frames for one window. The
// app's Launcher owns it; a test builds its own. Main thread only.
//
// Index
//   ---- input ----   InputEvent, InputState
//   ---- the Ui ----  Ui
// The window's callbacks only queue events here (queueChar, queueKey, queueMouseButton in
// widgets.h); the frame takes them: the mouse buttons at its start (beginFrameInput), the
// keys in the frame's key steps, the rest at its end (endFrameInput).
#pragma once

#include "gfx/font.h"
#include "gfx/frame.h"

#include <cstdint>
#include <string>
#include <vector>

struct GLFWwindow;
struct TextField;

// ---- input ----

// One thing the player did, queued by the window's callbacks in the order it came.
struct InputEvent {
    enum class Kind : uint8_t { Char, Key, MouseButton };
    Kind kind = Kind::Key;
    uint32_t codepoint = 0; // Char
    int key = 0;            // Key: the GLFW key; MouseButton: the GLFW button
    int action = 0;         // GLFW_PRESS, GLFW_REPEAT or GLFW_RELEASE
    int mods = 0;           // Key: GLFW modifier bits
};

struct InputState {
    float mouseX = 0, mouseY = 0; // logical pixels, set every frame
    bool mouseDown = false;
    bool mousePressed = false;      // this frame
    bool mouseReleased = false;     // this frame
    const char* activeId = nullptr; // widget that took the press; null = none
    bool wantHandCursor = false;
    bool wantTextCursor = false;
};

// ---- tunables ----
inline constexpr size_t kEventRoom = 64; // events a frame holds before the queue must grow

// ---- the Ui ----

struct Ui {
    FrameContext frame;
    InputState input;
    // Queued by the callbacks; during a frame only keys and characters are left, the first
    // `keysBeforeClick` of them typed before the frame's first mouse button.
    std::vector<InputEvent> events;
    size_t keysBeforeClick = 0;
    InputLayer drawingLayer = InputLayer::MainScreen; // the layer whose widgets are drawn now
    TextField* focus = nullptr;                       // the field that takes typing; null: none
    double caretStart = 0;                            // clock seconds; the caret blinks from here
    GLFWwindow* window = nullptr;                     // for the clipboard; null: no clipboard
    FontCache fonts;
    // Kept between frames so that a still frame allocates nothing.
    std::string bullets; // a masked field's shown text
    ParagraphLines paragraph;

    Ui() { events.reserve(kEventRoom); }
    Ui(const Ui&) = delete;
    Ui& operator=(const Ui&) = delete;
};
