// The game-server link of the Windows build against morlaken_server.exe, both under Wine:
// scripts/test --windows starts the server (an account "oyuncu" / "gizli", one news item)
// and hands its address in MORLAKEN_TEST_SERVER and its console output (as Wine's Z: path)
// in MORLAKEN_TEST_SERVER_LOG. The game is this program itself (support/stand_in_game.h).
#include "config/config.h"
#include "login/enet_setup.h"
#include "login/session.h"
#include "platform/clock.h"
#include "platform/platform.h"
#include "support/stand_in_game.h"
#include "support/temp_folder.h"

#include <enet/enet.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(WindowsGameServer, ProbeBringsTheNewsThenAWrongPasswordIsRefusedAndTheRightOneStartsTheGame) {
    const char* server = std::getenv("MORLAKEN_TEST_SERVER");
    const char* serverLog = std::getenv("MORLAKEN_TEST_SERVER_LOG");
    ASSERT_TRUE(server && *server && serverLog && *serverLog) << "run through scripts/test --windows";
    ASSERT_TRUE(initializeEnet());
    testsupport::TempFolder temp;
    Config cfg;
    configSet(cfg, keys::kGame, platform::executablePath());
    configSet(cfg, keys::kGameFolder, temp.path());
    configSet(cfg, keys::kServer, server);
    Session session;
    ServerLink& link = session.link;
    // Pumps once a frame, as the frame loop does, until the connection is over; what a login
    // ended with.
    auto pumpToEnd = [&] {
        const double deadline = platform::now() + 30;
        while (link.linkMode != LinkMode::Idle && platform::now() < deadline) {
            pumpGameServer(link);
            std::this_thread::sleep_for(std::chrono::milliseconds(16));
        }
        EXPECT_EQ(link.linkMode, LinkMode::Idle);
        std::string code;
        return takeLoginOutcome(session, cfg, code, platform::now());
    };

    connectToGameServer(link, LinkMode::Probe, server);
    pumpToEnd();
    EXPECT_EQ(link.serverStatus, ServerStatus::Online);
    std::vector<wire::NewsItem> news;
    ASSERT_TRUE(takeServerNews(link, news));
    ASSERT_EQ(news.size(), 1u);
    EXPECT_EQ(news[0].title, "Hoş geldin");
    EXPECT_EQ(news[0].body, "Windows sürümü Wine altında çalışıyor.");

    std::string password = "yanlis";
    startLogin(session, cfg, "oyuncu", password);
    LoginOutcome outcome = pumpToEnd();
    EXPECT_EQ(outcome.event, LoginEvent::Error);
    EXPECT_EQ(outcome.text, kRefusedCredentialsText);

    password = "gizli";
    startLogin(session, cfg, "oyuncu", password);
    outcome = pumpToEnd();
    ASSERT_EQ(outcome.event, LoginEvent::GameStarted) << outcome.text;
    ASSERT_NE(session.game.gameProcess, 0);
    int code = -1;
    EXPECT_EQ(testsupport::waitForExit(session.game.gameProcess, code), platform::ProcessPoll::Exited);
    EXPECT_EQ(code, kGameExitCode);

    // The game got the very ticket the server printed, and the server's address.
    std::string given, printed;
    ASSERT_TRUE(platform::readWholeFile(temp / "bilet.txt", given));
    const size_t bar = given.find('|');
    ASSERT_EQ(bar, 32u) << given; // 16 random bytes in hex
    EXPECT_EQ(given.substr(bar + 1), server);
    ASSERT_TRUE(platform::readWholeFile(serverLog, printed));
    EXPECT_NE(printed.find("giriş oyuncu -> kabul, bilet " + given.substr(0, bar)), std::string::npos)
        << printed;
    shutdownServerLink(link);
    enet_deinitialize();
}

} // namespace
