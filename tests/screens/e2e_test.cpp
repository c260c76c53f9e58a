// e2e_test.cpp - the real launcher on the test's X server: after a server error, a click on
// the failure line starts a new pass that brings the empty player folder up to date (every
// file compared byte for byte with the server's) once the server is fixed, and the launcher
// still closes cleanly while its news download hangs. (login_e2e_test.cpp updates from
// morlaken-devhost.) The window is driven with xdotool and closed with its own close
// button, so the normal shutdown runs and the exit code is 0.
#include "screens/screen_test_support.h"

#include "app/private_display.h"

#include "support/child_process.h"
#include "support/site.h"
#include "support/temp_folder.h"
#include "support/test_server.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>

namespace fs = std::filesystem;
using screentest::kXdotool;
using screentest::pollGently;
using screentest::waitFor;
using testsupport::builtProgram;
using testsupport::readFile;
using testsupport::runProgram;
using testsupport::writeFile;

namespace {

// The game as the server has it: nested folders, a blank and Turkish letters in a name,
// an empty file and one of a few megabytes.
std::map<std::string, std::string> gameFiles() {
    return {{"oyun.pak", testsupport::patternBytes(3 * 1048576 + 17, 1)},
            {"veri/harita/ova.map", testsupport::patternBytes(200000, 2)},
            {"ses/müzik tema.ogg", testsupport::patternBytes(65537, 3)},
            {"beni oku.txt", "Morlaken Online\n"},
            {"bos.dat", ""}};
}

class EndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        // An X server of the test's own, so no other test's window or pointer meets ours.
        fs::create_directories(folder_ / "x");
        display_ = std::make_unique<PrivateDisplay>(folder_ / "x");
        ASSERT_FALSE(display_->name().empty()) << "needs Xvfb (scripts/setup installs it)";
        onDisplay_.extraEnv = {{"DISPLAY", display_->name()}};
        for (const char* tool : {"MorlakenLauncher", "morlaken-publish"})
            ASSERT_TRUE(fs::exists(builtProgram(tool))) << builtProgram(tool) << " not built";
        ASSERT_TRUE(fs::exists(kXdotool)) << "xdotool missing (scripts/setup installs it)";
        server_ = folder_ / "server";
        player_ = folder_ / "player";
        for (const auto& [path, content] : gameFiles())
            writeFile(server_ + "/" + path, content);
        std::string out;
        ASSERT_EQ(runProgram(builtProgram("morlaken-publish"), {server_, "--version", "0.1.0-e2e"}, out), 0)
            << out;
        ASSERT_TRUE(fs::exists(server_ + "/dosyalar.txt"));

        // A fresh player folder: the launcher (copied, so its own folder is this one), the
        // images and fonts, and the shipped defaults pointing at the test's server.
        fs::create_directories(player_);
        fs::copy_file(builtProgram("MorlakenLauncher"), player_ + "/MorlakenLauncher");
        fs::create_directory_symlink(fs::path(MORLAKEN_BIN_DIR) / "veri", player_ + "/veri");
    }
    void TearDown() override {
        if (launcher_.running()) launcher_.kill();
    }
    void writeDefaults(const std::string& base) {
        writeFile(player_ + "/varsayilan.ini",
                  "guncelleme=" + base + "\nhaber_adresi=" + base + "haberler.txt\nweb=\ndiscord=\n");
    }
    void startLauncher() {
        testsupport::ChildOptions options;
        options.stderrFile = folder_ / "launcher.err";
        options.extraEnv = onDisplay_.extraEnv;
        ASSERT_TRUE(launcher_.start(player_ + "/MorlakenLauncher", {}, options));
    }
    // Every file of the game is in the player folder with the server's content.
    bool playerUpToDate() const { return testsupport::folderMatches(player_, gameFiles()); }
    // The launcher's window (found by its process, since other tests may show theirs on
    // the same X server), moved to the screen's bottom-right corner, away from windows
    // that start centred, and raised.
    bool findWindow() {
        std::string out;
        bool ended = false;
        int code = -1;
        const bool found = waitFor(
            [&] {
                if (launcher_.wait(0.0, code)) ended = true; // gone before its window showed
                if (ended) return true;
                if (runProgram(kXdotool,
                               {"search", "--onlyvisible", "--pid", std::to_string(launcher_.pid()), "--name",
                                "^Morlaken Online$"},
                               out, 10, onDisplay_) != 0)
                    return false;
                windowId_ = out.substr(0, out.find('\n'));
                return !windowId_.empty();
            },
            60.0, pollGently);
        if (!found) {
            ADD_FAILURE() << "no launcher window; its standard error:\n"
                          << readFile(folder_ / "launcher.err");
            return false;
        }
        if (runProgram(kXdotool, {"getdisplaygeometry"}, out, 10, onDisplay_) != 0) return false;
        const int screenW = std::atoi(out.c_str());
        const int screenH = std::atoi(out.c_str() + out.find(' ') + 1);
        if (screenW < 800 || screenH < 610) {
            ADD_FAILURE() << "the X screen (" << out << ") is smaller than the launcher's window";
            return false;
        }
        originX_ = screenW - 800;
        originY_ = screenH - 610;
        const std::string want = "Position: " + std::to_string(originX_) + "," + std::to_string(originY_);
        const bool moved = waitFor(
            [&] {
                runProgram(kXdotool,
                           {"windowmove", windowId_, std::to_string(originX_), std::to_string(originY_)}, out,
                           10, onDisplay_);
                return runProgram(kXdotool, {"getwindowgeometry", windowId_}, out, 10, onDisplay_) == 0 &&
                       out.find(want) != std::string::npos;
            },
            20.0, pollGently);
        if (!moved) ADD_FAILURE() << "the window did not move: " << out;
        return moved;
    }
    // A click at window coordinates (x, y), with the window raised first. False when
    // xdotool failed (the window may just have gone away).
    bool tryClickAt(int x, int y) {
        std::string out;
        return runProgram(kXdotool,
                          {"windowraise", windowId_, "mousemove", std::to_string(originX_ + x),
                           std::to_string(originY_ + y), "click", "1"},
                          out, 10, onDisplay_) == 0;
    }
    void clickAt(int x, int y) { ASSERT_TRUE(tryClickAt(x, y)) << "xdotool click at " << x << "," << y; }
    // The close button; the launcher then shuts down in order and exits with 0.
    void closeWithButton() {
        int code = -1;
        const bool exited = waitFor(
            [&] {
                // Repeated until the launcher is gone; the last try may find no window.
                tryClickAt(774, 26);
                return launcher_.wait(0.5, code);
            },
            20.0);
        ASSERT_TRUE(exited) << readFile(folder_ / "launcher.err");
        EXPECT_EQ(code, 0) << readFile(folder_ / "launcher.err");
    }
    testsupport::TempFolder folder_;
    std::unique_ptr<PrivateDisplay> display_;
    testsupport::ChildOptions onDisplay_; // DISPLAY of the private X server
    std::string server_, player_;
    testsupport::Child launcher_;
    std::string windowId_;
    int originX_ = 0, originY_ = 0;
};

TEST_F(EndToEnd, ClickOnTheFailureLineRetriesOnceTheServerIsFixed) {
    testsupport::TestServer server;
    server.serveFolder(server_);
    const std::string list = readFile(server_ + "/dosyalar.txt");
    server.route("/dosyalar.txt", testsupport::answer(503, "bakımda"));
    // The news feed hangs for the whole run: the launcher must still close cleanly while
    // its feed thread waits inside the HTTP library.
    server.route("/haberler.txt",
                 testsupport::stall("Bakım|Sunucular bakımda|Kısa süre sonra dönüyoruz.\n", 6));
    writeDefaults(server.baseUrl());

    startLauncher();
    ASSERT_TRUE(findWindow());
    ASSERT_TRUE(waitFor([&] { return server.requestCount("/dosyalar.txt") == 1; }, 30.0));
    EXPECT_FALSE(fs::exists(player_ + "/oyun.pak"));

    // The server is fixed; nothing happens until the player clicks the failure line.
    server.route("/dosyalar.txt", testsupport::answer(200, list));
    ASSERT_TRUE(waitFor(
        [&] {
            clickAt(700, 426);
            return server.requestCount("/dosyalar.txt") >= 2;
        },
        30.0, pollGently));
    EXPECT_EQ(server.requestCount("/dosyalar.txt"), 2); // one click, one new pass
    ASSERT_TRUE(waitFor([&] { return playerUpToDate(); }, 60.0)) << testsupport::listTree(player_);
    // The pass ends with its cache written and no download left behind.
    ASSERT_TRUE(waitFor([&] { return fs::exists(player_ + "/guncelleme.cache"); }, 20.0));
    EXPECT_EQ(testsupport::listTree(player_).find(".indir"), std::string::npos)
        << testsupport::listTree(player_);

    // The retry raised the error message; "TAMAM" closes it, then the close button works,
    // with the feed download still hanging.
    EXPECT_EQ(server.stalledNow(), 1);
    clickAt(400, 377);
    closeWithButton();
}

} // namespace
