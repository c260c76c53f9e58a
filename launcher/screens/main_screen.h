// main_screen.h - the 800 x 610 main screen: art, news box, links, update status line
// with its progress bar, START, settings, close button and footer.
//
// Index
//   ---- inputs ----             MainScreen, MainScreenView
//   ---- the screen ----         MainAction, MainScreenAction, drawMainScreen,
//                                mainScreenKey, mainScreenFonts
//   ---- texts and rules ----    formatSize, updateStatusText, progressFraction, footerText,
//                                startDisabled, restartAllowed, retryUpdate, showNewsItem
// The screen draws what it is shown and says what the player asked for; the frame loop
// acts on it. Main thread only.
#pragma once

#include "config/keys.h"
#include "gfx/font.h"
#include "gfx/ui.h"
#include "login/gameserver.h"
#include "news/news.h"
#include "screens/screen_state.h"
#include "update/status.h"
#include "version.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct Config;
struct MessageDialog;
struct Skin;

// ---- inputs ----

// What the screen keeps between frames: the footer's texts, reused so a still frame
// allocates nothing. Owned by the app's Launcher.
struct MainScreen {
    std::string serverVersion; // the update list's "surum", copied in every frame
    std::string footer;
};

// What one frame shows.
struct MainScreenView {
    const std::vector<NewsItem>& news;
    UpdateProgress progress;
    ServerStatus serverStatus;
    bool loginBusy; // START is greyed while a login runs
};

// ---- the screen ----

enum class MainAction {
    None,
    Close,        // the close button
    OpenLogin,    // START, or Enter
    OpenSettings, // AYARLAR
    RetryUpdate,  // the failure line
    OpenLink,     // WEB SİTESİ or a social button: `link`
    ShowNews,     // the banner or a headline: news[newsIndex]
};
struct MainScreenAction {
    MainAction kind = MainAction::None;
    const ConfigKey* link = nullptr;
    size_t newsIndex = 0;
};

// Draws and hit-tests the whole screen on the MainScreen layer; called every frame while
// the launcher is not on its closing screen. `main` holds the footer's texts.
MainScreenAction drawMainScreen(Ui& ui, const Skin& skin, MainScreen& main, const MainScreenView& view);

// A key while the bare main screen is on top: Enter (pressed or repeated) opens the login
// dialog, whatever the update's state; nothing else does anything.
MainScreenAction mainScreenKey(const InputEvent& event);

// The fonts the screen draws with, in drawing order (for prepareFontAtlases).
std::vector<FontRequest> mainScreenFonts();

// ---- texts and rules ----

// Size format for counters and speed: below 100 MiB "%.1f MB", below 1 GiB "%.0f MB",
// else "%.2f GB" (5,242,880 -> "5.0 MB", 209,715,200 -> "200 MB", 2,147,483,648 ->
// "2.00 GB"). Writes into `out` (at least 32 bytes) and returns the length.
size_t formatSize(double bytes, char* out, size_t outSize);
std::string formatSize(double bytes);

// The update status line ("İndiriliyor 3/7 · ..."). The file counter never passes
// filesTotal; "· X indirildi" (the bytes that came over the network) appears only while
// fewer were fetched than are done (a patch reused the rest); the speed part appears only
// above 1.0 B/s. Writes into `out` and returns
// the length (cut to outSize - 1 bytes).
size_t updateStatusText(const UpdateProgress& progress, char* out, size_t outSize);
std::string updateStatusText(const UpdateProgress& progress);

// Fraction of the progress bar that is filled, 0 to 1.
float progressFraction(const UpdateProgress& progress);

// The footer "Sürüm <version> · Sunucu <Açık|Kapalı|Bağlanıyor>"; an empty server version
// shows the launcher's own kLauncherVersion. Written into `out`, reusing its capacity.
void footerText(const std::string& serverVersion, ServerStatus status, std::string& out);

// START is greyed while the update is not finished (not started, checking, downloading,
// restart pending) or a login runs.
bool startDisabled(UpdateState updateState, bool loginBusy);

// The self-restart may run when the update asked for it, the game is not running and
// the login dialog is not open (it waits for a later frame then).
bool restartAllowed(UpdateState updateState, GameState gameState, Modal activeModal);

// The failure line's click: shows the last error followed by "\n\nTekrar deneniyor." and
// starts a new update pass against "guncelleme".
void retryUpdate(UpdateStatus& update, const Config& cfg, MessageDialog& message);

// A news item's click: its title over its body (its tag when the body is empty), in gold.
void showNewsItem(MessageDialog& message, const NewsItem& item);
