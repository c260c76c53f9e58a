// folder_lock_test.cpp - the folder's update lock: a pass that meets it held, by whatever
// path to the folder, neither fetches nor writes; a stop ends its wait, and the lock the
// wait would have got is not kept; no other user can hold the lock. (Across processes, and
// the waiting pass finding the work done: tests/tools/sync_test.cpp.)
#include "memory_server.h"

#include "support/child_process.h"
#include "support/process_probe.h"

#include <atomic>
#include <thread>

namespace updatetest {
namespace {

TEST_F(PassTest, APassWaitsForTheHolderAndCanBeStoppedMeanwhile) {
    server.publish({{"a.bin", "abc"}});
    const std::atomic<bool> noStop{false};
    const platform::FolderLock held = platform::lockFolder(game.path(), noStop); // the pass locks "."
    ASSERT_GE(held, 0);
    std::thread pass([&] { runUpdatePass(status, server, kBase, "MorlakenLauncher"); });
    const int self = static_cast<int>(platform::processId());
    const bool waited = waitUntil([&] { return flockRole(self) == LockRole::Waits; }, 10);
    status.stopRequested = true; // ends the wait although the lock is still held
    pass.join();
    platform::unlockFolder(held);
    ASSERT_TRUE(waited);
    EXPECT_EQ(status.state.load(), Checking);
    EXPECT_TRUE(server.requests.empty());
    EXPECT_EQ(tree(), "");
    const platform::FolderLock again = platform::lockFolder(game.path(), noStop); // nobody kept it
    EXPECT_GE(again, 0);
    platform::unlockFolder(again);
}

// Anyone may open the game folder, so the lock is taken on a file that only the player can
// open: another user's flock on the folder does not stall a pass, and a link planted under
// the lock file's name is removed, never followed.
TEST_F(PassTest, NoOtherUserCanHoldThePassesLock) {
    server.publish({{"a.bin", "abc"}});
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

    std::atomic<bool> ended{false};
    std::thread pass([&] {
        runPass();
        ended = true;
    });
    EXPECT_TRUE(waitUntil([&] { return ended.load(); }, 30))
        << "the pass waited for a lock on the folder itself";
    status.stopRequested = true;
    pass.join();
    EXPECT_EQ(status.state.load(), UpToDate);
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
} // namespace updatetest
