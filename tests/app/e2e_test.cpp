// e2e_test.cpp - the real launcher on an X server of the test's own, driven with xdotool:
//   - its window opens centred and borderless; a press on empty space drags it, a press on
//     a widget does not; after a server error, a click on the failure line starts a new pass
//     that brings the empty player folder up to date once the server is fixed, and the
//     launcher still closes cleanly (exit 0) while its news download hangs;
//   - logging in and playing: morlaken-devhost serves the update (which delivers
//     morlaken-game itself) and the account service; START, the user name, Tab, the
//     password and the two-step code (computed with morlaken-devhost --totp) start the game
//     with ticket and server address while the launcher hides; a normal end shows the
//     1280 x 640 closing screen, which a click closes.
// What the player is told is read from MORLAKEN_MESSAGE_LOG.
#include "app/launcher_process.h"
#include "login/login_support.h"

#include "support/devhost.h"
#include "support/site.h"
#include "support/temp_folder.h"
#include "support/test_server.h"

#include <gtest/gtest.h>
#include <stb_image.h>

#include <map>
#include <sstream>

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

// ---- the window and the update ----

// The game as the server has it: nested folders, a blank and Turkish letters in a name,
// an empty file and one of a few megabytes.
const SiteFiles kGameFiles = {{"oyun.pak", patternBytes(3 * 1048576 + 17, 1)},
                              {"veri/harita/ova.map", patternBytes(200000, 2)},
                              {"ses/müzik tema.ogg", patternBytes(65537, 3)},
                              {"beni oku.txt", "Morlaken Online\n"},
                              {"bos.dat", ""}};

TEST(LauncherEndToEnd, OpensCentredDragsFromEmptySpaceOnlyAndRetriesTheUpdateOnAClick) {
    TempFolder root, site;
    publishSite(site.path(), kGameFiles, "0.1.0-e2e");
    TestServer server;
    server.serveFolder(site.path());
    const std::string list = readFile(site / "dosyalar.txt");
    server.route("/dosyalar.txt", answer(503, "bakımda"));
    // The news feed hangs for the whole run: the launcher must still close cleanly while
    // its feed thread waits inside the HTTP library.
    server.route("/haberler.txt", stall("Bakım|Sunucular bakımda|Kısa süre sonra dönüyoruz.\n", 6));
    LauncherProcess launcher(root.path());
    const fs::path player = launcher.player();
    writeFile(player / "varsayilan.ini", "guncelleme=" + server.baseUrl() + "\nhaber_adresi=" +
                                             server.baseUrl() + "haberler.txt\nweb=\ndiscord=\n");
    ASSERT_TRUE(launcher.start());
    ASSERT_TRUE(launcher.waitForWindow()) << launcher.err();
    const std::string w = launcher.window();
    const auto at = [&](int x, int y) {
        std::string out;
        launcher.xdo({"getwindowgeometry", "--shell", w}, &out);
        return out.find("X=" + std::to_string(x) + "\nY=" + std::to_string(y) + "\n") != std::string::npos;
    };
    const auto mouse = [&](int x, int y, const char* button = nullptr) {
        std::vector<std::string> args = {"mousemove", std::to_string(x), std::to_string(y)};
        if (button) args.insert(args.end(), {button, "1"});
        launcher.xdo(args);
    };
    const auto release = [&] { launcher.xdo({"mouseup", "1"}); }; // where the pointer is
    int screenW = 0, screenH = 0;
    std::string out;
    launcher.xdo({"getdisplaygeometry"}, &out);
    std::istringstream(out) >> screenW >> screenH;
    const int x0 = (screenW - 800) / 2, y0 = (screenH - 610) / 2;
    ASSERT_TRUE(at(x0, y0)) << "not centred on " << out;

    // A press on the news banner (hot area "afis"), moved within it and released there: the
    // banner took the press, so the window must not follow. (No news came: the click
    // itself opens nothing.)
    mouse(x0 + 600, y0 + 200, "mousedown");
    for (int step = 1; step <= 5; ++step)
        mouse(x0 + 600 - 10 * step, y0 + 200 - step);
    release();

    // A press on empty space: once the launcher has taken it (the window follows a one-pixel
    // move), the window follows the cursor's movement exactly. Had the press above dragged,
    // the window would no longer be at (x0, y0) here.
    const int ax = x0 + 100, ay = y0 + 100;
    bool anchored = false;
    for (int attempt = 0; attempt < 10 && !anchored; ++attempt) {
        mouse(ax, ay, "mousedown");
        mouse(ax + 1, ay);
        anchored = waitFor([&] { return at(x0 + 1, y0); }, 1.0, LauncherProcess::pollGently);
        if (!anchored) { // the press was seen after the move: the window stayed, start over
            release();
            ASSERT_TRUE(at(x0, y0)) << "a press on a widget, or a late press, moved the window";
        }
    }
    ASSERT_TRUE(anchored) << "the drag never started";
    mouse(ax + 50, ay + 30);
    EXPECT_TRUE(waitFor([&] { return at(x0 + 50, y0 + 30); }, 5.0, LauncherProcess::pollGently));
    mouse(ax - 7, ay - 9);
    EXPECT_TRUE(waitFor([&] { return at(x0 - 7, y0 - 9); }, 5.0, LauncherProcess::pollGently));
    release();

    // The update failed; once the server is fixed, nothing happens until the player clicks
    // the failure line.
    ASSERT_TRUE(waitFor([&] { return server.requestCount("/dosyalar.txt") == 1; }, 30.0));
    EXPECT_FALSE(fs::exists(player / "oyun.pak"));
    server.route("/dosyalar.txt", answer(200, list));
    ASSERT_TRUE(waitFor([&] { return (launcher.click(700, 426), server.requestCount("/dosyalar.txt") >= 2); },
                        30.0, LauncherProcess::pollGently));
    EXPECT_EQ(server.requestCount("/dosyalar.txt"), 2); // one click, one new pass
    ASSERT_TRUE(waitFor([&] { return bool(folderMatches(player, kGameFiles)); }, 60.0)) << listTree(player);
    // The pass ends with its cache written and no download left behind.
    ASSERT_TRUE(waitFor([&] { return fs::exists(player / "guncelleme.cache"); }, 20.0));
    EXPECT_EQ(listTree(player).find(".indir"), std::string::npos) << listTree(player);

    // The retry raised the error message; "TAMAM" closes it, then the close button works,
    // with the feed download still hanging.
    EXPECT_EQ(server.stalledNow(), 1);
    ASSERT_TRUE(launcher.click(400, 377));
    int code = -1;
    ASSERT_TRUE(launcher.closeWithButton(code)) << launcher.err();
    EXPECT_EQ(code, 0) << launcher.err();
}

// ---- logging in and playing ----

TEST(LoginEndToEnd, TwoStepLoginStartsTheDeliveredGameThenTheClosingScreenEndsTheRun) {
    constexpr const char* kSecret = "JBSWY3DPEHPK3PXP"; // the two-step secret of "ayse"
    TempFolder scratch, site;
    const fs::path root = scratch.path();
    const std::string shot = root / "kapanis.png", sunucu = "127.0.0.1:27016";
    writeFile(root / "users.txt", logintest::userLine("ayse", "", "Gizli-Sifre42", kSecret, true, ""));
    // The game as the update server has it, ending with 0 after 4 s; the launcher is told to
    // start it from there and to hand it `sunucu`.
    publishSite(site.path(),
                {{"oyun/morlaken-game", readFile(builtProgram("morlaken-game"))},
                 {"oyun/morlaken-game.ini", "cikis_kodu=0\nsure=4\npencere=0\nkayit=kayit.txt\n"}});
    DevHost devhost;
    ASSERT_TRUE(devhost.start({"--root", site.path(), "--port", "0", "--users", root / "users.txt"}))
        << devhost.log();
    LauncherProcess launcher(root);
    writeFile(launcher.player() / "varsayilan.ini",
              "guncelleme=" + devhost.url() + "\nhesap_api=" + devhost.url() +
                  "hesap/\noyun=oyun/morlaken-game\nsunucu=" + sunucu + "\nyerel_sunucu=\nweb=\n");
    const std::string messages = root / "mesajlar.txt";
    ASSERT_TRUE(launcher.start({{"MORLAKEN_MESSAGE_LOG", messages},
                                {"MORLAKEN_SCREENSHOT", shot},
                                {"MORLAKEN_SCREENSHOT_AFTER", "kapanis"}}));
    ASSERT_TRUE(launcher.waitForWindow()) << launcher.err();
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

    // The game ends with 0: the closing screen, which a click ends.
    ASSERT_TRUE(waitFor([&] { return fileExists(shot); }, 30.0)) << launcher.err();
    EXPECT_TRUE(launcher.click(640, 320));
    int exitCode = -1;
    ASSERT_TRUE(launcher.child().wait(20, exitCode)) << launcher.err();
    EXPECT_EQ(exitCode, 0) << launcher.err();

    // The closing screen fills 1280 x 640 with "kapanis.jpg", the logo over its corner.
    const fs::path shots = fs::path(MORLAKEN_BIN_DIR).parent_path() / "screenshots";
    fs::create_directories(shots);
    fs::copy_file(shot, shots / "kapanis_ekrani.png", fs::copy_options::overwrite_existing);
    int w = 0, h = 0, n = 0, iw = 0, ih = 0;
    stbi_uc* shown = stbi_load(shot.c_str(), &w, &h, &n, 3);
    stbi_uc* art = stbi_load((fs::path(MORLAKEN_BIN_DIR) / "veri/kapanis.jpg").c_str(), &iw, &ih, &n, 3);
    ASSERT_TRUE(shown && art);
    ASSERT_EQ(w, 1280);
    ASSERT_EQ(h, 640);
    ASSERT_EQ(iw, 1280);
    auto meanDiff = [&](int x0, int y0, int x1, int y1) {
        long sum = 0, count = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x, ++count)
                for (int c = 0; c < 3; ++c)
                    sum += std::abs(shown[(y * w + x) * 3 + c] - art[(y * w + x) * 3 + c]);
        return static_cast<double>(sum) / static_cast<double>(count);
    };
    EXPECT_LT(meanDiff(40, 40, 800, 380), 2.0);    // the picture itself
    EXPECT_GT(meanDiff(900, 440, 1160, 560), 8.0); // the logo drawn over it
    stbi_image_free(shown);
    stbi_image_free(art);
}

} // namespace
