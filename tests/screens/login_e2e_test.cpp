// login_e2e_test.cpp - logging in and playing with the real launcher on an X server of the
// test's own: morlaken-devhost serves the update (which delivers morlaken-game itself) and
// the account service; xdotool clicks START, types the user name and password, answers
// the two-step code (computed with morlaken-devhost --totp), and the game starts with
// ticket and server address while the launcher hides. A normal end shows the 1280 x 640
// closing screen, which a click closes (exit 0); a game that dies at once brings the
// launcher back with its exit code. Without an account service the same login goes to
// morlaken_server over ENet, and the game gets the ticket that server handed out. What the
// player is told is read from MORLAKEN_MESSAGE_LOG.
#include "screens/screen_test_support.h"

#include "app/private_display.h"
#include "login/login_support.h"

#include "support/child_process.h"
#include "support/devhost.h"
#include "support/site.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>
#include <stb_image.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>

namespace fs = std::filesystem;
using namespace testsupport;
using screentest::kXdotool;
using screentest::pollGently;
using screentest::waitFor;

namespace {

constexpr const char* kSecret = "JBSWY3DPEHPK3PXP"; // the two-step secret of "ayse"
constexpr const char* kServer = "127.0.0.1:27016";

class LoginEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(root_ / "x");
        display_ = std::make_unique<PrivateDisplay>(root_ / "x");
        ASSERT_FALSE(display_->name().empty()) << "needs Xvfb";
        onDisplay_.extraEnv = {{"DISPLAY", display_->name()}};
        ASSERT_TRUE(fs::exists(kXdotool)) << "xdotool missing (scripts/setup installs it)";
        fs::create_directories(player_);
        fs::copy_file(builtProgram("MorlakenLauncher"), player_ / "MorlakenLauncher");
        fs::create_directory_symlink(fs::path(MORLAKEN_BIN_DIR) / "veri", player_ / "veri");
        writeFile(root_ / "users.txt", logintest::userLine("ayse", "", "Gizli-Sifre42", kSecret, true, "") +
                                           logintest::userLine("veli", "", "Parola-7", "", true, ""));
    }
    void TearDown() override {
        if (launcher_.running()) launcher_.kill();
    }

    // The game as the update server has it, ending with `exitCode` after `seconds`; the
    // launcher is told to start it from there and to hand it `sunucu_`. Without
    // `accountService` no hesap_api is configured: the game server logs the player in.
    void serveGame(int exitCode, double seconds, bool accountService = true) {
        publishSite(site_.path(), {{"oyun/morlaken-game", readFile(builtProgram("morlaken-game"))},
                                   {"oyun/morlaken-game.ini", "cikis_kodu=" + std::to_string(exitCode) +
                                                                  "\nsure=" + std::to_string(seconds) +
                                                                  "\npencere=0\nkayit=kayit.txt\n"}});
        ASSERT_TRUE(devhost_.start({"--root", site_.path(), "--port", "0", "--users", root_ / "users.txt"}))
            << devhost_.log();
        const std::string account = accountService ? "hesap_api=" + devhost_.url() + "hesap/\n" : "";
        writeFile(player_ / "varsayilan.ini", "guncelleme=" + devhost_.url() + "\n" + account +
                                                  "oyun=oyun/morlaken-game\nsunucu=" + sunucu_ +
                                                  "\nyerel_sunucu=\nweb=\n");
    }
    void startLauncher() {
        ChildOptions options = onDisplay_;
        options.stderrFile = root_ / "launcher.err";
        options.extraEnv.push_back({"MORLAKEN_MESSAGE_LOG", root_ / "mesajlar.txt"});
        options.extraEnv.push_back({"MORLAKEN_SCREENSHOT", shot_});
        options.extraEnv.push_back({"MORLAKEN_SCREENSHOT_AFTER", "kapanis"});
        ASSERT_TRUE(launcher_.start(player_ / "MorlakenLauncher", {}, options));
        ASSERT_TRUE(waitFor([&] { return !visibleWindow().empty(); }, 60.0, pollGently))
            << readFile(root_ / "launcher.err");
        // The update delivers the game; START is clickable once the pass is over.
        ASSERT_TRUE(waitFor([&] { return fileExists(player_ / "guncelleme.cache"); }, 60.0))
            << readFile(root_ / "launcher.err");
        ASSERT_TRUE(fileExists(player_ / "oyun/morlaken-game"));
    }
    // The launcher's mapped window, "" while it is hidden.
    std::string visibleWindow() {
        std::string out;
        if (runProgram(kXdotool, {"search", "--onlyvisible", "--pid", std::to_string(launcher_.pid())}, out,
                       10, onDisplay_) != 0)
            return "";
        return out.substr(0, out.find('\n'));
    }
    // xdotool with `args`; false when it failed.
    bool xdo(std::vector<std::string> args) {
        std::string out;
        return runProgram(kXdotool, args, out, 10, onDisplay_) == 0;
    }
    bool clickAt(int x, int y) {
        const std::string w = visibleWindow();
        return !w.empty() &&
               xdo({"mousemove", "--window", w, std::to_string(x), std::to_string(y), "click", "1"});
    }
    bool type(const std::string& text) { return xdo({"type", "--delay", "30", text}); }
    bool key(const std::string& name) { return xdo({"key", name}); }
    // True once the message log holds `line`.
    bool told(const std::string& line) {
        return waitFor(
            [&] { return readFile(root_ / "mesajlar.txt").find(line + "\n") != std::string::npos; }, 30.0);
    }
    std::map<std::string, std::string> gameRecord() {
        std::map<std::string, std::string> out;
        std::string text = readFile(player_ / "oyun/kayit.txt");
        for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
            const std::string line = text.substr(at, end - at);
            out[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
        }
        return out;
    }
    void logIn(const std::string& user, const std::string& password) {
        ASSERT_TRUE(clickAt(424, 534)); // START: the dialog opens on the empty user name
        ASSERT_TRUE(type(user));
        ASSERT_TRUE(key("Tab"));
        ASSERT_TRUE(type(password));
        ASSERT_TRUE(key("Return"));
    }

    TempFolder scratch_, site_;
    const fs::path root_{scratch_.path()};
    const fs::path player_{root_ / "oyuncu"};
    const std::string shot_{root_ / "kapanis.png"};
    std::string sunucu_ = kServer;
    std::unique_ptr<PrivateDisplay> display_;
    ChildOptions onDisplay_;
    DevHost devhost_;
    Child launcher_;
};

TEST_F(LoginEndToEnd, TwoStepLoginStartsTheDeliveredGameThenTheClosingScreenEndsTheRun) {
    serveGame(0, 4.0);
    startLauncher();
    logIn("ayse", "Gizli-Sifre42");
    ASSERT_TRUE(
        told("BİLGİ: Hesabında iki adımlı doğrulama açık. Doğrulama uygulamandaki 6 haneli kodu gir."))
        << readFile(root_ / "mesajlar.txt") << readFile(root_ / "launcher.err");
    EXPECT_FALSE(fileExists(player_ / "oyun/kayit.txt"));
    // The remember box was on: the user name is kept for the next start.
    EXPECT_NE(readFile(player_ / "launcher.ini").find("kullanici=ayse\r\n"), std::string::npos);

    ASSERT_TRUE(key("Return")); // closes the notice; the code field has the focus
    ProgramRun code = runCaptured(builtProgram("morlaken-devhost"), {"--totp", kSecret});
    ASSERT_EQ(code.exitCode, 0) << code.err;
    ASSERT_TRUE(type(code.out.substr(0, 6)));
    ASSERT_TRUE(key("Return"));

    ASSERT_TRUE(waitFor([&] { return gameRecord().count("arguman_sayisi") == 1; }, 30.0))
        << readFile(root_ / "mesajlar.txt") << readFile(root_ / "launcher.err");
    auto record = gameRecord();
    EXPECT_EQ(record["bilet"].size(), 64u); // the service's ticket: 32 bytes in hex
    EXPECT_EQ(record["bilet_var"], "1");
    EXPECT_EQ(record["sunucu"], sunucu_);
    // While the game runs the launcher is hidden and its own environment has no ticket.
    EXPECT_TRUE(waitFor([&] { return visibleWindow().empty(); }, 10.0, pollGently));
    const std::string environ = readFile("/proc/" + std::to_string(launcher_.pid()) + "/environ");
    ASSERT_FALSE(environ.empty());
    EXPECT_EQ(environ.find("MORLAKEN_BILET"), std::string::npos);
    EXPECT_EQ(environ.find(record["bilet"]), std::string::npos);

    // The game ends with 0: the closing screen, which a click ends.
    ASSERT_TRUE(waitFor([&] { return fileExists(shot_); }, 30.0)) << readFile(root_ / "launcher.err");
    EXPECT_TRUE(clickAt(640, 320));
    int exitCode = -1;
    ASSERT_TRUE(launcher_.wait(20, exitCode)) << readFile(root_ / "launcher.err");
    EXPECT_EQ(exitCode, 0) << readFile(root_ / "launcher.err");

    // The closing screen fills 1280 x 640 with "kapanis.jpg", the logo over its corner.
    const fs::path shots = fs::path(MORLAKEN_BIN_DIR).parent_path() / "screenshots";
    fs::create_directories(shots);
    fs::copy_file(shot_, shots / "kapanis_ekrani.png", fs::copy_options::overwrite_existing);
    int w = 0, h = 0, n = 0, iw = 0, ih = 0;
    stbi_uc* shown = stbi_load(shot_.c_str(), &w, &h, &n, 3);
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

TEST_F(LoginEndToEnd, AGameThatDiesAtOnceBringsTheLauncherBackWithItsExitCode) {
    serveGame(1, 0.2);
    startLauncher();
    logIn("veli", "Parola-7");
    ASSERT_TRUE(told("HATA: Oyun açılırken kapandı (çıkış kodu 0x00000001). Bu kodu Velmor'a gönder."))
        << readFile(root_ / "mesajlar.txt") << readFile(root_ / "launcher.err");
    EXPECT_EQ(gameRecord()["bilet_var"], "1");
    ASSERT_TRUE(waitFor([&] { return !visibleWindow().empty(); }, 10.0, pollGently));
    EXPECT_FALSE(fileExists(shot_)); // no closing screen

    // The message closes with Enter; the close button then ends the launcher normally.
    ASSERT_TRUE(key("Return"));
    int exitCode = -1;
    ASSERT_TRUE(waitFor([&] { return (clickAt(774, 26), launcher_.wait(0.5, exitCode)); }, 20.0));
    EXPECT_EQ(exitCode, 0) << readFile(root_ / "launcher.err");
}

TEST_F(LoginEndToEnd, WithoutAnAccountServiceTheGameServerLogsInAndTheGameGetsItsTicket) {
    DevHost server;
    ASSERT_TRUE(server.start({"--port", "0", "--users", root_ / "users.txt"}, "morlaken_server"))
        << server.log();
    sunucu_ = "127.0.0.1:" + std::to_string(server.port());
    serveGame(0, 0.5, false);
    startLauncher();

    // A wrong password: the server's refusal is shown over the dialog, which stays open
    // with the password field emptied and focused.
    logIn("veli", "Yanlis-7");
    ASSERT_TRUE(told("HATA: Kullanıcı adı veya şifre hatalı."))
        << readFile(root_ / "mesajlar.txt") << readFile(root_ / "launcher.err");
    ASSERT_TRUE(key("Return"));
    ASSERT_TRUE(type("Parola-7"));
    ASSERT_TRUE(key("Return"));

    ASSERT_TRUE(waitFor([&] { return gameRecord().count("arguman_sayisi") == 1; }, 30.0))
        << readFile(root_ / "mesajlar.txt") << readFile(root_ / "launcher.err") << server.output();
    auto record = gameRecord();
    const std::string out = server.output();
    const std::string accepted = "giriş veli -> kabul, bilet ";
    ASSERT_NE(out.find(accepted), std::string::npos) << out;
    const size_t at = out.find(accepted) + accepted.size();
    EXPECT_EQ(record["bilet"], out.substr(at, out.find('\n', at) - at));
    EXPECT_EQ(record["bilet"].size(), 32u);
    EXPECT_EQ(record["sunucu"], sunucu_);

    // The game ends with 0: the closing screen, after which the launcher ends by itself.
    int exitCode = -1;
    ASSERT_TRUE(launcher_.wait(30, exitCode)) << readFile(root_ / "launcher.err");
    EXPECT_EQ(exitCode, 0) << readFile(root_ / "launcher.err");
    EXPECT_TRUE(fileExists(shot_));
}

} // namespace
