// self_update_test.cpp - an update that replaces the launcher itself, installed by the real
// launcher: the new launcher starts by itself (it names itself in MORLAKEN_PID_FILE) and
// runs from the launcher's own path. When the new copy cannot be started the launcher
// stays open and says so in its message dialog.
#include "app/launcher_process.h"
#include "support/process_probe.h"
#include "support/site.h"
#include "support/test_server.h"

#include <gtest/gtest.h>

#include <sstream>

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

class SelfUpdate : public ::testing::Test {
  protected:
    void SetUp() override {
        writeFile(launcher_.player() / "launcher.ini", "guncelleme=" + server_.baseUrl() + "\r\n");
        server_.serveFolder(site_.path());
    }
    void TearDown() override {
        for (int pid : launchers())
            if (processAlive(pid)) signalProcess(pid, kSigKill);
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
    const std::string pidFile_{root_ / "pids"};
    TestServer server_;
    LauncherProcess launcher_{root_, LauncherProcess::Veri::Copied}; // the update writes into veri/
    const fs::path player_ = launcher_.player();
};

TEST_F(SelfUpdate, TheNewLauncherStartsItselfFromItsOwnPath) {
    // The new launcher is the built one with a mark at its end (an ELF file runs with it).
    // (That installed programs stay runnable and data does not: InstallSafety.)
    const SiteFiles files = {{"MorlakenLauncher", readFile(player_ / "MorlakenLauncher") + "\nyeni surum\n"},
                             {"veri/harita.dat", "veri"}};
    publishSite(site_.path(), files);
    ASSERT_TRUE(launcher_.start({{"MORLAKEN_PID_FILE", pidFile_}}));
    ASSERT_TRUE(waitUntil([&] { return launchers().size() == 2; }, 90)) << launcher_.err();
    int code = -1;
    ASSERT_TRUE(launcher_.child().wait(30, code)) << "the old launcher did not close after the restart";
    EXPECT_EQ(code, 0);
    const int second = launchers()[1];
    EXPECT_NE(second, launchers()[0]);
    EXPECT_TRUE(processAlive(second));
    // The restarted copy runs the file at the launcher's own place, which is the new one.
    EXPECT_EQ(processExecutable(second), (player_ / "MorlakenLauncher").string());
    EXPECT_TRUE(folderMatches(player_, files));
    signalProcess(second, kSigTerm);
    EXPECT_TRUE(waitUntil([&] { return !processAlive(second); }, 30));
}

TEST_F(SelfUpdate, ANewLauncherThatCannotStartLeavesTheOldOneOpenWithItsMessage) {
    publishSite(site_.path(), {{"MorlakenLauncher", "not a program at all\n"}});
    const std::string shot = root_ / "mesaj.png";
    ASSERT_TRUE(launcher_.start({{"MORLAKEN_PID_FILE", pidFile_},
                                 {"MORLAKEN_SCREENSHOT", shot},
                                 {"MORLAKEN_SCREENSHOT_AFTER", "mesaj"},
                                 {"MORLAKEN_EXIT_AFTER_SCREENSHOT", "1"}}));
    int code = -1;
    ASSERT_TRUE(launcher_.child().wait(90, code));
    EXPECT_EQ(code, 0) << launcher_.err();
    EXPECT_TRUE(fs::exists(shot)) << "the message dialog never showed";
    EXPECT_EQ(launchers().size(), 1u); // no copy started
    EXPECT_EQ(readFile(player_ / "MorlakenLauncher"), "not a program at all\n");
}

} // namespace
