// login_support.h - what the login and game tests share: a player folder holding a copy of
// morlaken-game with its own configuration, the account service of morlaken-devhost with a
// users file, and a look at secret buffers.
#pragma once

#include "config/config.h"
#include "login/session.h"
#include "login/wipe.h"
#include "platform/clock.h"
#include "support/child_process.h"
#include "support/devhost.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace logintest {

using namespace testsupport;

// A copy of morlaken-game in a folder of its own (so parallel tests never share its
// configuration or record), run `seconds` long, ending with `exitCode`.
class GameFolder {
  public:
    explicit GameFolder(int exitCode = 0, double seconds = 0.1) {
        std::filesystem::copy_file(builtProgram("morlaken-game"), dir / "morlaken-game");
        writeFile(dir / "morlaken-game.ini", "cikis_kodu=" + std::to_string(exitCode) + "\nsure=" +
                                                 std::to_string(seconds) + "\npencere=0\nkayit=kayit.txt\n");
    }
    GameSettings settings() const {
        GameSettings s;
        s.oyun = "morlaken-game";
        s.launcherFolder = dir.path();
        s.sunucu = "127.0.0.1:27016";
        return s;
    }
    // The configuration a login starts this game with.
    Config config() const {
        Config cfg;
        configSet(cfg, keys::kGame, dir / "morlaken-game");
        configSet(cfg, keys::kServer, "127.0.0.1:27016");
        return cfg;
    }
    // The record morlaken-game wrote, as key -> value; empty until it ran.
    std::map<std::string, std::string> record() const {
        std::map<std::string, std::string> out;
        std::string text = readFile(dir / "kayit.txt"), line;
        for (char c : text) {
            if (c != '\n') {
                line += c;
                continue;
            }
            size_t eq = line.find('=');
            if (eq != std::string::npos) out[line.substr(0, eq)] = line.substr(eq + 1);
            line.clear();
        }
        return out;
    }
    bool ran() const { return fileExists(dir / "kayit.txt"); }
    TempFolder dir;
};

using platform::now;

// Polls the game until it is seen to end; the watch's result.
inline GameWatchResult waitForGameEnd(GameWatch& watch, double nowOffset = 0) {
    GameWatchResult result;
    bool ended = waitUntil(
        [&] {
            result = watchGameProcess(watch, platform::now() + nowOffset);
            return result.event != GameWatchEvent::StillRunning;
        },
        30);
    EXPECT_TRUE(ended);
    return result;
}

// Every byte a string owns, past its size too: what a wipe must have zeroed.
inline bool allZero(const std::string& s) {
    for (size_t i = 0; i < s.capacity(); ++i)
        if (s.data()[i] != '\0') return false;
    return true;
}

// The users file line for one account ("" email allowed); the hash comes from the program.
inline std::string userLine(const std::string& name, const std::string& email, const std::string& password,
                            const std::string& totpBase32, bool verified, const std::string& masked) {
    ProgramRun run =
        runCaptured(builtProgram("morlaken-devhost"), {"--hash-password", password, "--iterations", "1000"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    std::string hash = run.out.substr(0, run.out.find('\n'));
    return name + "|" + email + "|" + hash + "|" + totpBase32 + "|" + (verified ? "1" : "0") + "|" + masked +
           "\n";
}

// RFC 6238 code computed here, independently of morlaken-devhost.
std::string referenceTotp(const std::string& key, uint64_t counter);

// "Hello!\xDE\xAD\xBE\xEF" in base32.
inline constexpr const char* kTotpBase32 = "JBSWY3DPEHPK3PXP";
inline const std::string kTotpKey = std::string("Hello!\xDE\xAD\xBE\xEF");

} // namespace logintest
