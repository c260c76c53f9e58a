// game.h - starting the game with the ticket, and watching its process.
//
// Index
//   ---- tunables and texts ----
//   ---- state ----       GameSettings, gameSettings, GameWatch
//   ---- launch ----      gameExecutablePath, launchGame
//   ---- watch ----       GameWatchEvent, watchGameProcess, formatExitCode
//
// The game gets the ticket in MORLAKEN_BILET and the server address in MORLAKEN_SUNUCU.
// Both live only in the child's own environment (platform::startProcess builds it from the
// launcher's plus these two); the launcher's environment never holds the ticket and is
// never changed while other threads run. Configuration values come in as GameSettings;
// the window (hide, show, closing screen) is the app's: watchGameProcess only says what
// happened. Main thread only.
#pragma once

#include "config/config.h"
#include "platform/platform.h"

#include <cstdint>
#include <string>

// ---- tunables and texts ----
inline constexpr double kGameWatchIntervalSeconds = 0.5; // event wait while the game runs
inline constexpr double kEarlyExitSeconds = 20.0;        // a non-zero exit before this is an error
inline constexpr const char* kGameEmptyPath = "launcher.ini içinde oyun= satırı boş.";
inline constexpr const char* kGameMissingFiles =
    "Oyun dosyaları eksik. Güncellemenin bitmesini bekle ya da launcher'ı yeniden aç.";
// "Oyun başlatılamadı (" + system error number + "): " + the oyun text
// "Oyun açılırken kapandı (çıkış kodu " + formatExitCode + "). Bu kodu Velmor'a gönder."

// ---- state ----

// The configuration values the launch reads.
struct GameSettings {
    std::string oyun;        // game executable; relative = against launcherFolder
    std::string oyunKlasoru; // its working folder; "" = the launcher's working folder
    std::string sunucu;      // passed on unchanged in MORLAKEN_SUNUCU
    std::string konsol;      // exactly "1": the game keeps the launcher's stdio
    // The launcher's folder (the working folder set at start-up); "" = the current working
    // folder. Relative oyun and oyun_klasoru paths are taken against it.
    std::string launcherFolder;
};

// "oyun", "oyun_klasoru", "sunucu" and "konsol" as the configuration has them now (read
// when a login brings a ticket, not before); launcherFolder "" (the working folder).
GameSettings gameSettings(const Config& cfg);

// The game this launcher started; owned by the app's Launcher (through the session).
struct GameWatch {
    platform::ProcessId gameProcess = 0; // 0 = none; cleared as soon as its end is seen
    double gameLaunchTime = 0;           // clock seconds of the last successful launch
    uint32_t gameExitCode = 0;           // of the last game process
};

// ---- launch ----

// The path launchGame starts: '\' read as '/', a relative path taken against
// settings.launcherFolder (or the working folder). "" when oyun is empty.
std::string gameExecutablePath(const GameSettings& settings);

// Starts the game: no arguments, environment = the launcher's + MORLAKEN_BILET=ticket +
// MORLAKEN_SUNUCU=sunucu, working folder oyunKlasoru, stdio on /dev/null unless konsol is
// "1". On success records gameProcess and gameLaunchTime = nowSeconds and returns true;
// the caller then sets gameState = Running and hides the window. On failure returns false
// with `outError`: kGameEmptyPath, kGameMissingFiles (nothing there at the path), or
// "Oyun başlatılamadı (N): <oyun>"; nothing is started then.
bool launchGame(GameWatch& watch, const std::string& ticket, const GameSettings& settings, double nowSeconds,
                std::string& outError);

// ---- watch ----

enum class GameWatchEvent {
    StillRunning, // skip the rest of the frame (nothing drawn)
    EarlyExit,    // ended with a non-zero code within kEarlyExitSeconds: gameState =
                  // NotRunning, activeModal = 0, focusedField = null, showError(message),
                  // show and focus the window; skip the rest of the frame
    Ended,        // any other end: enter the closing screen (gameState = Closing, closingStart
                  // = now, load "kapanis.jpg" once, 1280 x 640 centred, show and focus,
                  // clear the mouse flags) and go on with the frame
};
struct GameWatchResult {
    GameWatchEvent event = GameWatchEvent::StillRunning;
    std::string message; // EarlyExit only
};

// Every frame while gameState is Running. Looks at the process without waiting; when it
// has ended, stores gameExitCode (128 + N for a game ended by signal N) and clears
// gameProcess. A process that can no longer be looked at (not our child any more) counts
// as ended with code 0, so the launcher never stays hidden for good.
GameWatchResult watchGameProcess(GameWatch& watch, double nowSeconds);

// "0x%08lX": "0x00000001", "0xC0000005".
std::string formatExitCode(uint32_t code);
