// self_update_test.cpp - an update that replaces the launcher itself, installed by the real
// launcher on an Xvfb of the test's own: the new launcher starts by itself (it names itself
// in MORLAKEN_PID_FILE) and runs from the launcher's own path. When the new copy cannot be
// started the launcher stays open and says so in its message dialog.
#include "app/launcher_process.h"
#include "support/child_process.h"
#include "support/process_probe.h"
#include "support/site.h"
#include "support/temp_folder.h"
#include "support/test_server.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <vector>

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

class SelfUpdate : public ::testing::Test {
  protected:
    void SetUp() override {
        const fs::path bin = MORLAKEN_BIN_DIR;
        fs::create_directories(root_ / "x");
        display_ = std::make_unique<PrivateDisplay>(root_ / "x");
        ASSERT_FALSE(display_->name().empty());
        fs::create_directories(player_);
        fs::copy(bin / "veri", player_ / "veri", fs::copy_options::recursive);
        fs::copy_file(bin / "varsayilan.ini", player_ / "varsayilan.ini");
        fs::copy_file(bin / "MorlakenLauncher", player_ / "MorlakenLauncher");
        fs::permissions(player_ / "MorlakenLauncher", fs::perms(0755));
        writeFile(player_ / "launcher.ini", "guncelleme=" + server_.baseUrl() + "\r\n");
        server_.serveFolder(site_.path());
    }
    void TearDown() override {
        for (int pid : launchers())
            if (processAlive(pid)) signalProcess(pid, kSigKill);
    }

    // Starts the player's launcher on the test's display with `env` added.
    void startLauncher(Child& child, std::vector<std::pair<std::string, std::string>> env) {
        ChildOptions options;
        options.extraEnv = std::move(env);
        options.extraEnv.push_back({"DISPLAY", display_->name()});
        options.extraEnv.push_back({"MORLAKEN_PID_FILE", pidFile_});
        options.stderrFile = root_ / "err";
        ASSERT_TRUE(child.start(player_ / "MorlakenLauncher", {}, options));
    }
    // Every launcher that started, in order (from MORLAKEN_PID_FILE).
    std::vector<int> launchers() const {
        std::istringstream lines(readFile(pidFile_));
        std::vector<int> pids;
        for (int pid = 0; lines >> pid;)
            pids.push_back(pid);
        return pids;
    }

    TempFolder scratch_, site_;
    const fs::path root_{scratch_.path()};
    const fs::path player_{root_ / "oyun"};
    const std::string pidFile_{root_ / "pids"};
    TestServer server_;
    std::unique_ptr<PrivateDisplay> display_;
};

TEST_F(SelfUpdate, TheNewLauncherStartsItselfFromItsOwnPath) {
    // The new launcher is the built one with a mark at its end (an ELF file runs with it).
    const std::string newLauncher =
        readFile(fs::path(MORLAKEN_BIN_DIR) / "MorlakenLauncher") + "\nyeni surum\n";
    // (That installed programs stay runnable and data does not: InstallSafety.)
    const SiteFiles files = {{"MorlakenLauncher", newLauncher}, {"veri/harita.dat", "veri"}};
    publishSite(site_.path(), files);

    Child first;
    startLauncher(first, {});
    ASSERT_TRUE(waitUntil([&] { return launchers().size() == 2; }, 90)) << readFile(root_ / "err");
    int code = -1;
    ASSERT_TRUE(first.wait(30, code)) << "the old launcher did not close after the restart";
    EXPECT_EQ(code, 0);
    const int second = launchers()[1];
    EXPECT_NE(second, first.pid());
    EXPECT_TRUE(processAlive(second));
    // The restarted copy runs the file at the launcher's own place, which is the new one.
    EXPECT_EQ(processExecutable(second), (player_ / "MorlakenLauncher").string());
    EXPECT_TRUE(folderMatches(player_, files));
    signalProcess(second, kSigTerm);
    EXPECT_TRUE(waitUntil([&] { return !processAlive(second); }, 30));
}

TEST_F(SelfUpdate, ANewLauncherThatCannotStartLeavesTheOldOneOpenWithItsMessage) {
    publishSite(site_.path(), {{"MorlakenLauncher", "not a program at all\n"}});
    Child launcher;
    const std::string shot = root_ / "mesaj.png";
    startLauncher(launcher, {{"MORLAKEN_SCREENSHOT", shot},
                             {"MORLAKEN_SCREENSHOT_AFTER", "mesaj"},
                             {"MORLAKEN_EXIT_AFTER_SCREENSHOT", "1"}});
    int code = -1;
    ASSERT_TRUE(launcher.wait(90, code));
    EXPECT_EQ(code, 0) << readFile(root_ / "err");
    EXPECT_TRUE(fs::exists(shot)) << "the message dialog never showed";
    EXPECT_EQ(launchers().size(), 1u); // no copy started
    EXPECT_EQ(readFile(player_ / "MorlakenLauncher"), "not a program at all\n");
}

} // namespace
