// The game-server link of the Windows build against morlaken_server.exe, both under Wine:
// scripts/test --windows starts the server (an account "oyuncu" / "gizli", one news item)
// and hands its address in MORLAKEN_TEST_SERVER and its console output (as Wine's Z: path)
// in MORLAKEN_TEST_SERVER_LOG. The game is this program itself (support/stand_in_game.h).
#include "config/config.h"
#include "login/enet_setup.h"
#include "login/gameserver.h"
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

namespace {

TEST(WindowsGameServer, ProbeBringsTheNewsThenAWrongPasswordIsRefusedAndTheRightOneStartsTheGame) {
    const char* server = std::getenv("MORLAKEN_TEST_SERVER");
    const char* serverLog = std::getenv("MORLAKEN_TEST_SERVER_LOG");
    ASSERT_TRUE(server && *server && serverLog && *serverLog) << "run through scripts/test --windows";
    ASSERT_TRUE(initializeEnet());
    testsupport::TempFolder temp;
    GameSettings game;
    game.oyun = platform::executablePath();
    game.oyunKlasoru = temp.path();
    game.sunucu = server;
    game.launcherFolder = temp.path();
    configSet("sunucu", server);
    // Pumps once a frame, as the frame loop does, until the connection is over.
    auto pumpToEnd = [&] {
        const double deadline = platform::now() + 30;
        while (serverLink().linkMode != LinkMode::Idle && platform::now() < deadline) {
            pumpGameServer(game);
            std::this_thread::sleep_for(std::chrono::milliseconds(16));
        }
        EXPECT_EQ(serverLink().linkMode, LinkMode::Idle);
        return takeLinkPoll();
    };

    connectToGameServer(LinkMode::Probe);
    LinkPoll poll = pumpToEnd();
    EXPECT_EQ(serverLink().serverStatus, ServerStatus::Online);
    EXPECT_TRUE(poll.errors.empty());
    ASSERT_TRUE(poll.newsArrived);
    ASSERT_EQ(poll.news.size(), 1u);
    EXPECT_EQ(poll.news[0].title, "Hoş geldin");
    EXPECT_EQ(poll.news[0].body, "Windows sürümü Wine altında çalışıyor.");

    startGameServerLogin("oyuncu", "yanlis");
    poll = pumpToEnd();
    ASSERT_EQ(poll.errors.size(), 1u);
    EXPECT_EQ(poll.errors[0], kRefusedTexts[1]);
    EXPECT_FALSE(poll.gameStarted);

    startGameServerLogin("oyuncu", "gizli");
    poll = pumpToEnd();
    EXPECT_TRUE(poll.errors.empty()) << poll.errors[0];
    ASSERT_TRUE(poll.gameStarted);
    ASSERT_NE(gameWatch().gameProcess, 0);
    int code = -1;
    EXPECT_EQ(testsupport::waitForExit(gameWatch().gameProcess, code), platform::ProcessPoll::Exited);
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
    shutdownServerLink();
    enet_deinitialize();
}

} // namespace
