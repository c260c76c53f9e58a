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
    GameWatch watch;
};

// Every launch hands the game the ticket, the server and another working folder (the
// program is still found beside the launcher, also by a Windows-style relative path) in a
// record only its owner may read, even where an older one was readable by others; the
// launcher's environment keeps no ticket. Only konsol=1 leaves the game the launcher's
// output; a non-zero exit soon after the start comes back with its code, any other end is
// an ordinary one.
TEST_F(GameLaunchTest, TheGameGetsTicketServerAndFolderAndAnEarlyNonZeroExitComesBackWithItsCode) {
    namespace fs = std::filesystem;
    struct Case {
        const char *oyun, *konsol;
        int exitCode;
        double watchedAfter; // seconds added to the clock when the end is seen
        GameWatchEvent event;
    } cases[] = {
        {"morlaken-game", "", 1, 0, GameWatchEvent::EarlyExit},
        {".\\morlaken-game", "true", 1, 25, GameWatchEvent::Ended}, // ran long enough: an ordinary end
        {"morlaken-game", "1 ", 0, 0, GameWatchEvent::Ended},
        {"morlaken-game", "1", 200, 0, GameWatchEvent::EarlyExit},
    };
    const std::string ours = fs::read_symlink("/proc/self/fd/1").string();
    TempFolder work;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.oyun) + " konsol=" + c.konsol);
        GameFolder game(c.exitCode, 0.5);
        writeFile(game.dir / "kayit.txt", "eski");
        fs::permissions(game.dir / "kayit.txt", fs::perms::group_read | fs::perms::others_read,
                        fs::perm_options::add);
        GameSettings s = game.settings();
        s.oyun = c.oyun;
        s.konsol = c.konsol;
        s.oyunKlasoru = work.path();
        std::string error;
        ASSERT_TRUE(launch(s, error)) << error;
        EXPECT_EQ(std::getenv("MORLAKEN_BILET"), nullptr);
        const std::string fd = "/proc/" + std::to_string(watch.gameProcess) + "/fd/1";
        std::string target;
        EXPECT_TRUE(waitUntil(
            [&] {
                std::error_code ec;
                target = fs::read_symlink(fd, ec).string();
                return !ec;
            },
            10));
        EXPECT_EQ(target, std::string(c.konsol) == "1" ? ours : "/dev/null");
        GameWatchResult end = waitForGameEnd(watch, c.watchedAfter);
        EXPECT_EQ(end.event, c.event);
        EXPECT_EQ(watch.gameProcess, 0);
        EXPECT_EQ(watch.gameExitCode, static_cast<uint32_t>(c.exitCode));
        EXPECT_EQ(end.message, c.event == GameWatchEvent::EarlyExit
                                   ? "Oyun açılırken kapandı (çıkış kodu " + formatExitCode(c.exitCode) +
                                         "). Bu kodu Velmor'a gönder."
                                   : "");
        auto rec = game.record();
        EXPECT_EQ(rec["bilet"], "bilet-çok-gizli");
        EXPECT_EQ(rec["bilet_var"], "1");
        EXPECT_EQ(rec["sunucu"], "127.0.0.1:27016");
        EXPECT_EQ(rec["klasor"], fs::canonical(work.path()).string());
        EXPECT_EQ(rec["arguman_sayisi"], "0");
        EXPECT_EQ(fs::status(game.dir / "kayit.txt").permissions(),
                  fs::perms::owner_read | fs::perms::owner_write);
    }
    EXPECT_EQ(std::getenv("MORLAKEN_BILET"), nullptr);
    EXPECT_EQ(formatExitCode(1), "0x00000001");
    EXPECT_EQ(formatExitCode(0xC0000005u), "0xC0000005");
    EXPECT_EQ(formatExitCode(137), "0x00000089");
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
    EXPECT_FALSE(fileExists(game.dir / "kayit.txt"));
}

} // namespace
