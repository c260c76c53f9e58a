// folder_lock_test.cpp - the folder's update lock inside one process: a second taker
// waits until the first lets go, a stop request ends the wait (and the lock the waiter
// would have got is not kept), an update pass that meets a held lock neither fetches
// nor writes anything until it gets it, and no other user can hold the lock.
#include "net/http.h"
#include "platform/platform.h"
#include "support/child_process.h"
#include "support/process_probe.h"
#include "support/site.h"
#include "support/temp_folder.h"
#include "support/test_server.h"
#include "update/download.h"
#include "update/pass.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

using namespace testsupport;
namespace fs = std::filesystem;

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
    UpdateStatus status;
    startUpdate(status, server.baseUrl(), "MorlakenLauncher");
    ASSERT_TRUE(waitUntil([&] { return flockRole(self) == LockRole::Waits; }, 10));
    stopUpdate(status); // returns although the lock is still held elsewhere
    EXPECT_EQ(status.state.load(), UpdateState::Checking);
    EXPECT_EQ(server.totalRequests(), 0);
    EXPECT_EQ(listTree(game.path()), std::string(platform::kFolderLockFile) + "\n");
    // (Once the holder lets go, the waiting pass does the work: SyncLockTest.)
    platform::unlockFolder(held);
    platform::setWorkingFolder(previous);
}

// Anyone may open the game folder, so the lock is taken on a file that only the player
// can open: another user's flock on the folder does not stall a pass, and a link planted
// under the lock file's name is removed, never followed.
TEST(FolderLock, NoOtherUserCanHoldThePassesLock) {
    httpGlobalInit();
    TempFolder game, site, outside;
    TestServer server;
    publishSite(site.path(), {{"a.bin", "abc"}});
    server.serveFolder(site.path());
    const std::string lockFile = game / platform::kFolderLockFile;
    writeFile(outside / "kurban", "must stay");
    fs::create_symlink(outside / "kurban", lockFile);
    // flock(1) holds the folder itself: as user nobody when the test runs as root.
    const bool asNobody = permissionBitsIgnored();
    auto asOther = [&](std::vector<std::string> flockArgs) {
        if (!asNobody) return std::make_pair(std::string("/usr/bin/flock"), flockArgs);
        flockArgs.insert(flockArgs.begin(),
                         {"--reuid=65534", "--regid=65534", "--clear-groups", "/usr/bin/flock"});
        return std::make_pair(std::string("/usr/bin/setpriv"), flockArgs);
    };
    const auto [holderProgram, holderArgs] = asOther({"-x", game.path(), "sleep", "600"});
    Child holder;
    ASSERT_TRUE(holder.start(holderProgram, holderArgs));
    ASSERT_TRUE(waitUntil([&] { return flockRole(holder.pid()) == LockRole::Holds; }, 10));

    const std::string previous = platform::fullPath(".");
    ASSERT_TRUE(platform::setWorkingFolder(game.path()));
    UpdateStatus status;
    startUpdate(status, server.baseUrl(), "MorlakenLauncher");
    const bool ended = waitUntil([&] { return !status.workerActive.load(); }, 30);
    stopUpdate(status);
    platform::setWorkingFolder(previous);
    EXPECT_TRUE(ended) << "the pass waited for a lock on the folder itself";
    EXPECT_EQ(status.state.load(), UpdateState::UpToDate);
    EXPECT_EQ(readFile(game / "a.bin"), "abc");

    EXPECT_EQ(readFile(outside / "kurban"), "must stay");
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(lockFile)));
    EXPECT_EQ(fs::status(lockFile).permissions() & fs::perms::mask,
              fs::perms::owner_read | fs::perms::owner_write);
    if (asNobody) {
        std::string out;
        const auto [program, args] = asOther({"-n", "-x", lockFile, "true"});
        EXPECT_NE(runProgram(program, args, out), 0) << "another user opened the lock file";
    }
}

} // namespace
