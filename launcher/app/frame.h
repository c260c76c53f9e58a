// frame.h - one frame of the launcher, in two halves the loop runs after each event wait:
// the per-frame pumps (pumpFrame) and the drawn frame (drawFrame). The screen tests run
// the same two functions on a Launcher of their own. Main thread only.
//
// Index
//   ---- the frame ----   pumpFrame, readWindowMetrics, drawFrame, handleKey
//   ---- window ----      centerWindow
#pragma once

#include "app/frame_steps.h"
#include "app/launcher.h"

struct GLFWwindow;

// ---- the frame ----

// Before anything is drawn: the game-server link and its news, a login's outcome (the one
// place a started game hides the window), the news feed, the download speed, the
// self-restart when the update asked for it, the game watch, and the background probe of
// the game server (every 15 s while it is not online and no connection runs). False when
// the frame ends here: the game runs (nothing is drawn, the keys typed go unseen).
bool pumpFrame(Launcher& launcher);

// The cursor and the window's sizes, as GLFW reports them now.
WindowMetrics readWindowMetrics(GLFWwindow* window);

// One drawn frame: the mouse in logical pixels, the content scale, the drawing set-up,
// then either the closing screen or the main screen with the open dialog and the message
// box over it, each handling its own keys (those typed before the frame's click before
// the widgets, the rest after them, so keys typed right after a click reach what the click
// opened); window dragging, the cursor shape and the end of the frame's input. The caller
// swaps the buffers.
void drawFrame(Launcher& launcher, const WindowMetrics& window);

// One key or character, as the frame hands it on: to the message box when it shows, else
// to the open dialog, else to the main screen; each says what it does with it (Enter,
// Escape, Tab; the focused field's editing), and what it asks for is done at once.
void handleKey(Launcher& launcher, const InputEvent& event);

// ---- window ----

// Centres a window of width x height on the primary monitor's current video mode
// (integer division). Nothing when the mode cannot be read or there is no window.
void centerWindow(GLFWwindow* window, int width, int height);
