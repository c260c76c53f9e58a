// closing_screen.h - the 1280 x 640 picture shown for a few seconds after the game ended
// normally. Main thread only.
#pragma once

#include "gfx/ui.h"
#include "screens/screen_state.h"

struct Skin;

// ---- tunables ----
inline constexpr int kClosingWidth = 1280, kClosingHeight = 640;
inline constexpr double kClosingSeconds = 5.0;

// The screen's state once the game has ended: gameState = Closing, closingStart = now,
// "kapanis.jpg" loaded the first time, the frame's window 1280 x 640, the mouse's
// one-frame flags and queued buttons cleared. The frame loop resizes, centres and shows
// the window.
void enterClosingScreen(ScreenState& state, Skin& skin, Ui& ui, double nowSeconds);

// Every frame while gameState is Closing, instead of every other screen: the closing
// image over the whole window and the logo at (850, 401, 360 x 189). A release anywhere
// or more than kClosingSeconds since closingStart sets closeRequested.
void drawClosingScreen(const Ui& ui, const Skin& skin, ScreenState& state, double nowSeconds);
