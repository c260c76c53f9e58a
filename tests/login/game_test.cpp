// game_test.cpp - starting morlaken-game with the ticket and watching it end.
#include "login_support.h"
#include "platform/clock.h"

#include <cstdlib>

using namespace logintest;

namespace {

class GameLaunchTest : public ::testing::Test {
  protected:
    bool launch(const GameSettings& settings, std::string& error) {
        return launchGame(watch, "bilet-çok-gizli", settings, platform::now(), error);
    }
    GameWatchResult waitForEnd(double nowOffset = 0) { return waitForGameEnd(watch, nowOffset); }
    GameWatch watch;
};

TEST_F(GameLaunchTest, TheGameGetsTicketServerAndFolderButTheLauncherKeepsNoTicket) {
    GameFolder game;
    TempFolder work;
    GameSettings s = game.settings();
    s.oyunKlasoru = work.path(); // another working folder: `oyun` is still found beside the launcher
    std::string error;
    ASSERT_TRUE(launch(s, error)) << error;
    EXPECT_EQ(std::getenv("MORLAKEN_BILET"), nullptr);
    EXPECT_NE(watch.gameProcess, 0);
    ASSERT_TRUE(waitUntil([&] { return game.ran(); }, 20));
    GameWatchResult end = waitForEnd();
    EXPECT_EQ(end.event, GameWatchEvent::Ended);
    EXPECT_EQ(watch.gameProcess, 0);
    auto rec = game.record();
    EXPECT_EQ(rec["bilet"], "bilet-çok-gizli");
    EXPECT_EQ(rec["bilet_var"], "1");
    EXPECT_EQ(rec["sunucu"], "127.0.0.1:27016");
    EXPECT_EQ(rec["klasor"], std::filesystem::canonical(work.path()).string());
    EXPECT_EQ(rec["arguman_sayisi"], "0");
    EXPECT_EQ(std::getenv("MORLAKEN_BILET"), nullptr);
    // The record holds the whole ticket: only its owner may read it, even when an older
    // record was readable by others.
    namespace fs = std::filesystem;
    const auto ownerOnly = fs::perms::owner_read | fs::perms::owner_write;
    EXPECT_EQ(fs::status(game.dir / "kayit.txt").permissions(), ownerOnly);
    fs::permissions(game.dir / "kayit.txt", fs::perms::group_read | fs::perms::others_read,
                    fs::perm_options::add);

    // A Windows-style relative path from a configuration file finds the same program.
    s = game.settings();
    s.oyun = ".\\morlaken-game";
    ASSERT_TRUE(launch(s, error)) << error;
    EXPECT_EQ(waitForEnd().event, GameWatchEvent::Ended);
    EXPECT_EQ(fs::status(game.dir / "kayit.txt").permissions(), ownerOnly);
}

TEST_F(GameLaunchTest, RefusedLaunchesSayWhy) {
    GameFolder game;
    writeFile(game.dir / "duz-dosya", "not a program");
    struct Case {
        std::string oyun;
        std::string error; // exact, or the beginning when it ends in ':'
    } cases[] = {
        {"", "launcher.ini içinde oyun= satırı boş."},
        {"yok/morlaken-game",
         "Oyun dosyaları eksik. Güncellemenin bitmesini bekle ya da launcher'ı yeniden aç."},
        {game.dir / "yok",
         "Oyun dosyaları eksik. Güncellemenin bitmesini bekle ya da launcher'ı yeniden aç."},
        {"duz-dosya", "Oyun başlatılamadı (13): duz-dosya"},
    };
    for (const auto& c : cases) {
        GameSettings s = game.settings();
        s.oyun = c.oyun;
        std::string error;
        EXPECT_FALSE(launch(s, error)) << c.oyun;
        EXPECT_EQ(error, c.error) << c.oyun;
        EXPECT_EQ(watch.gameProcess, 0) << c.oyun;
    }
    EXPECT_FALSE(game.ran());
}

// Only konsol=1 leaves the game the launcher's output; a non-zero exit soon after the start
// comes back with its code, any other end is an ordinary one.
TEST_F(GameLaunchTest, KonsolKeepsTheOutputAndAnEarlyNonZeroExitComesBackWithItsCode) {
    struct Case {
        const char* konsol;
        int exitCode;
        double watchedAfter; // seconds added to the clock when the end is seen
        GameWatchEvent event;
    } cases[] = {
        {"", 1, 0, GameWatchEvent::EarlyExit},
        {"true", 1, 25, GameWatchEvent::Ended}, // ran long enough: an ordinary end
        {"1 ", 0, 0, GameWatchEvent::Ended},
        {"1", 200, 0, GameWatchEvent::EarlyExit},
    };
    const std::string ours = std::filesystem::read_symlink("/proc/self/fd/1").string();
    for (const auto& c : cases) {
        GameFolder game(c.exitCode, 0.5);
        GameSettings s = game.settings();
        s.konsol = c.konsol;
        std::string error;
        ASSERT_TRUE(launch(s, error)) << error;
        const std::string fd = "/proc/" + std::to_string(watch.gameProcess) + "/fd/1";
        std::string target;
        EXPECT_TRUE(waitUntil(
            [&] {
                std::error_code ec;
                target = std::filesystem::read_symlink(fd, ec).string();
                return !ec;
            },
            10));
        EXPECT_EQ(target, std::string(c.konsol) == "1" ? ours : "/dev/null") << "konsol=" << c.konsol;
        GameWatchResult end = waitForEnd(c.watchedAfter);
        EXPECT_EQ(end.event, c.event) << c.exitCode;
        EXPECT_EQ(watch.gameExitCode, static_cast<uint32_t>(c.exitCode));
        std::string expected;
        if (c.event == GameWatchEvent::EarlyExit)
            expected = "Oyun açılırken kapandı (çıkış kodu " + formatExitCode(c.exitCode) +
                       "). Bu kodu Velmor'a gönder.";
        EXPECT_EQ(end.message, expected);
    }
    EXPECT_EQ(formatExitCode(1), "0x00000001");
    EXPECT_EQ(formatExitCode(0xC0000005u), "0xC0000005");
    EXPECT_EQ(formatExitCode(137), "0x00000089");
}

} // namespace
