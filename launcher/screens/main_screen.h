// main_screen.h - the 800 x 610 main screen: art, news box, links, update status line
// with its progress bar, START, settings, close button and footer.
//
// Index
//   ---- server state ----       ServerStatus, serverStatus
//   ---- the screen ----         drawMainScreen, mainScreenFonts
//   ---- texts and rules ----    formatSize, updateStatusText, updateProgress, footerText,
//                                startDisabled, startBlockedByLogin, retryUpdate
//   ---- frame-loop rules ----   restartAllowed
// Everything here runs on the main thread only.
#pragma once

#include "gfx/font.h"
#include "login/gameserver.h"
#include "screens/ui_state.h"
#include "update/status.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// ---- server state ----

// The game-server link's serverStatus (login/gameserver.h): Connecting ("Bağlanıyor") at
// start-up and after the settings dialog saved an address, then Online or Offline.
ServerStatus& serverStatus();

// ---- the screen ----

// Draws and hit-tests the whole screen; its mouse widgets use the MainScreen layer. Called by
// the frame loop every frame while the launcher is not on its closing screen, with the
// update's status (for the footer's version and the retry) and this frame's progress.
// Writes ui().activeModal (START, "AYARLAR"), ui().closeRequested (close button) and the
// message dialog (news clicks, update retry, links).
void drawMainScreen(UpdateStatus& update, const UpdateProgress& progress);

// The fonts the screen draws with, in drawing order (for prepareFontAtlases).
std::vector<FontRequest> mainScreenFonts();

// ---- texts and rules ----

// Size format for counters and speed: below 100 MiB "%.1f MB", below 1 GiB "%.0f MB",
// else "%.2f GB" (5,242,880 -> "5.0 MB", 209,715,200 -> "200 MB", 2,147,483,648 ->
// "2.00 GB"). Writes into `out` (at least 32 bytes) and returns the length.
size_t formatSize(double bytes, char* out, size_t outSize);
std::string formatSize(double bytes);

// The update status line for a frame's progress ("İndiriliyor 3/7 · ..."). The file
// counter never passes filesTotal; the speed part appears only above 1.0 B/s.
// Writes into `out` and returns the length (cut to outSize - 1 bytes).
size_t updateStatusText(const UpdateProgress& progress, char* out, size_t outSize);
std::string updateStatusText(const UpdateProgress& progress);

// Fraction of the progress bar that is filled, 0 to 1.
float updateProgress(UpdateState state, int64_t bytesDone, int64_t bytesTotal);

// The footer "Sürüm <version> · Sunucu <Açık|Kapalı|Bağlanıyor>"; an empty server version
// shows the launcher's own kLauncherVersion (version.h, from CMake).
std::string footerText(const std::string& serverVersion, ServerStatus status);

// True while a login is running (the login dialog's busy state).
bool startBlockedByLogin();

// START is greyed while the update is not finished (not started, checking, downloading,
// restart pending) or a login runs.
bool startDisabled(UpdateState updateState, bool loginBlocked);

// The failure line's click: shows the last error followed by "\n\nTekrar deneniyor." and
// starts a new update pass against configGet("guncelleme").
void retryUpdate(UpdateStatus& update);

// ---- frame-loop rules ----

// The self-restart may run when the update asked for it, the game is not running and
// the login dialog is not open (it waits for a later frame then).
bool restartAllowed(UpdateState updateState, GameState gameState, Modal activeModal);
