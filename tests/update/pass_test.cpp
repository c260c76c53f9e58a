// pass_test.cpp - the update pass's rules against the in-memory server: what is downloaded,
// kept, recorded and reported, where a pass stops, and what may stand in its way.
#include "memory_server.h"

namespace updatetest {
namespace {

const SiteFiles kThree = {{"oyun.bin", patternBytes(300000, 1)},
                          {"veri/ağaç 1.png", patternBytes(70000, 2)},
                          {"veri/ses/muzik.ogg", patternBytes(1, 3)}};
const std::string kAgacUrl = "veri/a%C4%9Fa%C3%A7%201.png";

// ---- comparison and the cache ----

// Sizes decide first; a cache record of the same size and write time vouches for content
// it never reads; any other file of the listed size is hashed once and the cache learns it.
// One status for every case: each pass starts its counters from 0 again.
TEST_F(PassTest, DownloadsWhatDiffersAndRecordsWhatIsOnDisk) {
    enum class Cache { None, Garbage, Listed, OtherHash, OtherTime };
    struct Case {
        const char* name;
        SiteFiles disk;
        Cache cache; // a record of every file on disk
        std::vector<std::string> fetched;
    };
    SiteFiles wrongBytes = kThree, otherSizes = kThree;
    wrongBytes["oyun.bin"] = patternBytes(300000, 9);
    otherSizes["oyun.bin"].pop_back();
    otherSizes["veri/ses/muzik.ogg"] = "";
    const std::vector<std::string> all = {"oyun.bin", kAgacUrl, "veri/ses/muzik.ogg"};
    const Case cases[] = {
        {"empty folder", {}, Cache::None, all},
        {"all in place, cache unreadable", kThree, Cache::Garbage, {}},
        {"the cache vouches without reading", wrongBytes, Cache::Listed, {}},
        {"same content, new write time", kThree, Cache::OtherTime, {}},
        {"one changed among new write times", wrongBytes, Cache::OtherTime, {"oyun.bin"}},
        {"the cache names another hash", kThree, Cache::OtherHash, all},
        {"other sizes", otherSizes, Cache::None, {"oyun.bin", "veri/ses/muzik.ogg"}},
    };
    server.publish(kThree, "0.9 beta");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        emptyGameFolder();
        std::string records = c.cache == Cache::Garbage ? "garbage line\n" : "";
        for (const auto& [path, content] : c.disk) {
            writeFile(game / path, content);
            const int64_t time = fileModTime(path) + (c.cache == Cache::OtherTime ? -10000000 : 0);
            const std::string hash = referenceSha256(c.cache == Cache::OtherHash ? "x" : kThree.at(path));
            records +=
                std::to_string(content.size()) + " " + std::to_string(time) + " " + hash + " " + path + "\n";
        }
        if (c.cache != Cache::None) writeFile(game / kUpdateCacheFile, records);

        ASSERT_EQ(runPass(), UpToDate) << errorText();
        std::vector<std::string> fetched;
        int64_t bytes = 0;
        for (const Request& r : server.requests) {
            EXPECT_EQ(r.state, r.path == kFileListName ? Checking : Downloading) << r.path;
            if (r.path != kFileListName) fetched.push_back(r.path);
        }
        EXPECT_EQ(fetched, c.fetched);
        for (const std::string& path : c.fetched)
            bytes += static_cast<int64_t>(server.answers[path].body.size());
        EXPECT_EQ(status.filesTotal.load(), static_cast<int32_t>(fetched.size()));
        EXPECT_EQ(status.filesDone.load(), status.filesTotal.load());
        EXPECT_EQ(status.bytesTotal.load(), bytes);
        EXPECT_EQ(status.bytesDone.load(), bytes);
        std::string version;
        copyServerVersion(status, version);
        EXPECT_EQ(version, "0.9 beta");
        // Every file is the listed one (or what the cache vouched for), and so is its record,
        // with the write time it has on disk.
        EXPECT_TRUE(folderMatches(game.path(), c.cache == Cache::Listed ? wrongBytes : kThree));
        UpdateCache saved = cache();
        EXPECT_EQ(saved.entries.size(), 3u);
        for (const auto& [path, content] : kThree) {
            EXPECT_EQ(saved.entries[path].hash, referenceSha256(content)) << path;
            EXPECT_EQ(saved.entries[path].size, static_cast<int64_t>(content.size())) << path;
            EXPECT_EQ(saved.mtimes[path], fileModTime(path)) << path;
        }
        EXPECT_EQ(tree().find(".indir"), std::string::npos);
        // The cache is saved in the writer's form; a pass that learns nothing new leaves it
        // as it is, not even rewritten.
        EXPECT_EQ(readFile(game / kUpdateCacheFile), updateCacheText(saved));
        platform::FileIdentity before, after;
        ASSERT_TRUE(platform::fileIdentity(kUpdateCacheFile, before));
        ASSERT_EQ(runPass(), UpToDate) << errorText();
        EXPECT_EQ(server.requests.size(), 1u);
        ASSERT_TRUE(platform::fileIdentity(kUpdateCacheFile, after));
        EXPECT_EQ(before, after);
    }
}

// ---- failures ----

// The first faulty file ends the pass with its message; files before it stay installed and
// in the saved cache, the faulty one keeps its old content and leaves no ".indir".
TEST_F(PassTest, FailuresEndThePassAtTheFirstFaultyFile) {
    // b.bin is large enough to be hashed back on a thread of its own.
    const SiteFiles files = {{"a.bin", patternBytes(1000, 1)}, {"b.bin", patternBytes(2200000, 2)}};
    const std::string b = files.at("b.bin"), badLine = std::string(63, 'a') + " 1 x\n";
    struct Case {
        std::string path; // the answer that misbehaves
        Answer answer;
        std::string message;
    };
    const Case cases[] = {
        {kFileListName, {"", 404}, "Güncelleme sunucusuna ulaşılamadı (sunucu 404 dondu)"},
        {kFileListName, {"", 0}, "Güncelleme sunucusuna ulaşılamadı (sunucuya ulasilamadi)"},
        {kFileListName,
         {siteList(files), 200, 30},
         "Güncelleme sunucusuna ulaşılamadı (indirme yarida kesildi)"},
        {kFileListName, {""}, "Güncelleme listesi bozuk"},
        {kFileListName, {"\xEF\xBB\xBFmorlaken-liste 1\n"}, "Güncelleme listesi bozuk"},
        {kFileListName, {"morlaken-liste 1\nsurum 7\n" + badLine}, "Güncelleme listesinde geçersiz satır"},
        {kFileListName,
         {"morlaken-liste 1\n" + std::string(64, 'a') + " 1 ../x\n"},
         "Güncelleme listesinde geçersiz satır"},
        {"b.bin", {"", 404}, "İndirme başarısız: b.bin (sunucu 404 dondu)"},
        {"b.bin", {b, 200, 1500000}, "İndirme başarısız: b.bin (indirme yarida kesildi)"},
        {"b.bin", {b.substr(0, b.size() - 1)}, "İndirme başarısız: b.bin (dosya bozuk geldi)"}, // short
        {"b.bin", {patternBytes(b.size(), 77)}, "İndirme başarısız: b.bin (dosya bozuk geldi)"},
        {"b.bin", {b + patternBytes(500000, 3)}, "İndirme başarısız: b.bin (dosya bozuk geldi)"}, // too long
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        emptyGameFolder();
        writeFile(game / "b.bin", "old content");
        server.publish(files);
        server.answers[c.path] = c.answer;
        EXPECT_EQ(runPass(), Failed);
        EXPECT_EQ(errorText(), c.message);
        EXPECT_EQ(readFile(game / "b.bin"), "old content");
        if (c.answer.body.find("surum 7") != std::string::npos) { // read before the bad line
            std::string version;
            copyServerVersion(status, version);
            EXPECT_EQ(version, "7");
        }
        if (c.path == kFileListName) { // nothing fetched, nothing saved
            EXPECT_EQ(server.requests.size(), 1u);
            EXPECT_EQ(tree(), "b.bin\n");
        } else {
            EXPECT_EQ(tree(), "a.bin\nb.bin\nguncelleme.cache\n");
            EXPECT_EQ(readFile(game / "a.bin"), files.at("a.bin"));
            EXPECT_EQ(cache().entries.count("a.bin"), 1u);
            EXPECT_EQ(cache().entries.count("b.bin"), 0u);
            EXPECT_EQ(status.filesDone.load(), 1);
        }
    }
    // Bytes past the listed size are counted, one chunk at most, and never written.
    EXPECT_GT(status.bytesDone.load(), status.bytesTotal.load());
    EXPECT_LE(status.bytesDone.load(), status.bytesTotal.load() + static_cast<int64_t>(kReadChunkBytes));
}

TEST_F(PassTest, AbsurdListedSizesSaturateTheTotalAndFailAsBroken) {
    const std::string big = " 9223372036854775807 ";
    server.answers = {{"a.bin", {"a"}},
                      {"b.bin", {"b"}},
                      {kFileListName,
                       {"morlaken-liste 1\n" + referenceSha256("a") + big + "a.bin\n" + referenceSha256("b") +
                        big + "b.bin\n"}}};
    EXPECT_EQ(runPass(), Failed);
    EXPECT_EQ(status.bytesTotal.load(), INT64_MAX);
    EXPECT_EQ(status.filesTotal.load(), 2);
    EXPECT_EQ(errorText(), "İndirme başarısız: a.bin (dosya bozuk geldi)");
    EXPECT_EQ(tree(), "guncelleme.cache\n");
}

// ---- the launcher itself ----

TEST_F(PassTest, OnlyTheLaunchersOwnFileAsksForARestart) {
    const struct {
        const char* path;
        const char* launcher;
        UpdateState result;
    } cases[] = {{"MorlakenLauncher", "MorlakenLauncher", RestartPending},
                 {"MorlakenLauncher", "BaskaLauncher", UpToDate}, // the name is the caller's
                 {"alt/OyunBaslat", "OyunBaslat", UpToDate}};     // a sub-folder's file is not it
    for (const auto& c : cases) {
        writeFile(game / c.path, "old launcher");
        server.publish({{c.path, "new launcher"}, {"oyun.bin", "game"}});
        EXPECT_EQ(runPass(c.launcher), c.result) << c.path << " as " << c.launcher;
        EXPECT_EQ(readFile(game / c.path), "new launcher");
    }
}

TEST_F(PassTest, StartingRemovesSetAsideFilesOfTheTopFolderOnly) {
    for (const char* name : {"MorlakenLauncher.eski", "veri/alt.eski", "not.eski.txt", ".eski"})
        writeFile(game / name, "x");
    startUpdate(status, "", "MorlakenLauncher"); // updates switched off: nothing is touched
    EXPECT_EQ(status.state.load(), UpToDate);
    EXPECT_FALSE(status.worker.joinable());
    EXPECT_EQ(tree(), ".eski\nMorlakenLauncher.eski\nnot.eski.txt\nveri/alt.eski\n");
    removeOldFiles();
    EXPECT_EQ(tree(), "not.eski.txt\nveri/alt.eski\n");
}

// ---- in the way ----

// A folder where a download's ".indir" or its target goes is cleared away when it is empty
// and set aside whole under ".eski" when it is not (it may be the player's); when that name
// is taken too the pass fails there.
TEST_F(PassTest, FoldersInTheWay) {
    struct Case {
        const char* name;
        std::vector<std::string> before; // files (or, ending in '/', empty folders)
        UpdateState result;
        std::string message;
        std::string after;
    };
    const std::string failed = "a.bin\nguncelleme.cache\n";
    auto done = [](const std::string& setAside) {
        return "a.bin\nguncelleme.cache\nveri/b.bin\n" + setAside + "veri/c.bin\n";
    };
    const Case cases[] = {
        {"empty .indir folder", {"a.bin.indir/"}, UpToDate, "", done("")},
        {".indir folder with content",
         {"veri/b.bin.indir/x"},
         UpToDate,
         "",
         done("veri/b.bin.indir.eski/x\n")},
        {"nowhere to set it aside",
         {"veri/b.bin.indir/x", "veri/b.bin.indir.eski/y"},
         Failed,
         "Dosya yazılamadı: veri/b.bin",
         failed + "veri/b.bin.indir.eski/y\nveri/b.bin.indir/x\n"},
        {"target folder", {"veri/b.bin/x"}, UpToDate, "", done("veri/b.bin.eski/x\n")},
        // c.bin, handed to the installer meanwhile, is given up: what is in place is a prefix.
        {"target folder, nowhere to set it aside",
         {"veri/b.bin/x", "veri/b.bin.eski/y"},
         Failed,
         "Dosya değiştirilemedi: veri/b.bin (açık olabilir)",
         failed + "veri/b.bin.eski/y\nveri/b.bin/x\n"},
    };
    server.publish({{"a.bin", "aaaa"}, {"veri/b.bin", "bbbb"}, {"veri/c.bin", "cccc"}});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        emptyGameFolder();
        for (const std::string& path : c.before) {
            if (path.ends_with('/'))
                fs::create_directories(game / path);
            else
                writeFile(game / path, path);
        }
        EXPECT_EQ(runPass(), c.result);
        EXPECT_EQ(c.result == Failed ? errorText() : "", c.message);
        EXPECT_EQ(tree(), c.after);
        EXPECT_EQ(cache().entries.count("a.bin"), 1u);
        if (c.message.starts_with(kErrTempFile)) {
            EXPECT_TRUE(server.fetchesOf("veri/b.bin").empty()) << "fetched what it could not write";
        }
    }
}

// Installs run beside the next download; a path listed twice, or a file whose name a later
// entry needs as a folder, still ends as one by one in list order would, and a file that
// arrives after the installer went idle is installed too.
TEST_F(PassTest, InstallsKeepListOrder) {
    const std::string one = patternBytes(300000, 1), two = patternBytes(2000, 2);
    auto line = [](const std::string& content, const std::string& path) {
        return referenceSha256(content) + " " + std::to_string(content.size()) + " " + path + "\n";
    };
    server.answers = {{"a.bin", {one}}, {"b.bin", {two}}, {"x", {two}}}; // "x/y" is never fetched
    server.answers[kFileListName] = {"morlaken-liste 1\n" + line(one, "a.bin") + line(two, "b.bin") +
                                     line(one, "a.bin")};
    server.answers["b.bin"].before = [&] { waitUntil([&] { return fileExists(game / "a.bin"); }, 10); };
    EXPECT_EQ(runPass(), UpToDate);
    EXPECT_TRUE(folderMatches(game.path(), {{"a.bin", one}, {"b.bin", two}}));
    EXPECT_EQ(tree(), "a.bin\nb.bin\nguncelleme.cache\n");

    server.answers[kFileListName] = {"morlaken-liste 1\n" + line(two, "x") + line(one, "x/y")};
    EXPECT_EQ(runPass(), Failed);
    EXPECT_EQ(errorText(), "Dosya yazılamadı: x/y");
    EXPECT_EQ(readFile(game / "x"), two);
    EXPECT_EQ(cache().entries.count("x"), 1u);
}

// ---- stopping ----

// A stop ends the pass where it is: no message, no cache, no ".indir"; files installed
// before it stay.
TEST_F(PassTest, AStopEndsThePassWhereItIs) {
    const SiteFiles files = {{"a.bin", patternBytes(100, 1)}, {"b.bin", patternBytes(400000, 2)}};
    for (const std::string path : {kFileListName, "b.bin"}) {
        SCOPED_TRACE(path);
        emptyGameFolder();
        server.publish(files);
        server.answers[path].stopAfter = path == "b.bin" ? 150000 : 10;
        setUpdateError(status, "the last pass's message");
        runPass();
        EXPECT_EQ(status.state.load(), path == "b.bin" ? Downloading : Checking);
        EXPECT_EQ(errorText(), "the last pass's message");
        EXPECT_EQ(tree(), path == "b.bin" ? "a.bin\n" : "");
    }
}

} // namespace
} // namespace updatetest
