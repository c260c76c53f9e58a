// e2e_win_test.cpp - the player's path in the Windows build under Wine, against the programs
// scripts/test --windows starts for it: morlaken-devhost natively (its address in
// MORLAKEN_TEST_BASE) and morlaken_server.exe (its address in MORLAKEN_TEST_SERVER, its
// console output in MORLAKEN_TEST_SERVER_LOG; one news item), both with an account "oyuncu" /
// "gizli". The published game is this program itself (stand_in_game.h).
#include "config/config.h"
#include "login/enet_setup.h"
#include "login/session.h"
#include "platform/clock.h"
#include "platform/platform.h"
#include "support/stand_in_game.h"
#include "support/temp_folder.h"
#include "support/wait.h"
#include "update/filelist.h"
#include "update/pass.h"

#include <enet/enet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace {

std::string env(const char* name) {
    return std::getenv(name) ? std::getenv(name) : "";
}

// Pumps the game-server link between tries, as the frame loop does, until it is idle and
// `done` holds; false after a minute.
template <typename F> bool everyFrame(Session& session, F done) {
    return testsupport::waitUntil([&] { return session.link.linkMode == LinkMode::Idle && done(); }, 60,
                                  [&] { pumpGameServer(session.link); });
}

// One login as "oyuncu"; what it ended with.
LoginOutcome logIn(Session& session, const Config& cfg, std::string password) {
    startLogin(session, cfg, "oyuncu", password);
    LoginOutcome outcome;
    std::string code;
    everyFrame(session, [&] {
        return (outcome = takeLoginOutcome(session, cfg, code, platform::now())).event != LoginEvent::None;
    });
    return outcome;
}

TEST(WindowsPlayer, NonAsciiFolderUpdatesThenEitherLoginStartsTheDeliveredGameWithItsTicket) {
    const std::string base = env("MORLAKEN_TEST_BASE"), server = env("MORLAKEN_TEST_SERVER");
    const std::string serverLog = env("MORLAKEN_TEST_SERVER_LOG");
    ASSERT_TRUE(!base.empty() && !server.empty() && !serverLog.empty())
        << "run through scripts/test --windows";
    testsupport::TempFolder temp;
    const std::string game = temp / "oyuncu-ğüşiöç/Morlaken Online";
    ASSERT_TRUE(platform::createFolders(game));
    const std::string before = platform::fullPath(".");
    ASSERT_TRUE(platform::setWorkingFolder(game));
    // The second pass finds every file through the cache (write times read alike from run to
    // run) and leaves it as it was; the third has no cache: it hashes every file (non-ASCII
    // names too), so a file written other than served would be downloaded again, and writes
    // the same cache anew.
    std::string firstCache;
    for (int pass = 0; pass < 3; ++pass) {
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
        if (pass == 0) firstCache = cache;
        EXPECT_TRUE(pass == 0 || (status.filesTotal.load() == 0 && cache == firstCache)) << "pass " << pass;
    }
    ASSERT_TRUE(platform::setWorkingFolder(before));
    std::vector<std::string> names;
    ASSERT_TRUE(platform::listFolder(game, names));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Gökhan notu.txt", "guncelleme.cache", "oyun.exe", "oyun.pak",
                                               "veri"}));

    // A probe of morlaken_server.exe brings its news.
    ASSERT_TRUE(initializeEnet());
    Session session;
    connectToGameServer(session.link, LinkMode::Probe, server);
    EXPECT_TRUE(everyFrame(session, [] { return true; }));
    EXPECT_EQ(session.link.serverStatus, ServerStatus::Online);
    std::vector<wire::NewsItem> news;
    ASSERT_TRUE(takeServerNews(session.link, news));
    ASSERT_EQ(news.size(), 1u);
    EXPECT_EQ(news[0].title + "|" + news[0].body, "Hoş geldin|Windows sürümü Wine altında çalışıyor.");

    // Through the dev host's account service (a ticket of 32 random bytes in hex) and through
    // the game server (16 bytes, the very ticket it printed): a wrong password is refused,
    // the right one starts the downloaded game in the player folder with ticket and address.
    const struct {
        std::string accountApi, server;
        const char* refused;
        size_t hexDigits;
    } ways[] = {{base + "hesap/", "127.0.0.1:7777", kLoginBadCredentials, 64},
                {"", server, kRefusedCredentialsText, 32}};
    for (const auto& w : ways) {
        Config cfg;
        configSet(cfg, keys::kGame, game + "/oyun.exe");
        configSet(cfg, keys::kGameFolder, game);
        configSet(cfg, keys::kServer, w.server);
        configSet(cfg, keys::kAccountApi, w.accountApi);
        LoginOutcome outcome = logIn(session, cfg, "yanlis");
        EXPECT_EQ(outcome.event, LoginEvent::Error);
        EXPECT_EQ(outcome.text, w.refused);
        outcome = logIn(session, cfg, "gizli");
        ASSERT_EQ(outcome.event, LoginEvent::GameStarted) << outcome.text;
        int code = -1;
        EXPECT_EQ(testsupport::waitForExit(session.game.gameProcess, code), platform::ProcessPoll::Exited);
        EXPECT_EQ(code, kGameExitCode);
        std::string given, printed;
        EXPECT_TRUE(platform::readWholeFile(game + "/bilet.txt", given));
        const size_t bar = given.find('|');
        EXPECT_EQ(bar, w.hexDigits) << given;
        EXPECT_EQ(given.find_first_not_of("0123456789abcdef"), bar) << given;
        EXPECT_EQ(given.substr(bar + 1), w.server);
        ASSERT_TRUE(platform::readWholeFile(serverLog, printed));
        EXPECT_EQ(printed.find("giriş oyuncu -> kabul, bilet " + given.substr(0, bar)) != std::string::npos,
                  w.accountApi.empty())
            << printed;
    }
    shutdownAccountLogin(session.account);
    shutdownServerLink(session.link);
    enet_deinitialize();
}

} // namespace
