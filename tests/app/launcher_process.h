// launcher_process.h - the real launcher for end-to-end tests: an Xvfb of the test's own
// (so no other test's window or pointer meets ours), a player folder holding a copy of the
// built launcher (its own folder is that one) with the shipped defaults and the images and
// fonts, and xdotool to drive its window.
#pragma once

#include "support/child_process.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

inline constexpr const char* kXdotool = "/usr/bin/xdotool";

// An Xvfb on a free display number, stopped with the object.
class PrivateDisplay {
  public:
    // `dir` holds the server's files (it must exist). The server never resets: without
    // -noreset each xdotool call that leaves it clientless starts a reset, and a launcher
    // connecting during one fails with "Pencere sistemi baslatilamadi.".
    explicit PrivateDisplay(const std::filesystem::path& dir) {
        testsupport::ChildOptions options;
        options.stdoutFile = dir / "display"; // the display number, then a line feed
        const bool up =
            xvfb_.start("/usr/bin/Xvfb",
                        {"-displayfd", "1", "-screen", "0", "1920x1080x24", "-nolisten", "tcp", "-noreset"},
                        options) &&
            testsupport::waitUntil(
                [&] {
                    const std::string d = testsupport::readFile(options.stdoutFile);
                    return !d.empty() && d.back() == '\n' && (name_ = ":" + d.substr(0, d.size() - 1), true);
                },
                20);
        if (!up) ADD_FAILURE() << "Xvfb did not start";
    }
    ~PrivateDisplay() { // asked to end, so it removes its lock file and socket
        int code = 0;
        if (xvfb_.running()) xvfb_.signal(testsupport::kSigTerm), xvfb_.wait(10, code);
    }

    // ":N", or "" when the server did not come up.
    const std::string& name() const { return name_; }

  private:
    testsupport::Child xvfb_;
    std::string name_;
};

using Env = std::vector<std::pair<std::string, std::string>>;

// The launcher copied into root/oyuncu, run on a display of its own.
class LauncherProcess {
  public:
    // The images and fonts: the built ones linked, copied (for an update that writes into
    // veri/), or none.
    enum class Veri { Linked, Copied, None };
    explicit LauncherProcess(const std::filesystem::path& root, Veri veri = Veri::Linked)
        : root_(root), player_(root / "oyuncu"),
          display_((std::filesystem::create_directories(root / "x"), root / "x")) {
        namespace fs = std::filesystem;
        const fs::path bin = MORLAKEN_BIN_DIR;
        fs::create_directories(player_);
        // A copy, not a link: the launcher resolves its own path through the link.
        fs::copy_file(bin / "MorlakenLauncher", player_ / "MorlakenLauncher");
        fs::copy_file(bin / "varsayilan.ini", player_ / "varsayilan.ini");
        if (veri == Veri::Linked) fs::create_directory_symlink(bin / "veri", player_ / "veri");
        if (veri == Veri::Copied) fs::copy(bin / "veri", player_ / "veri", fs::copy_options::recursive);
    }
    const std::filesystem::path& player() const { return player_; }
    testsupport::Child& child() { return child_; }
    std::string err() const { return testsupport::readFile(root_ / "launcher.err"); }

    // Starts it with `env` added and `unset` removed (DISPLAY among them: no display), from
    // `workingFolder` ("" = the test's); its standard error goes to err().
    bool start(Env env = {}, std::vector<std::string> unset = {}, std::string workingFolder = "") {
        if (display_.name().empty() || !std::filesystem::exists(kXdotool)) {
            ADD_FAILURE() << "needs Xvfb and xdotool (scripts/setup installs them)";
            return false;
        }
        testsupport::ChildOptions options;
        if (std::find(unset.begin(), unset.end(), "DISPLAY") == unset.end())
            options.extraEnv = {{"DISPLAY", display_.name()}};
        options.unsetEnv = std::move(unset);
        options.workingFolder = std::move(workingFolder);
        options.stderrFile = root_ / "launcher.err";
        for (auto& e : env)
            options.extraEnv.push_back(std::move(e));
        return child_.start(player_ / "MorlakenLauncher", {}, options);
    }
    // start() and its exit code once it ended by itself (-1 when it had to be stopped after 60 s).
    int run(Env env = {}, std::vector<std::string> unset = {}, std::string workingFolder = "") {
        int code = -1;
        if (!start(std::move(env), std::move(unset), std::move(workingFolder)) || child_.wait(60, code))
            return code;
        child_.kill();
        child_.wait(10, code);
        return -1;
    }
    // The launcher's mapped window, "" while it is hidden.
    std::string window() {
        std::string out;
        if (!xdo({"search", "--onlyvisible", "--pid", std::to_string(child_.pid())}, &out)) return "";
        return out.substr(0, out.find('\n'));
    }
    bool waitForWindow(double seconds = 60) {
        return testsupport::waitFor([&] { return !window().empty(); }, seconds, pollGently);
    }
    // xdotool with `args` on the launcher's display; its output in `out`.
    bool xdo(const std::vector<std::string>& args, std::string* out = nullptr) {
        std::string text;
        testsupport::ChildOptions options;
        options.extraEnv = {{"DISPLAY", display_.name()}};
        const bool ok = testsupport::runProgram(kXdotool, args, text, 10, options) == 0;
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
    // Between xdotool tries: 50 ms, so the polling itself does not crowd the two cores the
    // launcher starts on.
    static void pollGently() { std::this_thread::sleep_for(std::chrono::milliseconds(50)); }

  private:
    std::filesystem::path root_, player_;
    PrivateDisplay display_;
    testsupport::Child child_;
};
