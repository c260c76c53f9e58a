// login_probe.cpp - one login as the launcher makes it, for the freed-memory scan (free_scan.cpp,
// preloaded by tests/login/freed_memory_test.cpp):
//   login_probe hesap API USER PASSWORD CODE GAMEFOLDER CONTROL   (the account login's code step)
//   login_probe sunucu ADDRESS USER PASSWORD - GAMEFOLDER CONTROL (the game-server login)
// Either must start morlaken-game in GAMEFOLDER through the session and wait for it; then all is
// shut down as at the launcher's exit, and one copy of CONTROL is freed unwiped, so the scan
// shows it sees frees. Exit code 0 when the game was started, 1 (reason on stderr) otherwise.
#include "config/config.h"
#include "login/enet_setup.h"
#include "login/session.h"
#include "login/wipe.h"
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

bool gameEnds(GameWatch& game) {
    return everyFrame(
        [&] { return watchGameProcess(game, platform::now()).event != GameWatchEvent::StillRunning; });
}

// Pumps the link and takes the session's outcome once a frame until the login ended.
int finishLogin(Session& session, const Config& cfg, std::string& code) {
    LoginOutcome outcome;
    everyFrame([&] {
        pumpGameServer(session.link);
        outcome = takeLoginOutcome(session, cfg, code, platform::now());
        return outcome.event != LoginEvent::None;
    });
    if (outcome.event != LoginEvent::GameStarted) return fail("login: " + outcome.text);
    if (!gameEnds(session.game)) return fail("the game did not end");
    return 0;
}

int accountPath(Session& session, const Config& cfg, const char* user, const char* password,
                const char* code) {
    std::string typedCode = code; // the dialog's code field
    session.account.accountPassword = password;
    session.account.totpStep = true;
    sendLoginCode(session, cfg, user, typedCode);
    const int result = finishLogin(session, cfg, typedCode);
    shutdownAccountLogin(session.account);
    platform::wipeText(typedCode);
    return result;
}

int serverPath(Session& session, const Config& cfg, const char* user, const char* password) {
    std::string typed = password; // the dialog's field, wiped by the login
    startLogin(session, cfg, user, typed);
    std::string code;
    const int result = finishLogin(session, cfg, code);
    shutdownServerLink(session.link);
    return result;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 8) return fail("usage: hesap|sunucu ADDRESS USER PASSWORD CODE GAMEFOLDER CONTROL");
    if (!initializeEnet()) return fail("ENet");
    const bool viaAccount = std::strcmp(argv[1], "hesap") == 0;
    Config cfg;
    configSet(cfg, keys::kGame, std::string(argv[6]) + "/morlaken-game");
    configSet(cfg, keys::kServer, viaAccount ? "127.0.0.1:27016" : argv[2]);
    if (viaAccount) configSet(cfg, keys::kAccountApi, argv[2]);
    int result = 1;
    {
        Session session;
        result = viaAccount ? accountPath(session, cfg, argv[3], argv[4], argv[5])
                            : serverPath(session, cfg, argv[3], argv[4]);
    }
    enet_deinitialize();
    char* control = strdup(argv[7]);
    asm volatile("" : : "r"(control) : "memory"); // the copy is made and freed for real
    std::free(control);
    return result;
}
