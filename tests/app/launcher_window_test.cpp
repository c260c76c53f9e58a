// The real launcher window driven with xdotool on a private Xvfb: it opens centred and
// borderless, a press on an empty part drags it, a press on a widget does not. The shipped
// defaults name no news feed, so the news list stays empty and a click on the banner opens
// nothing.
#include "private_display.h"
#include "support/child_process.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

namespace fs = std::filesystem;
using testsupport::readFile;

namespace {

class LauncherWindow : public ::testing::Test {
  protected:
    // The test drives the pointer, so it gets an X server of its own: no other test's
    // window can sit under its clicks.
    void SetUp() override {
        exe_ = fs::path(MORLAKEN_BIN_DIR) / "MorlakenLauncher";
        ASSERT_TRUE(fs::exists(exe_)) << "build the MorlakenLauncher target first";
        xvfb_ = std::make_unique<PrivateDisplay>(dir_);
        display_ = xvfb_->name();
        ASSERT_FALSE(display_.empty());
    }
    void TearDown() override {
        if (!fs::exists(dir_ / "pid") || finished()) return;
        sh("kill " + readFile(dir_ / "pid"));
        waitFor([&] { return finished(); }, 20); // the wrapper writes its rc before the folder goes
    }

    // A shell command's standard output; the command sees our own X server.
    std::string sh(const std::string& cmd) {
        const fs::path out = dir_ / "sh.out";
        std::system(("DISPLAY=" + display_ + " " + cmd + " >'" + out.string() + "' 2>/dev/null").c_str());
        return readFile(out);
    }
    bool finished() { return fs::exists(dir_ / "rc") && !readFile(dir_ / "rc").empty(); }

    // Polls `condition` every 10 ms until it holds or `seconds` pass. Each try may start
    // xdotool, a process of its own, so this polls more gently than testsupport::waitUntil.
    template <typename Fn> bool waitFor(Fn&& condition, double seconds) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < deadline) {
            if (condition()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return condition();
    }

    void start() {
        const std::string cmd = "(cd '" + dir_.string() + "' && DISPLAY=" + display_ + " '" + exe_.string() +
                                "' 2>'" + (dir_ / "err").string() + "' & echo $! >'" +
                                (dir_ / "pid").string() + "'; wait $!; echo $? >'" +
                                (dir_ / "rc.tmp").string() + "'; mv '" + (dir_ / "rc.tmp").string() + "' '" +
                                (dir_ / "rc").string() + "') &";
        std::system(cmd.c_str());
        ASSERT_TRUE(waitFor(
            [&] {
                window_ = sh("xdotool search --onlyvisible --name '^Morlaken Online$' | head -1");
                while (!window_.empty() && window_.back() == '\n')
                    window_.pop_back();
                return !window_.empty();
            },
            30))
            << "the window never showed: " << readFile(dir_ / "err");
    }

    bool position(int& outX, int& outY) {
        std::istringstream in(sh("xdotool getwindowgeometry --shell " + window_));
        std::string line;
        bool gotX = false, gotY = false;
        while (std::getline(in, line)) {
            if (line.rfind("X=", 0) == 0) outX = std::atoi(line.c_str() + 2), gotX = true;
            if (line.rfind("Y=", 0) == 0) outY = std::atoi(line.c_str() + 2), gotY = true;
        }
        return gotX && gotY;
    }
    bool at(int x, int y) {
        int px = 0, py = 0;
        return position(px, py) && px == x && py == y;
    }
    void mouse(const std::string& actions) { sh("xdotool " + actions); }

    testsupport::TempFolder scratch_;
    const fs::path dir_{scratch_.path()};
    fs::path exe_;
    std::unique_ptr<PrivateDisplay> xvfb_;
    std::string display_, window_;
};

} // namespace

TEST_F(LauncherWindow, OpensCentredAndDragsFromEmptySpaceOnly) {
    start();
    int x0 = 0, y0 = 0;
    ASSERT_TRUE(position(x0, y0));
    int screenW = 0, screenH = 0;
    std::istringstream(sh("xdotool getdisplaygeometry")) >> screenW >> screenH;
    EXPECT_EQ(x0, (screenW - 800) / 2);
    EXPECT_EQ(y0, (screenH - 610) / 2);

    // A press on the news banner (hot area "afis", 392..738 x 102..278), moved within it
    // and released there: the banner took the press, so the window must not follow. With no
    // news the click itself does nothing, so nothing opens over the screen.
    mouse("mousemove " + std::to_string(x0 + 600) + " " + std::to_string(y0 + 200) + " mousedown 1");
    for (int step = 1; step <= 5; ++step)
        mouse("mousemove " + std::to_string(x0 + 600 - 10 * step) + " " + std::to_string(y0 + 200 - step));
    mouse("mouseup 1");

    // A press on empty space: once the launcher has taken it (the window follows a one-pixel
    // move), the window follows the cursor's movement exactly. Had the button press above
    // dragged, the window would no longer be at (x0, y0) here.
    const int ax = x0 + 100, ay = y0 + 100;
    bool anchored = false;
    for (int attempt = 0; attempt < 10 && !anchored; ++attempt) {
        mouse("mousemove " + std::to_string(ax) + " " + std::to_string(ay) + " mousedown 1");
        mouse("mousemove " + std::to_string(ax + 1) + " " + std::to_string(ay));
        anchored = waitFor([&] { return at(x0 + 1, y0); }, 1.0);
        if (!anchored) { // the press was seen after the move: the window stayed, start over
            mouse("mouseup 1");
            ASSERT_TRUE(at(x0, y0)) << "a press on a widget, or a late press, moved the window";
        }
    }
    ASSERT_TRUE(anchored) << "the drag never started";
    mouse("mousemove " + std::to_string(ax + 50) + " " + std::to_string(ay + 30));
    EXPECT_TRUE(waitFor([&] { return at(x0 + 50, y0 + 30); }, 5.0));
    mouse("mousemove " + std::to_string(ax - 7) + " " + std::to_string(ay - 9));
    EXPECT_TRUE(waitFor([&] { return at(x0 - 7, y0 - 9); }, 5.0));
    mouse("mouseup 1");
    // (The close button ending the run with 0: EndToEnd and LoginEndToEnd close that way.)
}
