// The update worker of the Windows build against morlaken-devhost running natively on
// this machine: scripts/test --windows starts it and hands its address in
// MORLAKEN_TEST_BASE and the published folder (as Wine's Z: path) in MORLAKEN_TEST_SITE.
#include "platform/platform.h"
#include "support/temp_folder.h"
#include "update/updater.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

TEST(WindowsUpdater, BringsAnEmptyNonAsciiFolderUpToDateThenHashesNothing) {
    const char* base = std::getenv("MORLAKEN_TEST_BASE");
    const char* site = std::getenv("MORLAKEN_TEST_SITE");
    ASSERT_TRUE(base && *base && site && *site) << "run through scripts/test --windows";
    testsupport::TempFolder temp;
    const std::string game = temp / "Gökhan/Morlaken Online";
    ASSERT_TRUE(platform::createFolders(game));
    const std::string before = platform::fullPath(".");
    ASSERT_TRUE(platform::setWorkingFolder(game));

    for (int pass = 0; pass < 2; ++pass) {
        updateStatus().stopRequested = false;
        updateWorker(base, platform::launcherFileName());
        std::string error;
        copyUpdateError(error);
        ASSERT_EQ(updateStatus().state.load(), UpdateState::UpToDate) << error;
        // The second pass finds every file through the cache and reads none of them.
        if (pass == 1) {
            EXPECT_EQ(updateFilesHashed(), 0);
        }
    }
    ASSERT_TRUE(platform::setWorkingFolder(before));

    // Every served file arrived byte for byte (read through the platform layer: the
    // folder's name is not ASCII); the folder holds nothing else but the cache.
    std::vector<std::string> names;
    ASSERT_TRUE(platform::listFolder(game, names));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Gökhan notu.txt", "guncelleme.cache", "oyun.pak", "veri"}));
    for (const char* name : {"oyun.pak", "veri/harita.map", "Gökhan notu.txt"}) {
        std::string local, served;
        EXPECT_TRUE(platform::readWholeFile(game + "/" + name, local)) << name;
        EXPECT_TRUE(platform::readWholeFile(std::string(site) + "/" + name, served)) << name;
        EXPECT_TRUE(local == served) << name;
    }
}

} // namespace
