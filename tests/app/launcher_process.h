// launcher_process.h - the real launcher for end-to-end tests: an Xvfb of the test's own
// (so no other test's window or pointer meets ours), a player folder holding a copy of the
// built launcher (its own folder is that one) with the images and fonts, and xdotool to
// drive its window.
#pragma once

#include "support/child_process.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

inline constexpr const char* kXdotool = "/usr/bin/xdotool";

// An Xvfb on a free display number, stopped with the object.
class PrivateDisplay {
  public:
    // `dir` holds the server's files (it must exist and outlive this object). The server never
    // resets: without -noreset each xdotool call that leaves it clientless starts a reset,
    // and a launcher connecting during one fails with "Pencere sistemi baslatilamadi.".
    explicit PrivateDisplay(const std::filesystem::path& dir) : dir_(dir) {
        std::system(("Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset 3>'" +
                     (dir_ / "display").string() + "' >/dev/null 2>&1 & echo $! >'" +
                     (dir_ / "xvfb.pid").string() + "'")
                        .c_str());
        const bool up = testsupport::waitUntil(
            [&] {
                const std::string d = testsupport::readFile(dir_ / "display");
                if (d.empty() || d.back() != '\n') return false;
                name_ = ":" + d.substr(0, d.size() - 1);
                return true;
            },
            20);
        if (!up) ADD_FAILURE() << "Xvfb did not start";
    }
    ~PrivateDisplay() {
        const std::string pid = testsupport::readFile(dir_ / "xvfb.pid");
        if (!pid.empty()) std::system(("kill " + pid + " 2>/dev/null").c_str());
    }
    PrivateDisplay(const PrivateDisplay&) = delete;
    PrivateDisplay& operator=(const PrivateDisplay&) = delete;

    // ":N", or "" when the server did not come up.
    const std::string& name() const { return name_; }

  private:
    std::filesystem::path dir_;
    std::string name_;
};

// The launcher copied into root/oyuncu, run on a display of its own.
class LauncherProcess {
  public:
    explicit LauncherProcess(const std::filesystem::path& root)
        : root_(root), player_(root / "oyuncu"),
          display_((std::filesystem::create_directories(root / "x"), root / "x")) {
        namespace fs = std::filesystem;
        onDisplay_.extraEnv = {{"DISPLAY", display_.name()}};
        fs::create_directories(player_);
        fs::copy_file(testsupport::builtProgram("MorlakenLauncher"), player_ / "MorlakenLauncher");
        fs::create_directory_symlink(fs::path(MORLAKEN_BIN_DIR) / "veri", player_ / "veri");
    }
    const std::filesystem::path& player() const { return player_; }
    testsupport::Child& child() { return child_; }
    std::string err() const { return testsupport::readFile(root_ / "launcher.err"); }

    // Starts it with `env` added; its standard error goes to err().
    bool start(std::vector<std::pair<std::string, std::string>> env = {}) {
        if (display_.name().empty() || !std::filesystem::exists(kXdotool)) {
            ADD_FAILURE() << "needs Xvfb and xdotool (scripts/setup installs them)";
            return false;
        }
        testsupport::ChildOptions options = onDisplay_;
        options.stderrFile = root_ / "launcher.err";
        for (auto& e : env)
            options.extraEnv.push_back(std::move(e));
        return child_.start(player_ / "MorlakenLauncher", {}, options);
    }
    // The launcher's mapped window, "" while it is hidden.
    std::string window() {
        std::string out;
        if (testsupport::runProgram(kXdotool,
                                    {"search", "--onlyvisible", "--pid", std::to_string(child_.pid())}, out,
                                    10, onDisplay_) != 0)
            return "";
        return out.substr(0, out.find('\n'));
    }
    bool waitForWindow(double seconds = 60) {
        return testsupport::waitFor([&] { return !window().empty(); }, seconds, pollGently);
    }
    // xdotool with `args` on the launcher's display; its output in `out`.
    bool xdo(const std::vector<std::string>& args, std::string* out = nullptr) {
        std::string text;
        const bool ok = testsupport::runProgram(kXdotool, args, text, 10, onDisplay_) == 0;
        if (out) *out = text;
        return ok;
    }
    // A click at window coordinates (x, y); false when the window is hidden or gone.
    bool click(int x, int y) {
        const std::string w = window();
        return !w.empty() &&
               xdo({"mousemove", "--window", w, std::to_string(x), std::to_string(y), "click", "1"});
    }
    bool type(const std::string& text) { return xdo({"type", "--delay", "30", text}); }
    bool key(const std::string& name) { return xdo({"key", name}); }
    // The close button, until the launcher has gone; true with its exit code.
    bool closeWithButton(int& exitCode) {
        return testsupport::waitFor([&] { return (click(774, 26), child_.wait(0.5, exitCode)); }, 20.0);
    }
    // Between xdotool tries: 50 ms, so the polling itself does not crowd the two cores the
    // launcher starts on.
    static void pollGently() { std::this_thread::sleep_for(std::chrono::milliseconds(50)); }

  private:
    std::filesystem::path root_, player_;
    PrivateDisplay display_;
    testsupport::ChildOptions onDisplay_;
    testsupport::Child child_;
};
