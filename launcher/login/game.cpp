// game.cpp - launchGame and watchGameProcess.
#include "login/game.h"

#include "login/wipe.h"
#include "platform/text.h"

#include <cstdio>
#include <utility>
#include <vector>

GameSettings gameSettings(const Config& cfg) {
    GameSettings s;
    s.oyun = configGet(cfg, keys::kGame);
    s.oyunKlasoru = configGet(cfg, keys::kGameFolder);
    s.sunucu = configGet(cfg, keys::kServer);
    s.konsol = configGet(cfg, keys::kConsole);
    return s;
}

namespace {

std::string againstFolder(const std::string& path, const std::string& folder) {
    if (path.empty() || platform::isAbsolutePath(path) || folder.empty()) return platform::fullPath(path);
    return platform::fullPath(folder + "/" + path);
}

} // namespace

std::string gameExecutablePath(const GameSettings& settings) {
    if (settings.oyun.empty()) return {};
    return againstFolder(platform::forwardSlashes(settings.oyun), settings.launcherFolder);
}

bool launchGame(GameWatch& w, const std::string& ticket, const GameSettings& settings, double nowSeconds,
                std::string& outError) {
    if (settings.oyun.empty()) {
        outError = kGameEmptyPath;
        return false;
    }
    const std::string executable = gameExecutablePath(settings);
    if (!platform::pathExists(executable)) {
        outError = kGameMissingFiles;
        return false;
    }
    platform::ProcessOptions options;
    options.extraEnvironment.reserve(2);
    options.extraEnvironment.emplace_back("MORLAKEN_BILET", ticket);
    options.extraEnvironment.emplace_back("MORLAKEN_SUNUCU", settings.sunucu);
    if (!settings.oyunKlasoru.empty())
        options.workingFolder =
            againstFolder(platform::forwardSlashes(settings.oyunKlasoru), settings.launcherFolder);
    options.quiet = !isSwitchOn(settings.konsol);
    int errorCode = 0;
    platform::ProcessId process = platform::startProcess(executable, {}, options, errorCode);
    // The child's copy of the ticket is gone with this block.
    platform::wipeText(options.extraEnvironment[0].second);
    releaseSecret(options.extraEnvironment[0].second, "ticket");
    if (process == 0) {
        outError = "Oyun başlatılamadı (" + std::to_string(errorCode) + "): " + settings.oyun;
        return false;
    }
    w.gameProcess = process;
    w.gameLaunchTime = nowSeconds;
    return true;
}

std::string formatExitCode(uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(code));
    return text;
}

GameWatchResult watchGameProcess(GameWatch& w, double nowSeconds) {
    GameWatchResult result;
    if (w.gameProcess != 0) {
        int code = 0;
        switch (platform::pollProcess(w.gameProcess, code)) {
        case platform::ProcessPoll::Running:
            return result; // StillRunning
        case platform::ProcessPoll::Exited:
            w.gameExitCode = static_cast<uint32_t>(code);
            break;
        case platform::ProcessPoll::Failed:
            w.gameExitCode = 0;
            break;
        }
        w.gameProcess = 0;
    }
    if (w.gameExitCode != 0 && nowSeconds - w.gameLaunchTime < kEarlyExitSeconds) {
        result.event = GameWatchEvent::EarlyExit;
        result.message = "Oyun açılırken kapandı (çıkış kodu " + formatExitCode(w.gameExitCode) +
                         "). Bu kodu Velmor'a gönder.";
        return result;
    }
    result.event = GameWatchEvent::Ended;
    return result;
}
