// self_update_test.cpp - an update that replaces the launcher itself, installed by the real
// launcher. When the new copy cannot be started the launcher stays open and says so in its
// message dialog; a new launcher that runs starts by itself (it names itself in
// MORLAKEN_PID_FILE) from the launcher's own path.
#include "app/launcher_process.h"
#include "support/process_probe.h"
#include "support/site.h"
#include "support/test_server.h"

#include <gtest/gtest.h>

#include <sstream>

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

TEST(SelfUpdate, ALauncherThatCannotStartLeavesTheOldOneOpenOneThatRunsStartsItselfFromItsOwnPath) {
    TempFolder scratch, site;
    const fs::path root = scratch.path();
    TestServer server;
    server.serveFolder(site.path());
    LauncherProcess launcher(root, LauncherProcess::Veri::Copied); // the update writes into veri/
    const fs::path player = launcher.player();
    const std::string built = readFile(player / "MorlakenLauncher"), pidFile = root / "pids";
    // Every launcher that started, in order (from MORLAKEN_PID_FILE).
    const auto launchers = [&] {
        std::istringstream lines(readFile(pidFile));
        std::vector<int> pids;
        for (int pid = 0; lines >> pid;)
            pids.push_back(pid);
        return pids;
    };
    struct KillLeftOvers { // a restarted launcher is no child of the test
        const decltype(launchers)& pids;
        ~KillLeftOvers() {
            for (int pid : pids())
                if (processAlive(pid)) signalProcess(pid, kSigKill);
        }
    } killLeftOvers{launchers};
    writeFile(player / "launcher.ini", "guncelleme=" + server.baseUrl() + "\r\n");

    publishSite(site.path(), {{"MorlakenLauncher", "not a program at all\n"}});
    const std::string shot = root / "mesaj.png";
    ASSERT_TRUE(launcher.start({{"MORLAKEN_PID_FILE", pidFile},
                                {"MORLAKEN_SCREENSHOT", shot},
                                {"MORLAKEN_SCREENSHOT_AFTER", "mesaj"},
                                {"MORLAKEN_EXIT_AFTER_SCREENSHOT", "1"}}));
    int code = -1;
    ASSERT_TRUE(launcher.child().wait(90, code));
    EXPECT_EQ(code, 0) << launcher.err();
    EXPECT_TRUE(fs::exists(shot)) << "the message dialog never showed";
    EXPECT_EQ(launchers().size(), 1u); // no copy started
    EXPECT_EQ(readFile(player / "MorlakenLauncher"), "not a program at all\n");

    // The new launcher is the built one with a mark at its end (an ELF file runs with it).
    // (That installed programs stay runnable and data does not: InstallSafety.)
    writeFile(player / "MorlakenLauncher", built);
    fs::permissions(player / "MorlakenLauncher", fs::perms::owner_all);
    const SiteFiles files = {{"MorlakenLauncher", built + "\nyeni surum\n"}, {"veri/harita.dat", "veri"}};
    publishSite(site.path(), files);
    ASSERT_TRUE(launcher.start({{"MORLAKEN_PID_FILE", pidFile}}));
    ASSERT_TRUE(waitUntil([&] { return launchers().size() == 3; }, 90)) << launcher.err();
    ASSERT_TRUE(launcher.child().wait(30, code)) << "the old launcher did not close after the restart";
    EXPECT_EQ(code, 0);
    const int second = launchers()[2];
    EXPECT_NE(second, launchers()[1]);
    EXPECT_TRUE(processAlive(second));
    // The restarted copy runs the file at the launcher's own place, which is the new one.
    EXPECT_EQ(processExecutable(second), (player / "MorlakenLauncher").string());
    EXPECT_TRUE(folderMatches(player, files));
    signalProcess(second, kSigTerm);
    EXPECT_TRUE(waitUntil([&] { return !processAlive(second); }, 30));
}

} // namespace
