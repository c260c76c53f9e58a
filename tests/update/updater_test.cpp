// updater_test.cpp - whole update passes in a temporary game folder against a test server.
#include "net/http.h"
#include "platform/platform.h"
#include "support/child_process.h"
#include "support/site.h"
#include "support/temp_folder.h"
#include "support/test_server.h"
#include "update/download.h"
#include "update/filelist.h"
#include "update/pass.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <mutex>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

using enum UpdateState;

using Files = SiteFiles;

class UpdaterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        httpGlobalInit();
        httpSetNoDataTimeoutForTests(kNoDataTimeoutSeconds);
        previousFolder = platform::fullPath(".");
        ASSERT_TRUE(platform::setWorkingFolder(game.path()));
        server.serveFolder(site.path());
    }
    void TearDown() override {
        server.stop();
        stopUpdate(status);
        platform::setWorkingFolder(previousFolder);
        httpSetNoDataTimeoutForTests(kNoDataTimeoutSeconds);
    }

    // Puts `files` and their list on the server.
    void publish(const Files& files, const std::string& version = "1.2.3") { publishSite(site.path(), files, version); }
    void install(const Files& files) {
        for (const auto& [path, content] : files)
            writeFile(game / path, content);
    }

    // One full pass through startUpdate, waited for.
    UpdateState runPass(const std::string& launcherName = "MorlakenLauncher") {
        {
            std::lock_guard<std::mutex> lock(statesMutex);
            states.clear();
        }
        startUpdate(status, server.baseUrl(), launcherName);
        if (status.worker.joinable()) status.worker.join();
        return status.state.load();
    }
    std::vector<UpdateState> recordedStates() {
        std::lock_guard<std::mutex> lock(statesMutex);
        std::vector<UpdateState> distinct;
        for (UpdateState s : states)
            if (distinct.empty() || distinct.back() != s) distinct.push_back(s);
        return distinct;
    }
    std::string errorText() {
        std::string text;
        copyUpdateError(status, text);
        return text;
    }
    std::string serverVersion() {
        std::string text;
        copyServerVersion(status, text);
        return text;
    }
    bool noDownloadLeftovers() { return listTree(game.path()).find(".indir") == std::string::npos; }

    UpdateStatus status;
    TempFolder game; // the launcher's folder (working folder during the test)
    TempFolder site; // what the server publishes
    TestServer server;
    std::string previousFolder;
    std::mutex statesMutex;
    std::vector<UpdateState> states;
};

const Files kThree = {{"oyun.bin", patternBytes(300000, 1)},
                      {"veri/ağaç 1.png", patternBytes(70000, 2)},
                      {"veri/ses/muzik.ogg", patternBytes(1, 3)}};

// ---- state sequences ----

TEST_F(UpdaterTest, MissingFilesAreDownloadedThroughDownloading) {
    publish(kThree, "0.9 beta");
    EXPECT_EQ(runPass(), UpToDate);
    for (const auto& [path, content] : kThree)
        EXPECT_EQ(readFile(game / path), content) << path;
    UpdateStatus& s = status;
    EXPECT_EQ(s.filesTotal.load(), 3);
    EXPECT_EQ(s.filesDone.load(), 3);
    EXPECT_EQ(s.bytesTotal.load(), 370001);
    EXPECT_EQ(s.bytesDone.load(), 370001);
    EXPECT_EQ(serverVersion(), "0.9 beta");
    EXPECT_TRUE(noDownloadLeftovers());
    // The cache knows every installed file with its time on disk.
    UpdateCache cache = loadUpdateCache(game / kUpdateCacheFile);
    ASSERT_EQ(cache.entries.size(), 3u);
    for (const auto& [path, content] : kThree) {
        EXPECT_EQ(cache.entries[path].hash, referenceSha256(content));
        EXPECT_EQ(cache.mtimes[path], fileModTime(path));
    }
}

TEST_F(UpdaterTest, MatchingFolderGoesFromOneToThreeAndRewritesTheCache) {
    publish(kThree);
    install(kThree);
    writeFile(game / kUpdateCacheFile, "garbage line\n");
    EXPECT_EQ(runPass(), UpToDate);
    EXPECT_EQ(server.totalRequests(), 1); // the list only
    EXPECT_EQ(status.filesTotal.load(), 0);
    UpdateCache cache = loadUpdateCache(game / kUpdateCacheFile);
    EXPECT_EQ(cache.entries.size(), 3u);
}

TEST_F(UpdaterTest, ReplacingTheLauncherItselfEndsInRestart) {
    Files files = {{"MorlakenLauncher", "new launcher"}, {"oyun.bin", "game"}};
    publish(files);
    writeFile(game / "MorlakenLauncher", "old launcher");
    EXPECT_EQ(runPass(), RestartPending);
    EXPECT_EQ(readFile(game / "MorlakenLauncher"), "new launcher");

    // The name is a parameter: the same content under another launcher name restarts nothing.
    publish({{"MorlakenLauncher", "newer launcher"}});
    EXPECT_EQ(runPass("BaskaLauncher"), UpToDate);
    // ...and a launcher file in a sub-folder is not the launcher.
    publish({{"alt/OyunBaslat", "x"}});
    EXPECT_EQ(runPass("OyunBaslat"), UpToDate);
}

TEST_F(UpdaterTest, EmptyAddressIsUpToDateWithoutThreadNetworkOrCleanup) {
    writeFile(game / "eski.exe.eski", "set aside");
    startUpdate(status, "", "MorlakenLauncher");
    EXPECT_EQ(status.state.load(), UpToDate);
    EXPECT_FALSE(status.worker.joinable());
    EXPECT_FALSE(status.workerActive.load());
    EXPECT_TRUE(fileExists(game / "eski.exe.eski"));
    EXPECT_EQ(server.totalRequests(), 0);
}

TEST_F(UpdaterTest, RetryStartsCountersAgainAndSetAsideFilesAreRemoved) {
    publish(kThree);
    fs::remove(site / "veri/ses/muzik.ogg"); // the last file fails
    EXPECT_EQ(runPass(), Failed);
    EXPECT_EQ(status.filesDone.load(), 2);
    publish(kThree);
    writeFile(game / "MorlakenLauncher.eski", "old");
    writeFile(game / "veri/alt.eski", "kept: not in the top folder");
    writeFile(game / "not.eski.txt", "kept: other extension");
    writeFile(game / ".eski", "removed: the extension is all there is");
    EXPECT_EQ(runPass(), UpToDate);
    EXPECT_EQ(status.filesTotal.load(), 1); // the two installed files were remembered
    EXPECT_EQ(status.filesDone.load(), 1);
    EXPECT_EQ(status.bytesDone.load(), 1);
    EXPECT_FALSE(fileExists(game / "MorlakenLauncher.eski"));
    EXPECT_TRUE(fileExists(game / "veri/alt.eski"));
    EXPECT_TRUE(fileExists(game / "not.eski.txt"));
    EXPECT_FALSE(fileExists(game / ".eski"));
}

// ---- the cache ----

TEST_F(UpdaterTest, CacheSpareReadingUnchangedFilesAndRefreshesTouchedOnes) {
    publish(kThree);
    ASSERT_EQ(runPass(), UpToDate);
    int requestsAfterFirst = server.totalRequests();

    // Second pass: sizes and times match the cache, so nothing is read or fetched.
    ASSERT_EQ(runPass(), UpToDate);
    EXPECT_EQ(server.totalRequests(), requestsAfterFirst + 1);

    // A new write time with the same content: hashed once, not downloaded, cache refreshed.
    fs::last_write_time(game / "oyun.bin", fs::last_write_time(game / "oyun.bin") + std::chrono::hours(1));
    int64_t newTime = fileModTime("oyun.bin");
    ASSERT_EQ(runPass(), UpToDate);
    EXPECT_EQ(server.requestCount("/oyun.bin"), 1); // only the first pass's download
    EXPECT_EQ(loadUpdateCache(game / kUpdateCacheFile).mtimes["oyun.bin"], newTime);
    ASSERT_EQ(runPass(), UpToDate);
}

TEST_F(UpdaterTest, CacheRecordWithAnotherHashMeansDownloadWithoutHashing) {
    Files files = {{"a.bin", patternBytes(5000, 1)}, {"b.bin", patternBytes(6000, 2)}};
    publish(files);
    ASSERT_EQ(runPass(), UpToDate);
    // New content of the same size on the server: the cache vouches for the old hash.
    Files changed = {{"a.bin", patternBytes(5000, 9)}, {"b.bin", patternBytes(6001, 2)}};
    publish(changed);
    EXPECT_EQ(runPass(), UpToDate);
    EXPECT_EQ(status.filesTotal.load(), 2);
    for (const auto& [path, content] : changed)
        EXPECT_EQ(readFile(game / path), content);
}

// ---- the failure table ----

TEST_F(UpdaterTest, ListFailuresLeaveNoCache) {
    struct Case {
        std::string list;
        std::string message;
    } cases[] = {
        {"", "Güncelleme listesi bozuk"},
        {"\xEF\xBB\xBFmorlaken-liste 1\n", "Güncelleme listesi bozuk"},
        {"morlaken-liste 1\nsurum 7\n" + std::string(63, 'a') + " 1 x\n",
         "Güncelleme listesinde geçersiz satır"},
        {"morlaken-liste 1\n" + std::string(64, 'a') + " 1 ../x\n", "Güncelleme listesinde geçersiz satır"},
    };
    for (const auto& c : cases) {
        writeFile(site / "dosyalar.txt", c.list);
        EXPECT_EQ(runPass(), Failed);
        EXPECT_EQ(errorText(), c.message);
        EXPECT_FALSE(fileExists(game / kUpdateCacheFile));
    }
    EXPECT_EQ(serverVersion(), "7"); // taken before the bad line

    fs::remove(site / "dosyalar.txt");
    EXPECT_EQ(runPass(), Failed);
    EXPECT_EQ(errorText(), "Güncelleme sunucusuna ulaşılamadı (sunucu 404 dondu)");
    server.stop();
    EXPECT_EQ(runPass(), Failed);
    EXPECT_EQ(errorText(), "Güncelleme sunucusuna ulaşılamadı (sunucuya ulasilamadi)");
    EXPECT_FALSE(fileExists(game / kUpdateCacheFile));
}

TEST_F(UpdaterTest, DownloadFailuresKeepEarlierFilesAndOldContentAndSaveTheCache) {
    Files files = {{"a.bin", patternBytes(1000, 1)}, {"b.bin", patternBytes(200000, 2)}};
    auto failWith = [&](const Route& route, const std::string& message) {
        SCOPED_TRACE(message);
        for (const auto& entry : fs::directory_iterator(game.path()))
            fs::remove_all(entry.path());
        publish(files);
        writeFile(game / "b.bin", "old content");
        server.route("/b.bin", route);
        EXPECT_EQ(runPass(), Failed);
        EXPECT_EQ(errorText(), message);
        EXPECT_EQ(readFile(game / "a.bin"), files["a.bin"]); // installed before the failure
        EXPECT_EQ(readFile(game / "b.bin"), "old content");
        EXPECT_TRUE(noDownloadLeftovers());
        UpdateCache cache = loadUpdateCache(game / kUpdateCacheFile);
        EXPECT_EQ(cache.entries.count("a.bin"), 1u);
        EXPECT_EQ(cache.entries.count("b.bin"), 0u);
    };
    failWith(answer(404, ""), "İndirme başarısız: b.bin (sunucu 404 dondu)");
    failWith(cutShort(files["b.bin"], 100000, 200000), "İndirme başarısız: b.bin (indirme yarida kesildi)");
    // A complete answer that is shorter than listed, and one with other content.
    failWith(answer(200, files["b.bin"].substr(0, 199999)), "İndirme başarısız: b.bin (dosya bozuk geldi)");
    failWith(answer(200, patternBytes(200000, 77)), "İndirme başarısız: b.bin (dosya bozuk geldi)");
    failWith(misbehave(Behaviour::Endless), "İndirme başarısız: b.bin (dosya bozuk geldi)");
    EXPECT_GT(status.bytesDone.load(), status.bytesTotal.load());
    EXPECT_LE(status.bytesDone.load(), status.bytesTotal.load() + 65536);
    httpSetNoDataTimeoutForTests(1);
    failWith(stall(files["b.bin"], 5000), "İndirme başarısız: b.bin (indirme yarida kesildi)");
}

TEST_F(UpdaterTest, AbsurdListedSizesSaturateTheTotalAndFailAsBroken) {
    // Two files that claim the largest size a list can hold: the byte total must not
    // overflow, and the short bodies that arrive are reported as broken files.
    const std::string big = "9223372036854775807";
    writeFile(site / "a.bin", "a");
    writeFile(site / "b.bin", "b");
    writeFile(site / "dosyalar.txt", "morlaken-liste 1\n" + referenceSha256("a") + " " + big + " a.bin\n" +
                                         referenceSha256("b") + " " + big + " b.bin\n");
    EXPECT_EQ(runPass(), Failed);
    EXPECT_EQ(status.bytesTotal.load(), INT64_MAX);
    EXPECT_EQ(status.filesTotal.load(), 2);
    EXPECT_EQ(errorText(), "İndirme başarısız: a.bin (dosya bozuk geldi)");
    EXPECT_FALSE(fileExists(game / "a.bin"));
    EXPECT_TRUE(noDownloadLeftovers());
}

// A folder where a download's ".indir" goes would fail every pass: an empty one is removed,
// one with content is set aside whole (it may be the player's).
TEST_F(UpdaterTest, FoldersUnderDownloadNamesAreClearedAway) {
    publish({{"a.bin", "aaaa"}, {"veri/b.bin", "bbbb"}});
    fs::create_directories(game / "a.bin.indir");
    writeFile(game / "veri/b.bin.indir/not ours", "kept");
    EXPECT_EQ(runPass(), UpToDate) << errorText();
    EXPECT_TRUE(folderMatches(game.path(), {{"a.bin", "aaaa"}, {"veri/b.bin", "bbbb"}}));
    EXPECT_FALSE(fs::exists(fs::symlink_status(game / "a.bin.indir")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(game / "a.bin.indir.eski")));
    EXPECT_EQ(readFile(game / "veri/b.bin.indir.eski/not ours"), "kept");
}

TEST_F(UpdaterTest, TemporaryFileThatCannotBeCreated) {
    publish({{"a.bin", "aaaa"}, {"b.bin", "bbbb"}});
    fs::create_directories(game / "b.bin.indir/blocker");
    fs::create_directories(game / "b.bin.indir.eski/blocker"); // nowhere to set it aside
    EXPECT_EQ(runPass(), Failed);
    EXPECT_EQ(errorText(), "Dosya yazılamadı: b.bin");
    EXPECT_EQ(readFile(game / "a.bin"), "aaaa");
    EXPECT_EQ(loadUpdateCache(game / kUpdateCacheFile).entries.count("a.bin"), 1u);
    EXPECT_EQ(server.requestCount("/b.bin"), 0);
}

// Installs run beside the next download; a path listed twice, or a file whose name a
// later entry needs as a folder, must still end as one by one in list order would.
TEST_F(UpdaterTest, InstallsKeepListOrderForRepeatedAndNestedPaths) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> lines; // path, content, in list order
        UpdateState result;
        std::string error;
        std::map<std::string, std::string> installed;
    };
    const std::string one = patternBytes(300000, 1), two = patternBytes(2000, 2);
    const std::vector<Case> cases = {
        {"repeated",
         {{"a.bin", one}, {"b.bin", two}, {"a.bin", one}},
         UpToDate,
         "",
         {{"a.bin", one}, {"b.bin", two}}},
        {"file, then a folder of that name",
         {{"x", two}, {"x/y", one}},
         Failed,
         "Dosya yazılamadı: x/y",
         {{"x", two}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto& entry : fs::directory_iterator(game.path()))
            fs::remove_all(entry.path());
        std::string list = "morlaken-liste 1\n";
        for (const auto& [path, content] : c.lines) {
            if (path.find('/') == std::string::npos)
                writeFile(site / path, content); // "x/y" is never fetched
            list += referenceSha256(content) + " " + std::to_string(content.size()) + " " + path + "\n";
        }
        writeFile(site / "dosyalar.txt", list);
        EXPECT_EQ(runPass(), c.result);
        if (c.result == Failed) {
            EXPECT_EQ(errorText(), c.error);
        }
        UpdateCache cache = loadUpdateCache(game / kUpdateCacheFile);
        for (const auto& [path, content] : c.installed) {
            EXPECT_TRUE(readFile(game / path) == content) << path;
            EXPECT_EQ(cache.entries.count(path), 1u) << path;
        }
        EXPECT_TRUE(noDownloadLeftovers());
    }
}

TEST_F(UpdaterTest, TargetThatCannotBeRenamedIsSetAsideUnderEski) {
    publish({{"veri/kutu.png", "new image"}});
    writeFile(game / "veri/kutu.png/inside", "a folder where the file should be");
    EXPECT_EQ(runPass(), UpToDate); // set aside like a launcher in use, but no restart
    EXPECT_EQ(readFile(game / "veri/kutu.png"), "new image");
    EXPECT_EQ(readFile(game / "veri/kutu.png.eski/inside"), "a folder where the file should be");
    EXPECT_TRUE(noDownloadLeftovers());
}

TEST_F(UpdaterTest, TargetThatCannotBeSetAsideFailsAndStaysInPlace) {
    publish({{"a.bin", "ok"}, {"veri/kutu.png", "new image"}});
    writeFile(game / "veri/kutu.png/inside", "stays");
    writeFile(game / "veri/kutu.png.eski/inside", "blocks the set-aside name");
    EXPECT_EQ(runPass(), Failed);
    EXPECT_EQ(errorText(), "Dosya değiştirilemedi: veri/kutu.png (açık olabilir)");
    EXPECT_EQ(readFile(game / "veri/kutu.png/inside"), "stays");
    EXPECT_TRUE(noDownloadLeftovers());
    EXPECT_EQ(loadUpdateCache(game / kUpdateCacheFile).entries.count("a.bin"), 1u);
}

// ---- stopping ----

TEST_F(UpdaterTest, StopDuringADownloadLeavesNoPartialFileAndNoCache) {
    Files files = {{"a.bin", patternBytes(100, 1)}, {"b.bin", patternBytes(400000, 2)}};
    publish(files);
    server.route("/b.bin", stall(files["b.bin"], 150000));
    httpSetNoDataTimeoutForTests(600); // only the stop can end this download
    startUpdate(status, server.baseUrl(), "MorlakenLauncher");
    ASSERT_TRUE(waitUntil([&] { return server.stalledNow() == 1 && fileExists(game / "b.bin.indir"); }, 10));
    stopUpdate(status);
    EXPECT_FALSE(status.workerActive.load());
    EXPECT_EQ(status.state.load(), Downloading);
    EXPECT_TRUE(noDownloadLeftovers());
    EXPECT_FALSE(fileExists(game / "b.bin"));
    EXPECT_FALSE(fileExists(game / kUpdateCacheFile));
}

TEST_F(UpdaterTest, StopWhileTheListIsFetchedEndsQuietly) {
    server.route("/dosyalar.txt", misbehave(Behaviour::Silent));
    httpSetNoDataTimeoutForTests(600);
    startUpdate(status, server.baseUrl(), "MorlakenLauncher");
    ASSERT_TRUE(waitUntil([&] { return server.stalledNow() == 1; }, 10));
    stopUpdate(status);
    EXPECT_EQ(status.state.load(), Checking);
}

} // namespace
