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

// Calls `step` once a frame until it returns true or 30 seconds pass.
template <typename F> bool everyFrame(F step) {
    for (const double deadline = platform::now() + 30; platform::now() < deadline;
         std::this_thread::sleep_for(std::chrono::milliseconds(10)))
        if (step()) return true;
    return false;
}

// The login through `session` until the game it started has ended; "" or why it failed.
std::string logIn(Session& session, const Config& cfg, bool viaAccount, char** argv) {
    std::string typedCode; // the dialog's code field
    if (viaAccount) {
        typedCode = argv[5];
        session.account.accountPassword = argv[4];
        session.account.totpStep = true;
        sendLoginCode(session, cfg, argv[3], typedCode);
    } else {
        std::string typed = argv[4]; // the dialog's password field, wiped by the login
        startLogin(session, cfg, argv[3], typed);
    }
    LoginOutcome outcome;
    everyFrame([&] {
        pumpGameServer(session.link);
        outcome = takeLoginOutcome(session, cfg, typedCode, platform::now());
        return outcome.event != LoginEvent::None;
    });
    const bool ended =
        outcome.event == LoginEvent::GameStarted && everyFrame([&] {
            return watchGameProcess(session.game, platform::now()).event != GameWatchEvent::StillRunning;
        });
    shutdownAccountLogin(session.account);
    shutdownServerLink(session.link);
    platform::wipeText(typedCode);
    if (outcome.event != LoginEvent::GameStarted) return "login: " + outcome.text;
    return ended ? "" : "the game did not end";
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 8 || !initializeEnet()) {
        std::fprintf(stderr,
                     "login_probe: hesap|sunucu ADDRESS USER PASSWORD CODE GAMEFOLDER CONTROL; ENet\n");
        return 1;
    }
    const bool viaAccount = std::strcmp(argv[1], "hesap") == 0;
    Config cfg;
    configSet(cfg, keys::kGame, std::string(argv[6]) + "/morlaken-game");
    configSet(cfg, keys::kServer, viaAccount ? "127.0.0.1:27016" : argv[2]);
    if (viaAccount) configSet(cfg, keys::kAccountApi, argv[2]);
    std::string failure;
    {
        Session session;
        failure = logIn(session, cfg, viaAccount, argv);
    }
    enet_deinitialize();
    char* control = strdup(argv[7]);
    asm volatile("" : : "r"(control) : "memory"); // the copy is made and freed for real
    std::free(control);
    if (!failure.empty()) std::fprintf(stderr, "login_probe: %s\n", failure.c_str());
    return failure.empty() ? 0 : 1;
}
