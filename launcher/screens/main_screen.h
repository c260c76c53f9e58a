// main_screen.h - the 800 x 610 main screen. Main thread only.
#pragma once

#include <cstdint>
#include <string>

enum ServerStatus : int32_t { ServerConnecting = 0, ServerOnline = 1, ServerOffline = 2 };

// Filled by the game-server link; "Bağlanıyor" (Connecting) until it exists.
ServerStatus& serverStatus();

inline constexpr const char* kLauncherVersion = "0.1.0";

// Draws and hit-tests the whole screen.
void drawMainScreen();

// "5.0 MB", "200 MB", "2.00 GB".
std::string formatSize(double bytes);
// The update status line for a state and its counters.
std::string updateStatusText(int32_t state, int32_t filesDone, int32_t filesTotal, int64_t bytesDone,
                             int64_t bytesTotal, double speed);
// The footer "Sürüm ... · Sunucu ...".
std::string footerText(const std::string& serverVersion, ServerStatus status);
