// patch_test.cpp - patched files against the in-memory server: what a patch fetches (counted
// by the server, list and index included), that every failure of the patch path still ends
// with the listed file and nothing half-made in place, and mirrors standing in for one
// another.
#include "memory_server.h"

namespace updatetest {
namespace {

// `old` with `count` regions of `each` bytes overwritten, spread over the whole file.
std::string withRegions(std::string bytes, int count, size_t each) {
    for (int i = 0; i < count; ++i) {
        const size_t at =
            (2 * static_cast<size_t>(i) + 1) * bytes.size() / (2 * static_cast<size_t>(count) + 1);
        bytes.replace(at, each, patternBytes(each, 100 + static_cast<uint32_t>(i)));
    }
    return bytes;
}

// The folder holds exactly `path` with `content` and the cache: no ".indir" of any kind.
::testing::AssertionResult onlyInstalled(const std::string& tree, const std::string& path) {
    if (tree == path + "\nguncelleme.cache\n") return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << tree;
}

// ---- what a patch costs ----

// 256 MiB with about 1% changed in 20 places, 100 KiB inserted near the start and 100 KiB
// removed near the end: the pass fetches at most 3% of the file, list and index included;
// one changed byte at most 0.5%. Reused bytes count as done; only fetched ones as fetched.
TEST_F(PassTest, APatchFetchesTheChangedChunksOnly) {
    const size_t size = size_t(256) << 20;
    const std::string old = patternBytes(size, 7);
    std::string spread = withRegions(old, 20, size / 100 / 20);
    spread.insert(size_t(1) << 20, patternBytes(100 << 10, 99));
    spread.erase(spread.size() - (size_t(3) << 20), 100 << 10);
    std::string oneByte = old;
    oneByte[size / 2] = static_cast<char>(~oneByte[size / 2]);
    const struct {
        const char* name;
        const std::string& content;
        double share;
    } cases[] = {{"1% in 20 places, an insertion and a deletion", spread, 0.03},
                 {"one byte in the middle", oneByte, 0.005}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        emptyGameFolder();
        writeFile(game / "arsiv.pak", old);
        server.publish({{"arsiv.pak", c.content}}, "2", kChunkMinBytes);
        ASSERT_EQ(runPass(), UpToDate) << errorText();
        EXPECT_LE(server.bytesServed, static_cast<int64_t>(c.share * double(size)));
        EXPECT_TRUE(readFile(game / "arsiv.pak") == c.content);
        EXPECT_TRUE(onlyInstalled(tree(), "arsiv.pak"));
        const std::vector<int64_t> fetches = server.fetchesOf("arsiv.pak");
        EXPECT_EQ(std::count(fetches.begin(), fetches.end(), -1), 0) << "fetched whole";
        EXPECT_GT(fetches.size(), 0u);
        for (const Request& r : server.requests)
            EXPECT_TRUE(r.from < 0 || r.length > 0) << "a range to the end: " << r.from;
        EXPECT_EQ(status.bytesDone.load(), static_cast<int64_t>(c.content.size()));
        EXPECT_EQ(status.bytesTotal.load(), static_cast<int64_t>(c.content.size()));
        EXPECT_LT(status.bytesFetched.load(), server.bytesServed); // the list is not a file's
    }
}

// ---- fallbacks ----

// Whatever goes wrong on the patch path ends in one whole download of the file, or, when
// that fails too, in the pass's message with the old file untouched; never a partial or
// wrong file in place and no ".indir" of either kind left.
TEST_F(PassTest, EveryFailureOfAPatchEndsInOneWholeDownload) {
    const std::string old = patternBytes(3 << 20, 1), fresh = withRegions(old, 3, 5000);
    const std::string indexUrl = std::string(kChunkIndexFolder) + "/" +
                                 referenceSha256(chunkIndexBytes(chunkBytes(fresh), int64_t(fresh.size())));
    struct Case {
        const char* name;
        std::function<void(MemoryServer&)> misbehave;
        UpdateState result = UpToDate;
        std::string message = "";
    };
    const Case cases[] = {
        {"ranges ignored: 200 with the whole file",
         [](MemoryServer& s) { s.answers["a.pak"].ignoreRange = true; }},
        {"ranged answers with wrong bytes",
         [](MemoryServer& s) { s.answers["a.pak"].wrongRangeBytes = true; }},
        {"index missing", [&](MemoryServer& s) { s.answers.erase(indexUrl); }},
        {"index not the listed one", [&](MemoryServer& s) { s.answers[indexUrl].body[30] ^= 1; }},
        {"index longer than listed", [&](MemoryServer& s) { s.answers[indexUrl].body += "x"; }},
        {"whole download fails too", [](MemoryServer& s) { s.answers["a.pak"].status = 500; }, Failed,
         "İndirme başarısız: a.pak (sunucu 500 dondu)"},
        {"whole download wrong too",
         [](MemoryServer& s) {
             s.answers["a.pak"].wrongRangeBytes = true;
             s.answers["a.pak"].body[7] ^= 1;
         },
         Failed, "İndirme başarısız: a.pak (dosya bozuk geldi)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        emptyGameFolder();
        writeFile(game / "a.pak", old);
        server.publish({{"a.pak", fresh}}, "2", 1);
        c.misbehave(server);
        EXPECT_EQ(runPass(), c.result);
        const std::vector<int64_t> fetches = server.fetchesOf("a.pak");
        EXPECT_EQ(std::count(fetches.begin(), fetches.end(), -1), 1) << "one whole download";
        EXPECT_EQ(fetches.back(), -1);
        if (c.result == UpToDate) {
            EXPECT_TRUE(readFile(game / "a.pak") == fresh);
            EXPECT_TRUE(onlyInstalled(tree(), "a.pak"));
            EXPECT_EQ(status.bytesDone.load(), status.bytesTotal.load()); // the patch's count taken back
        } else {
            EXPECT_EQ(errorText(), c.message);
            EXPECT_TRUE(readFile(game / "a.pak") == old);
            EXPECT_EQ(tree(), "a.pak\nguncelleme.cache\n");
        }
    }
}

// The old copy may be the file in place, an interrupted run's ".indir" (a prefix of the new
// file), or both; none is ever the file written. A stop on the way leaves neither ".indir".
TEST_F(PassTest, APatchReadsTheOldFileAndAnInterruptedDownload) {
    const std::string old = patternBytes(2 << 20, 3),
                      fresh = withRegions(old, 4, 3000) + patternBytes(1 << 20, 4);
    const std::string prefix = fresh.substr(0, fresh.size() / 2);
    const struct {
        const char* name;
        bool target, partial;
        double share; // at most this much of the file fetched
    } cases[] = {{"the file in place", true, false, 0.45},
                 {"an interrupted download", false, true, 0.6},
                 {"both", true, true, 0.4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        emptyGameFolder();
        if (c.target) writeFile(game / "a.pak", old);
        if (c.partial) writeFile(game / "a.pak.indir", prefix);
        server.publish({{"a.pak", fresh}}, "2", 1);
        ASSERT_EQ(runPass(), UpToDate) << errorText();
        EXPECT_TRUE(readFile(game / "a.pak") == fresh);
        EXPECT_TRUE(onlyInstalled(tree(), "a.pak"));
        EXPECT_LE(server.bytesServed, static_cast<int64_t>(c.share * double(fresh.size())));
    }
    emptyGameFolder();
    writeFile(game / "a.pak", old);
    writeFile(game / "a.pak.indir", prefix);
    server.answers["a.pak"].stopAfter = 10;
    runPass();
    EXPECT_EQ(status.state.load(), Downloading);
    EXPECT_EQ(tree(), "a.pak\n");
    EXPECT_TRUE(readFile(game / "a.pak") == old);
}

// ---- mirrors ----

// Several addresses: the list from the first whose list passes every check, each file or
// range from the mirror that delivered last, else from the others; the pass fails only when
// every mirror failed a file, with the first mirror's message.
TEST_F(PassTest, MirrorsStandInForOneAnother) {
    const std::string old = patternBytes(1 << 20, 5), fresh = withRegions(old, 2, 2000);
    const SiteFiles files = {{"a.pak", fresh}, {"b.bin", "bbb"}};
    MemoryServer first(status, "http://bir.test/"), second(status, "http://iki.test/oyun/");
    MirrorSet mirrors;
    mirrors.servers = {&first, &second};
    struct Case {
        const char* name;
        std::function<void()> misbehave;
        UpdateState result;
        std::string message;
        bool patched; // a.pak built from ranges, not fetched whole
    };
    auto everyFile = [&](int status) {
        for (auto& [path, answer] : first.answers)
            if (path != kFileListName) answer.status = status;
    };
    const Case cases[] = {
        {"first refuses connections",
         [&] {
             everyFile(0);
             first.answers[kFileListName].status = 0;
         },
         UpToDate, "", true},
        {"first answers 500 for every file", [&] { everyFile(500); }, UpToDate, "", true},
        {"first's list is damaged", [&] { first.answers[kFileListName].body = "bozuk"; }, UpToDate, "", true},
        {"first's ranges carry wrong bytes", [&] { first.answers["a.pak"].wrongRangeBytes = true; }, UpToDate,
         "", true},
        {"a file missing on both",
         [&] {
             first.answers.erase("b.bin");
             second.answers.erase("b.bin");
         },
         Failed, "İndirme başarısız: b.bin (sunucu 404 dondu)", true},
        {"no list anywhere",
         [&] {
             first.answers[kFileListName].status = 503;
             second.answers[kFileListName].status = 0;
         },
         Failed, "Güncelleme sunucusuna ulaşılamadı (sunucu 503 dondu)", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        emptyGameFolder();
        writeFile(game / "a.pak", old);
        first.publish(files, "3", 1);
        second.publish(files, "3", 1);
        first.requests.clear();
        second.requests.clear();
        c.misbehave();
        status.stopRequested = false;
        runUpdatePass(status, mirrors, "http://bir.test  http://iki.test/oyun", "MorlakenLauncher");
        EXPECT_EQ(status.state.load(), c.result);
        EXPECT_EQ(c.result == Failed ? errorText() : "", c.message);
        std::vector<int64_t> fetches = first.fetchesOf("a.pak"), more = second.fetchesOf("a.pak");
        fetches.insert(fetches.end(), more.begin(), more.end());
        EXPECT_EQ(std::count(fetches.begin(), fetches.end(), -1), 0) << "fetched whole";
        EXPECT_EQ(!fetches.empty(), c.patched);
        if (c.result == UpToDate) {
            EXPECT_TRUE(folderMatches(game.path(), files));
            EXPECT_FALSE(second.fetchesOf("b.bin").empty());
        }
    }
}

} // namespace
} // namespace updatetest
