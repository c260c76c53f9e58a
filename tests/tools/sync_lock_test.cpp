// sync_lock_test.cpp - morlaken-sync twice at once in one folder, against a server the test
// paces: the second pass waits for the first one's folder lock and finds the work done, or
// takes over when the first is killed. Every file ends correct and its cache record true.
#include "support/child_process.h"
#include "support/process_probe.h"
#include "support/site.h"
#include "support/temp_folder.h"
#include "support/test_server.h"
#include "update/filelist.h"

#include <gtest/gtest.h>

#include <array>

using namespace testsupport;

namespace {

const SiteFiles kFiles = {{"a.bin", patternBytes(40000, 1)},
                          {"b/big.bin", patternBytes(3000000, 2)},
                          {"c.bin", patternBytes(50000, 3)}};

class SyncLockTest : public ::testing::Test {
  protected:
    void SetUp() override {
        publishSite(site.path(), kFiles);
        server.serveFolder(site.path());
        server.route("/b/big.bin", hold(kFiles.at("b/big.bin"), 1000000)); // a slow server
        for (Child& c : syncs)
            ASSERT_TRUE(c.start(builtProgram("morlaken-sync"), {game.path(), server.baseUrl()}));
        // One pass is inside the big download and holds the lock; the other is blocked on it.
        ASSERT_TRUE(waitUntil(
            [&] {
                return server.stalledNow() == 1 && flockRole(syncs[0].pid()) != flockRole(syncs[1].pid()) &&
                       flockRole(syncs[0].pid()) != LockRole::None &&
                       flockRole(syncs[1].pid()) != LockRole::None;
            },
            30))
            << "no pass holds the folder lock while the other waits";
        holder = flockRole(syncs[0].pid()) == LockRole::Holds ? 0 : 1;
        EXPECT_EQ(server.requestCount("/dosyalar.txt"), 1) << "the waiting pass must not read the list yet";
    }

    // Every listed file has its content, and its cache record its hash, size and time.
    void expectFolderAndCacheTrue() {
        EXPECT_TRUE(folderMatches(game.path(), kFiles));
        UpdateCache cache = loadUpdateCache(game / kUpdateCacheFile);
        for (const auto& [path, content] : kFiles) {
            SCOPED_TRACE(path);
            EXPECT_EQ(cache.entries[path].hash, referenceSha256(content));
            EXPECT_EQ(cache.entries[path].size, static_cast<int64_t>(content.size()));
            EXPECT_EQ(cache.mtimes[path], fileModTime(game / path));
        }
        EXPECT_EQ(listTree(game.path()), "a.bin\nb/big.bin\nc.bin\nguncelleme.cache\nguncelleme.kilit\n");
    }

    TempFolder game, site;
    TestServer server;
    std::array<Child, 2> syncs;
    int holder = 0;
};

TEST_F(SyncLockTest, TheSecondPassWaitsAndFindsTheWorkDone) {
    server.releaseStalls();
    for (Child& c : syncs) {
        int code = -1;
        ASSERT_TRUE(c.wait(60, code));
        EXPECT_EQ(code, 0);
    }
    EXPECT_EQ(server.requestCount("/b/big.bin"), 1); // downloaded once, by the first pass
    EXPECT_EQ(server.requestCount("/dosyalar.txt"), 2);
    expectFolderAndCacheTrue();
}

TEST_F(SyncLockTest, WhenTheHolderIsKilledTheWaitingPassTakesOver) {
    Child& first = syncs[holder];
    Child& second = syncs[1 - holder];
    first.kill();
    int code = -1;
    ASSERT_TRUE(first.wait(10, code));
    EXPECT_EQ(code, 128 + kSigKill);
    // The dead pass's lock is released: the other one reads the list and downloads.
    ASSERT_TRUE(waitUntil([&] { return server.requestCount("/b/big.bin") >= 2; }, 30));
    server.releaseStalls();
    ASSERT_TRUE(second.wait(60, code));
    EXPECT_EQ(code, 0);
    expectFolderAndCacheTrue(); // no ".indir" of the killed pass is left either
}

} // namespace
