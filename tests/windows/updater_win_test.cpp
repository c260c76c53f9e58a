// The update worker and the account login of the Windows build against morlaken-devhost
// running natively on this machine: scripts/test --windows starts it (with an account
// "oyuncu" whose password is "gizli") and hands its address in MORLAKEN_TEST_BASE and the
// published folder (as Wine's Z: path) in MORLAKEN_TEST_SITE. The published "oyun.exe" is
// a copy of this program: started as the game, it only writes down what it was given
// (stand_in_game.h).
#include "login/session.h"
#include "platform/clock.h"
#include "platform/platform.h"
#include "support/stand_in_game.h"
#include "support/temp_folder.h"
#include "update/filelist.h"
#include "update/pass.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

// Polls the login once a frame (as the frame loop does) until its outcome is taken.
LoginOutcome pollUntilAnswered(Session& session, const Config& cfg) {
    const double deadline = platform::now() + 60;
    LoginOutcome outcome;
    std::string code;
    while ((outcome = takeLoginOutcome(session, cfg, code, platform::now())).event == LoginEvent::None &&
           platform::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(16));
    return outcome;
}

TEST(WindowsUpdater, NonAsciiPlayerFolderUpdatesThenLogsInAndStartsTheGame) {
    const char* base = std::getenv("MORLAKEN_TEST_BASE");
    const char* site = std::getenv("MORLAKEN_TEST_SITE");
    ASSERT_TRUE(base && *base && site && *site) << "run through scripts/test --windows";
    testsupport::TempFolder temp;
    const std::string game = temp / "oyuncu-ğüşiöç/Morlaken Online";
    ASSERT_TRUE(platform::createFolders(game));
    const std::string before = platform::fullPath(".");
    ASSERT_TRUE(platform::setWorkingFolder(game));

    std::string firstCache;
    for (int pass = 0; pass < 3; ++pass) {
        // The third pass has no cache: it hashes every file (non-ASCII names too) and
        // downloads none of them.
        if (pass == 2) {
            ASSERT_TRUE(platform::deleteFile("guncelleme.cache"));
        }
        UpdateStatus status;
        updateWorker(status, base, platform::launcherFileName());
        std::string error, cache;
        copyUpdateError(status, error);
        ASSERT_EQ(status.state.load(), UpdateState::UpToDate) << error;
        ASSERT_TRUE(platform::readWholeFile("guncelleme.cache", cache));
        EXPECT_EQ(parseUpdateCache(cache).entries.size(), 4u);
        // Nothing is downloaded again; the second pass finds every file through the cache
        // (write times read alike from run to run) and leaves it as it was, and the third
        // writes it anew.
        if (pass == 0) firstCache = cache;
        if (pass > 0) {
            EXPECT_EQ(status.filesTotal.load(), 0);
            EXPECT_TRUE(cache == firstCache) << "pass " << pass;
        }
    }
    ASSERT_TRUE(platform::setWorkingFolder(before));

    // Every served file arrived byte for byte (read through the platform layer: the
    // folder's name is not ASCII); the folder holds nothing else but the cache.
    std::vector<std::string> names;
    ASSERT_TRUE(platform::listFolder(game, names));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Gökhan notu.txt", "guncelleme.cache", "oyun.exe", "oyun.pak",
                                               "veri"}));
    for (const char* name : {"oyun.pak", "veri/harita.map", "Gökhan notu.txt", "oyun.exe"}) {
        std::string local, served;
        EXPECT_TRUE(platform::readWholeFile(game + "/" + name, local)) << name;
        EXPECT_TRUE(platform::readWholeFile(std::string(site) + "/" + name, served)) << name;
        EXPECT_TRUE(local == served) << name;
    }

    // The login posts to the dev host: a wrong password is refused, the right one brings a
    // ticket and the downloaded game starts in the player folder with it.
    Config cfg;
    configSet(cfg, keys::kGame, game + "/oyun.exe");
    configSet(cfg, keys::kGameFolder, game);
    configSet(cfg, keys::kServer, "127.0.0.1:7777");
    configSet(cfg, keys::kAccountApi, std::string(base) + "hesap/");
    Session session;
    const struct {
        const char* password;
        LoginEvent event;
        const char* text;
    } logins[] = {{"yanlis", LoginEvent::Error, kLoginBadCredentials},
                  {"gizli", LoginEvent::GameStarted, ""}};
    for (const auto& login : logins) {
        std::string password = login.password;
        startLogin(session, cfg, "oyuncu", password);
        const LoginOutcome outcome = pollUntilAnswered(session, cfg);
        EXPECT_EQ(outcome.event, login.event) << outcome.text;
        EXPECT_EQ(outcome.text, login.text);
    }
    ASSERT_NE(session.game.gameProcess, 0);
    int code = -1;
    EXPECT_EQ(testsupport::waitForExit(session.game.gameProcess, code), platform::ProcessPoll::Exited);
    EXPECT_EQ(code, kGameExitCode);
    std::string given;
    ASSERT_TRUE(platform::readWholeFile(game + "/bilet.txt", given));
    const size_t bar = given.find('|');
    ASSERT_NE(bar, std::string::npos) << given;
    EXPECT_EQ(bar, 64u) << given; // 32 random bytes in hex
    EXPECT_EQ(given.find_first_not_of("0123456789abcdef"), bar) << given;
    EXPECT_EQ(given.substr(bar + 1), "127.0.0.1:7777");
    shutdownAccountLogin(session.account);
}

} // namespace
