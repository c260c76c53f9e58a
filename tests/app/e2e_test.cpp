// e2e_test.cpp - the real launcher on an X server of the test's own, driven with xdotool:
// logging in and playing. morlaken-devhost serves the update (which delivers morlaken-game
// itself) and the account service while the news download hangs inside the HTTP library.
// The window opens centred; START, the user name, Tab, the password and the two-step code
// (computed with morlaken-devhost --totp) start the game with ticket and server address
// while the launcher hides; a normal end shows the closing screen, and a click on it ends the
// run cleanly (exit 0) with the news download still hanging.
// What the player is told is read from MORLAKEN_MESSAGE_LOG. (Dragging, retrying, the keys
// and the closing screen's picture: tests/screens, on a Launcher of the test's own.)
#include "app/launcher_process.h"
#include "login/login_support.h"

#include "support/devhost.h"
#include "support/site.h"
#include "support/temp_folder.h"
#include "support/test_server.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

// ---- logging in and playing ----

TEST(LoginEndToEnd, TwoStepLoginStartsTheDeliveredGameThenTheClosingScreenEndsTheRun) {
    constexpr const char* kSecret = "JBSWY3DPEHPK3PXP"; // the two-step secret of "ayse"
    TempFolder scratch, site;
    const fs::path root = scratch.path();
    const std::string sunucu = "127.0.0.1:27016";
    writeFile(root / "users.txt", logintest::userLine("ayse", "", "Gizli-Sifre42", kSecret, true, ""));
    // The game as the update server has it, ending with 0 after 4 s; the launcher is told to
    // start it from there and to hand it `sunucu`.
    publishSite(site.path(),
                {{"oyun/morlaken-game", readFile(builtProgram("morlaken-game"))},
                 {"oyun/morlaken-game.ini", "cikis_kodu=0\nsure=4\npencere=0\nkayit=kayit.txt\n"}});
    DevHost devhost;
    ASSERT_TRUE(devhost.start({"--root", site.path(), "--port", "0", "--users", root / "users.txt"}))
        << devhost.log();
    TestServer news;
    news.route("/haberler.txt", stall("Bakım|Sunucular bakımda|Kısa süre sonra dönüyoruz.\n", 6));
    LauncherProcess launcher(root);
    writeFile(launcher.player() / "varsayilan.ini",
              "guncelleme=" + devhost.url() + "\nhesap_api=" + devhost.url() +
                  "hesap/\nhaber_adresi=" + news.baseUrl() +
                  "haberler.txt\noyun=oyun/morlaken-game\nsunucu=" + sunucu + "\nyerel_sunucu=\nweb=\n");
    const std::string messages = root / "mesajlar.txt";
    ASSERT_TRUE(launcher.start({{"MORLAKEN_MESSAGE_LOG", messages}}));
    ASSERT_TRUE(launcher.waitForWindow()) << launcher.err();
    std::string screen, geometry;
    launcher.xdo({"getdisplaygeometry"}, &screen);
    launcher.xdo({"getwindowgeometry", "--shell", launcher.window()}, &geometry);
    int screenW = 0, screenH = 0;
    std::istringstream(screen) >> screenW >> screenH;
    EXPECT_NE(geometry.find("X=" + std::to_string((screenW - 800) / 2) +
                            "\nY=" + std::to_string((screenH - 610) / 2) + "\n"),
              std::string::npos)
        << geometry << " on " << screen;
    // The update delivers the game; START is clickable once the pass is over.
    ASSERT_TRUE(waitFor([&] { return fileExists(launcher.player() / "guncelleme.cache"); }, 60.0))
        << launcher.err();
    ASSERT_TRUE(fileExists(launcher.player() / "oyun/morlaken-game"));

    ASSERT_TRUE(launcher.click(424, 534)); // START: the dialog opens on the empty user name
    ASSERT_TRUE(launcher.type("ayse"));
    ASSERT_TRUE(launcher.key("Tab"));
    ASSERT_TRUE(launcher.type("Gizli-Sifre42"));
    ASSERT_TRUE(launcher.key("Return"));
    const std::string notice =
        "BİLGİ: Hesabında iki adımlı doğrulama açık. Doğrulama uygulamandaki 6 haneli kodu gir.\n";
    ASSERT_TRUE(waitFor([&] { return readFile(messages).find(notice) != std::string::npos; }, 30.0))
        << readFile(messages) << launcher.err();
    EXPECT_FALSE(fileExists(launcher.player() / "oyun/kayit.txt"));
    // The remember box was on: the user name is kept for the next start.
    EXPECT_NE(readFile(launcher.player() / "launcher.ini").find("kullanici=ayse\r\n"), std::string::npos);

    ASSERT_TRUE(launcher.key("Return")); // closes the notice; the code field has the focus
    ProgramRun code = runCaptured(builtProgram("morlaken-devhost"), {"--totp", kSecret});
    ASSERT_EQ(code.exitCode, 0) << code.err;
    ASSERT_TRUE(launcher.type(code.out.substr(0, 6)));
    ASSERT_TRUE(launcher.key("Return"));

    std::map<std::string, std::string> record;
    ASSERT_TRUE(waitFor(
        [&] {
            std::istringstream in(readFile(launcher.player() / "oyun/kayit.txt"));
            for (std::string line; std::getline(in, line);)
                record[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
            return record.count("arguman_sayisi") == 1;
        },
        30.0))
        << readFile(messages) << launcher.err();
    EXPECT_EQ(record["bilet"].size(), 64u); // the service's ticket: 32 bytes in hex
    EXPECT_EQ(record["bilet_var"], "1");
    EXPECT_EQ(record["sunucu"], sunucu);
    // While the game runs the launcher is hidden and its own environment has no ticket.
    EXPECT_TRUE(waitFor([&] { return launcher.window().empty(); }, 10.0, LauncherProcess::pollGently));
    const std::string environ = readFile("/proc/" + std::to_string(launcher.child().pid()) + "/environ");
    ASSERT_FALSE(environ.empty());
    EXPECT_EQ(environ.find("MORLAKEN_BILET"), std::string::npos);
    EXPECT_EQ(environ.find(record["bilet"]), std::string::npos);

    // The game ends with 0: the closing screen (the window back), which a click ends, while
    // the news download still hangs.
    ASSERT_TRUE(waitFor([&] { return !launcher.window().empty(); }, 30.0, LauncherProcess::pollGently))
        << launcher.err();
    EXPECT_EQ(news.stalledNow(), 1);
    int exitCode = -1;
    EXPECT_TRUE(launcher.click(640, 320));
    ASSERT_TRUE(launcher.child().wait(20, exitCode)) << launcher.err();
    EXPECT_EQ(exitCode, 0) << launcher.err();
}

} // namespace
