// login_probe.cpp - one login as the launcher makes it, for the freed-memory scan
// (free_scan.cpp, preloaded by tests/login/freed_memory_test.cpp):
//
//   login_probe hesap API USER PASSWORD CODE GAMEFOLDER CONTROL
//   login_probe sunucu ADDRESS USER PASSWORD - GAMEFOLDER CONTROL
//
// hesap: the account login with the code, through the login worker and pollAccountLogin;
// sunucu: the game-server login over ENet. Either must start the game (morlaken-game in
// GAMEFOLDER), which is waited for; then everything is shut down as at the launcher's
// exit. Last, one copy of CONTROL is freed unwiped, so the scan shows it sees frees.
// Exit code 0 when the game was started, 1 (with the reason on stderr) otherwise.
#include "config/config.h"
#include "login/account.h"
#include "login/enet_setup.h"
#include "login/game.h"
#include "login/gameserver.h"
#include "net/http.h"
#include "platform/clock.h"
#include "platform/text.h"

#include <enet/enet.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

constexpr double kLimitSeconds = 30;

int fail(const std::string& why) {
    std::fprintf(stderr, "login_probe: %s\n", why.c_str());
    return 1;
}

// Calls `step` once a frame until it returns true or the limit passes.
template <typename F> bool everyFrame(F step) {
    const double deadline = platform::now() + kLimitSeconds;
    while (platform::now() < deadline) {
        if (step()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

bool gameEnds() {
    return everyFrame([] { return watchGameProcess(platform::now()).event != GameWatchEvent::StillRunning; });
}

int accountPath(const char* api, const char* user, const char* password, const char* code,
                const GameSettings& game) {
    AccountLogin& a = accountLogin();
    a.accountPassword = password;
    *a.totpCodeText = code;
    startAccountLogin(api, user, *a.totpCodeText);
    if (!everyFrame([&] { return a.loginDone.load(); })) return fail("no answer");
    const LoginPoll poll = pollAccountLogin(game, platform::now());
    if (poll.event != LoginEvent::GameStarted) return fail("login: " + poll.text);
    if (!gameEnds()) return fail("the game did not end");
    shutdownAccountLogin();
    return 0;
}

int serverPath(const char* address, const char* user, const char* password, const GameSettings& game) {
    configSet("sunucu", address);
    std::string typed = password; // the dialog's field
    startGameServerLogin(user, typed);
    platform::wipeText(typed);
    std::string error;
    const bool started = everyFrame([&] {
        pumpGameServer(game);
        LinkPoll poll = takeLinkPoll();
        if (!poll.errors.empty()) error = poll.errors.front();
        return poll.gameStarted || !error.empty();
    });
    if (!started || !error.empty()) return fail("login: " + error);
    if (!gameEnds()) return fail("the game did not end");
    shutdownServerLink();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 8) return fail("usage: hesap|sunucu ADDRESS USER PASSWORD CODE GAMEFOLDER CONTROL");
    if (!initializeEnet()) return fail("ENet");
    GameSettings game;
    game.oyun = "morlaken-game";
    game.launcherFolder = argv[6];
    game.sunucu = "127.0.0.1:27016";
    const int result = std::strcmp(argv[1], "hesap") == 0
                           ? accountPath(argv[2], argv[3], argv[4], argv[5], game)
                           : serverPath(argv[2], argv[3], argv[4], game);
    enet_deinitialize();
    char* control = strdup(argv[7]);
    asm volatile("" : : "r"(control) : "memory"); // the copy is made and freed for real
    std::free(control);
    return result;
}
