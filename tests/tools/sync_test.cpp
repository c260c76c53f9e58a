// sync_test.cpp - morlaken-sync as a studio runs it, the launcher's pass end to end over
// real HTTP: exit codes, messages, signals, a SIGKILL in the middle of a large download and
// the next run continuing it, and a list signed by morlaken-publish.
#include "support/child_process.h"
#include "support/site.h"
#include "support/temp_folder.h"
#include "support/test_server.h"
#include "update/chunks.h"
#include "update/signature.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

class SyncTest : public ::testing::Test {
  protected:
    void SetUp() override { server.serveFolder(site.path()); }

    // Runs morlaken-sync on `game` to its end; stderr lands in outError.
    int sync(std::string& outStdout, std::string& outError) {
        ProgramRun run = runSync(game.path(), server.baseUrl());
        outStdout = run.out;
        outError = run.err;
        return run.exitCode;
    }

    TempFolder game, site;
    TestServer server;
};

// ---- exit codes and messages ----

TEST_F(SyncTest, UpToDateFailedAndLauncherReplacedHaveTheirExitCodes) {
    SiteFiles files = {{"oyun.bin", patternBytes(250000, 1)}, {"veri/ağaç 1.png", "png"}};
    publishSite(site.path(), files);
    writeFile(game / "MorlakenLauncher.eski", "set aside by the last update");
    std::string out, err;
    EXPECT_EQ(sync(out, err), 0) << err;
    EXPECT_TRUE(folderMatches(game.path(), files));
    EXPECT_FALSE(fileExists(game / "MorlakenLauncher.eski"));
    EXPECT_NE(out.find("2 dosya indirildi"), std::string::npos) << out;
    EXPECT_EQ(sync(out, err), 0);
    EXPECT_NE(out.find("0 dosya indirildi"), std::string::npos) << out;

    files["MorlakenLauncher"] = "new launcher";
    publishSite(site.path(), files);
    EXPECT_EQ(sync(out, err), 3) << err;
    EXPECT_EQ(readFile(game / "MorlakenLauncher"), "new launcher");

    fs::remove(site / "dosyalar.txt");
    EXPECT_EQ(sync(out, err), 1);
    EXPECT_EQ(err, "Güncelleme sunucusuna ulaşılamadı (sunucu 404 dondu)\n");
}

TEST_F(SyncTest, BadArgumentsAreUsageErrors) {
    std::string out;
    EXPECT_EQ(runProgram(builtProgram("morlaken-sync"), {}, out), 2);
    EXPECT_EQ(runProgram(builtProgram("morlaken-sync"), {game.path()}, out), 2);
    writeFile(game / "dosya", "a file, not a folder");
    EXPECT_EQ(runProgram(builtProgram("morlaken-sync"), {game / "dosya", server.baseUrl()}, out), 2);
    EXPECT_EQ(runProgram(builtProgram("morlaken-sync"), {game / "dosya/alt", server.baseUrl()}, out), 2);
    EXPECT_EQ(runProgram(builtProgram("morlaken-sync"), {game.path(), ""}, out), 2);
    EXPECT_EQ(server.totalRequests(), 0);
}

// ---- signals ----

TEST_F(SyncTest, TermAndIntStopCleanlyWithoutPartialFiles) {
    for (int signalNumber : {kSigTerm, kSigInt}) {
        SCOPED_TRACE(signalNumber);
        SiteFiles files = {{"big.bin", patternBytes(2000000, 3)}};
        publishSite(site.path(), files);
        TestServer local;
        local.serveFolder(site.path());
        local.route("/big.bin", stall(files["big.bin"], 700000));
        Child child;
        ASSERT_TRUE(child.start(builtProgram("morlaken-sync"), {game.path(), local.baseUrl()}));
        ASSERT_TRUE(
            waitUntil([&] { return local.stalledNow() == 1 && fileExists(game / "big.bin.indir"); }, 20));
        child.signal(signalNumber);
        int code = -1;
        ASSERT_TRUE(child.wait(10, code));
        EXPECT_EQ(code, 128 + signalNumber);
        EXPECT_EQ(listTree(game.path()), "guncelleme.kilit\n"); // the lock; no target, .indir or cache
    }
}

// A target is always its old content or its new verified content, never partial: checked
// at the moment of a SIGKILL. The next run continues the cut-off download: only the rest of
// it crosses the wire.
TEST_F(SyncTest, AKilledRunLeavesNoPartialTargetAndTheNextOneContinues) {
    constexpr size_t kSent = 4500000;
    SiteFiles oldFiles = {{"a.bin", patternBytes(30000, 1)},
                          {"b/big.bin", patternBytes(6000000, 2)},
                          {"c.bin", patternBytes(40000, 3)}};
    SiteFiles newFiles = {{"a.bin", patternBytes(30000, 11)},
                          {"b/big.bin", patternBytes(9000000, 12)},
                          {"c.bin", patternBytes(40000, 13)}};
    for (const auto& [path, content] : oldFiles)
        writeFile(game / path, content);
    publishSite(site.path(), newFiles);
    server.route("/b/big.bin", stall(newFiles["b/big.bin"], kSent));

    Child child;
    ASSERT_TRUE(child.start(builtProgram("morlaken-sync"), {game.path(), server.baseUrl()}));
    // Killed while the big file downloads, once a.bin (installed by the installer thread
    // beside that download) is in place.
    ASSERT_TRUE(waitUntil(
        [&] {
            return fs::exists(game / "b/big.bin.indir") && fs::file_size(game / "b/big.bin.indir") == kSent &&
                   readFile(game / "a.bin") == newFiles["a.bin"];
        },
        20));
    child.kill();
    int code = 0;
    ASSERT_TRUE(child.wait(10, code));
    EXPECT_EQ(code, 128 + kSigKill);
    EXPECT_EQ(readFile(game / "a.bin"), newFiles["a.bin"]);         // installed before the kill
    EXPECT_EQ(readFile(game / "b/big.bin"), oldFiles["b/big.bin"]); // still the old file
    EXPECT_EQ(readFile(game / "c.bin"), oldFiles["c.bin"]);         // not reached

    TestServer next;
    next.serveFolder(site.path());
    EXPECT_EQ(runSync(game.path(), next.baseUrl()).exitCode, 0);
    EXPECT_TRUE(folderMatches(game.path(), newFiles));
    EXPECT_EQ(listTree(game.path()), "a.bin\nb/big.bin\nc.bin\nguncelleme.cache\nguncelleme.kilit\n");
    std::string ranges;
    for (const SeenRequest& r : next.requests())
        ranges += r.path + " " + r.range + "\n";
    EXPECT_EQ(ranges, "/dosyalar.txt \n/b/big.bin bytes=" + std::to_string(kSent) + "-\n/c.bin \n");
    const long long rest =
        9000000 - kSent + 40000 + static_cast<long long>(readFile(site / "dosyalar.txt").size());
    EXPECT_GE(next.bytesSent(), rest);
    EXPECT_LT(next.bytesSent(), rest + 2000); // and three heads
}

TEST_F(SyncTest, AMissingFolderIsCreatedAndFilled) {
    SiteFiles files = {{"a.bin", "abc"}};
    publishSite(site.path(), files);
    std::string out;
    EXPECT_EQ(runProgram(builtProgram("morlaken-sync"), {game / "yeni/oyun", server.baseUrl()}, out), 0);
    EXPECT_TRUE(folderMatches(game / "yeni/oyun", files));
}

// ---- signed lists ----

// The real tools together: a key pair from morlaken-publish (the secret readable by its
// owner only, never overwritten), a signed publication, and morlaken-sync in a folder that
// ships the printed key.
TEST_F(SyncTest, PublishSignsWhatSyncVerifies) {
    TempFolder keys;
    const std::string secretFile = keys / "studio.key";
    const std::string publish = builtProgram("morlaken-publish");
    ProgramRun made = runCaptured(publish, {"--new-key", secretFile});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    EXPECT_EQ(fs::status(secretFile).permissions() & fs::perms::mask,
              fs::perms::owner_read | fs::perms::owner_write);
    while (!made.out.empty() && made.out.back() == '\n')
        made.out.pop_back();
    const std::string publicHex = made.out.substr(made.out.rfind('\n') + 1);
    ListPublicKey parsed;
    ASSERT_TRUE(parseListPublicKey(publicHex, parsed)) << made.out;
    EXPECT_NE(runCaptured(publish, {"--new-key", secretFile}).exitCode, 0)
        << "an existing key was overwritten";

    const SiteFiles files = {{"oyun.bin", patternBytes(3000, 1)}};
    for (const auto& [path, content] : files)
        writeFile(site / path, content);
    ASSERT_EQ(runCaptured(publish, {site.path(), "--sign", secretFile}).exitCode, 0);
    writeFile(game / "varsayilan.ini", std::string(kListKeyName) + "=" + publicHex + "\n");
    std::string out, err;
    EXPECT_EQ(sync(out, err), 0) << err;
    EXPECT_TRUE(folderMatches(game.path(), files));

    ASSERT_EQ(runCaptured(publish, {site.path()}).exitCode, 0); // unsigned now
    writeFile(game / "oyun.bin", "eskimis");
    EXPECT_EQ(sync(out, err), 1);
    EXPECT_EQ(err, std::string(kListUnverified) + "\n");
    EXPECT_EQ(readFile(game / "oyun.bin"), "eskimis");
}

// ---- patches and mirrors ----

// End to end over HTTP with the real tools: a large file changed in a few places is patched
// with single ranges from the third of three mirrors (the first refuses connections, the
// second lists the update but answers 500 for every file), fetching a small part of it.
TEST_F(SyncTest, APatchFromTheMirrorThatAnswers) {
    std::string pak = patternBytes(8 << 20, 1);
    writeFile(site / "arsiv.pak", pak);
    writeFile(site / "k.txt", "k");
    const std::string publish = builtProgram("morlaken-publish");
    ASSERT_EQ(runCaptured(publish, {site.path()}).exitCode, 0);
    std::string out, err;
    ASSERT_EQ(sync(out, err), 0) << err;

    for (size_t at : {size_t(1) << 20, size_t(4) << 20, size_t(7) << 20})
        pak.replace(at, 3000, patternBytes(3000, uint32_t(at)));
    pak.insert(100000, "inserted near the start");
    writeFile(site / "arsiv.pak", pak);
    writeFile(site / "k.txt", "k2");
    ASSERT_EQ(runCaptured(publish, {site.path()}).exitCode, 0);
    TestServer failing;
    failing.route("/dosyalar.txt", answer(200, readFile(site / "dosyalar.txt")));
    for (const auto& [path, ref] : readChunkIndexLines(readFile(site / "dosyalar.txt")))
        failing.route("/" + std::string(kChunkIndexFolder) + "/" + ref.hash, answer(500, ""));
    for (const char* path : {"/arsiv.pak", "/k.txt"})
        failing.route(path, answer(500, ""));
    const long long before = server.bytesSent();
    const size_t seenBefore = server.requests().size();
    const std::string refused = "http://127.0.0.1:" + std::to_string(pickFreePort()) + "/";
    ProgramRun run = runCaptured(builtProgram("morlaken-sync"),
                                 {game.path(), refused, failing.baseUrl(), server.baseUrl()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(folderMatches(game.path(), {{"arsiv.pak", pak}, {"k.txt", "k2"}}));
    EXPECT_LT(server.bytesSent() - before, static_cast<long long>(pak.size() / 10));
    EXPECT_GT(failing.totalRequests(), 1) << "the list only"; // the index went there first
    const std::vector<SeenRequest> seen = server.requests();
    int ranges = 0;
    for (size_t i = seenBefore; i < seen.size(); ++i) {
        if (seen[i].path != "/arsiv.pak") continue;
        EXPECT_TRUE(seen[i].range.find('-') + 1 < seen[i].range.size())
            << "not one bounded range: " << seen[i].range;
        ++ranges;
    }
    EXPECT_GT(ranges, 0);
}

} // namespace
