// folder_lock_test.cpp - the folder's update lock inside one process: a second taker
// waits until the first lets go, a stop request ends the wait (and the lock the waiter
// would have got is not kept), and an update pass that meets a held lock neither fetches
// nor writes anything until it gets it.
#include "net/http.h"
#include "platform/platform.h"
#include "support/child_process.h"
#include "support/process_probe.h"
#include "support/site.h"
#include "support/temp_folder.h"
#include "support/test_server.h"
#include "update/updater.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace testsupport;

namespace {

TEST(FolderLock, ASecondTakerWaitsAndAStopEndsTheWait) {
    TempFolder folder;
    std::atomic<bool> noStop{false};
    platform::FolderLock first = platform::lockFolder(folder.path(), noStop);
    ASSERT_GE(first, 0);

    const int self = static_cast<int>(platform::processId());
    // A taker that is not stopped waits in the kernel while the first holds the lock...
    std::atomic<platform::FolderLock> second{-1};
    std::atomic<bool> secondDone{false};
    std::thread taker([&] {
        second = platform::lockFolder(folder / ".", noStop); // another path to the same folder
        secondDone = true;
    });
    ASSERT_TRUE(waitUntil([&] { return flockRole(self) == LockRole::Waits; }, 10));
    EXPECT_FALSE(secondDone.load());

    // ...one that is stopped gives up with -1.
    std::atomic<bool> stop{false};
    std::atomic<platform::FolderLock> stopped{0};
    std::atomic<bool> stoppedDone{false};
    std::thread quitter([&] {
        stopped = platform::lockFolder(folder.path(), stop);
        stoppedDone = true;
    });
    stop = true;
    ASSERT_TRUE(waitUntil([&] { return stoppedDone.load(); }, 10));
    quitter.join();
    EXPECT_EQ(stopped.load(), -1);
    EXPECT_FALSE(secondDone.load());

    platform::unlockFolder(first);
    ASSERT_TRUE(waitUntil([&] { return secondDone.load(); }, 10));
    taker.join();
    ASSERT_GE(second.load(), 0);
    platform::unlockFolder(second);
    // Nobody kept a lock behind: the abandoned wait released what it was granted.
    platform::FolderLock again = platform::lockFolder(folder.path(), noStop);
    EXPECT_GE(again, 0);
    platform::unlockFolder(again);
}

TEST(FolderLock, APassWaitsForTheHolderAndCanBeStoppedMeanwhile) {
    httpGlobalInit();
    TempFolder game, site;
    TestServer server;
    publishSite(site.path(), {{"a.bin", "abc"}});
    server.serveFolder(site.path());
    const std::string previous = platform::fullPath(".");
    ASSERT_TRUE(platform::setWorkingFolder(game.path()));
    std::atomic<bool> noStop{false};
    platform::FolderLock held = platform::lockFolder(game.path(), noStop);
    ASSERT_GE(held, 0);

    const int self = static_cast<int>(platform::processId());
    startUpdate(server.baseUrl(), "MorlakenLauncher");
    ASSERT_TRUE(waitUntil([&] { return flockRole(self) == LockRole::Waits; }, 10));
    stopUpdate(); // returns although the lock is still held elsewhere
    EXPECT_EQ(updateStatus().state.load(), UpdateState::Checking);
    EXPECT_EQ(server.totalRequests(), 0);
    EXPECT_EQ(listTree(game.path()), "");
    // (Once the holder lets go, the waiting pass does the work: SyncLockTest.)
    platform::unlockFolder(held);
    platform::setWorkingFolder(previous);
}

} // namespace
