// signed_list_test.cpp - signed file lists: what morlaken-publish signs, unsigned readers
// read as before; with the studio's key in varsayilan.ini, the launcher's pass (and
// morlaken-sync in that folder) uses no list that is unsigned, altered, signed by another
// key, replayed from an older signing or signed in the wrong place; the record of what was
// accepted fails closed.
#include "net/http.h"
#include "platform/platform.h"
#include "support/child_process.h"
#include "support/site.h"
#include "support/temp_folder.h"
#include "support/test_server.h"
#include "update/download.h"
#include "update/filelist.h"
#include "update/pass.h"
#include "update/signature.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

using namespace testsupport;

namespace {

const SiteFiles kFiles = {{"oyun.bin", patternBytes(3000, 1)}, {"veri/a.png", patternBytes(500, 2)}};

struct KeyPair {
    ListPublicKey pub{};
    ListSecretKey secret{};
    std::string hex() const { return hexOf(pub.data(), pub.size()); }
};
KeyPair newKeys() {
    KeyPair k;
    newListKeyPair(k.pub, k.secret);
    return k;
}

// The list of kFiles with a sequence line, signed by `key`.
std::string signedList(const KeyPair& key, uint64_t sequence) {
    std::string text =
        siteList(kFiles, "2.0") + std::string(kSequenceLinePrefix) + std::to_string(sequence) + "\n";
    return text + signatureLine(text, key.secret);
}

class SignedList : public ::testing::Test {
  protected:
    void SetUp() override {
        httpGlobalInit();
        previousFolder = platform::fullPath(".");
        ASSERT_TRUE(platform::setWorkingFolder(game.path()));
        publishSite(site.path(), kFiles, "2.0");
        server.serveFolder(site.path());
    }
    void TearDown() override {
        server.stop();
        stopUpdate(status);
        platform::setWorkingFolder(previousFolder);
    }
    void serveList(const std::string& text) { writeFile(site / kFileListName, text); }
    UpdateState runPass() {
        startUpdate(status, server.baseUrl(), "MorlakenLauncher");
        status.worker.join();
        return status.state.load();
    }
    std::string errorText() {
        std::string text;
        copyUpdateError(status, text);
        return text;
    }
    // The game folder's files but the update lock, which the first pass creates.
    std::string gameTree() {
        std::string tree = listTree(game.path());
        const std::string lock = std::string(platform::kFolderLockFile) + "\n";
        if (const size_t at = tree.find(lock); at != std::string::npos) tree.erase(at, lock.size());
        return tree;
    }
    // A pass that must refuse the list of `key` numbered `sequence` and leave the folder.
    void expectRefused(const KeyPair& key, uint64_t sequence, const std::string& why,
                       const std::string& message = kListUnverified) {
        serveList(signedList(key, sequence));
        const std::string before = gameTree();
        EXPECT_EQ(runPass(), UpdateState::Failed) << why;
        EXPECT_EQ(errorText(), message) << why;
        EXPECT_EQ(gameTree(), before) << why;
    }
    UpdateStatus status;
    TempFolder game, site;
    TestServer server;
    std::string previousFolder;
};

TEST_F(SignedList, UnsignedReadersSeeTheSameEntriesAndVersion) {
    // A launcher without a key installs from a signed list as from any other.
    serveList(signedList(newKeys(), 7));
    EXPECT_EQ(runPass(), UpdateState::UpToDate);
    EXPECT_TRUE(folderMatches(game.path(), kFiles));
    std::string version;
    copyServerVersion(status, version);
    EXPECT_EQ(version, "2.0");
}

TEST_F(SignedList, WithAKeyOnlyAGenuineCurrentListIsUsed) {
    const KeyPair key = newKeys(), other = newKeys();
    writeFile(game / "varsayilan.ini", std::string(kListKeyName) + "=" + key.hex() + "\r\n");
    const std::string good = signedList(key, 50);
    const std::string signedPart = good.substr(0, good.rfind("# imza"));
    const std::string signatureOnly = good.substr(good.rfind("# imza"));

    struct Case {
        const char* why;
        std::string list;
    };
    std::vector<Case> cases = {
        {"unsigned", siteList(kFiles, "2.0")},
        {"signed by another key", signedList(other, 50)},
        {"signature line not last", signedPart + signatureOnly + "# sonra\n"},
        {"no sequence line",
         [&] {
             std::string t = siteList(kFiles, "2.0");
             return t + signatureLine(t, key.secret);
         }()},
    };
    for (size_t at = 0; at < good.size(); at += 7) { // one byte changed, anywhere
        std::string changed = good;
        changed[at] = static_cast<char>(changed[at] ^ 0x01);
        cases.push_back({"byte changed", changed});
    }
    // Nothing installed yet: every refusal must leave the folder as it is.
    for (const Case& c : cases) {
        const std::string before = gameTree();
        serveList(c.list);
        const int requests = server.totalRequests();
        EXPECT_EQ(runPass(), UpdateState::Failed) << c.why;
        EXPECT_EQ(errorText(), kListUnverified) << c.why;
        EXPECT_EQ(server.totalRequests(), requests + 1) << c.why;
        EXPECT_EQ(gameTree(), before) << c.why;
    }

    serveList(good);
    ASSERT_EQ(runPass(), UpdateState::UpToDate);
    EXPECT_TRUE(folderMatches(game.path(), kFiles));
    std::string version;
    copyServerVersion(status, version);
    EXPECT_EQ(version, "2.0");
    EXPECT_EQ(readFile(game / kSequenceFile), key.hex() + " 50\n");

    // The same signing again is fine; an older one (a replay) is not.
    EXPECT_EQ(runPass(), UpdateState::UpToDate);
    serveList(signedList(key, 49));
    const int requests = server.totalRequests();
    EXPECT_EQ(runPass(), UpdateState::Failed);
    EXPECT_EQ(errorText(), kListUnverified);
    EXPECT_EQ(server.totalRequests(), requests + 1);
}

// The record is only ever replaced whole, so one that is there but does not read is
// damage: it refuses every list. A deleted one leaves the floor shipped with the package.
TEST_F(SignedList, TheReplayGuardFailsClosed) {
    const KeyPair key = newKeys();
    writeFile(game / "varsayilan.ini",
              std::string(kListKeyName) + "=" + key.hex() + "\n" + kListFloorName + "=40\n");
    writeFile(game / "launcher.ini", std::string(kListFloorName) + "=0\n"); // not the player's to lower
    const std::string record = game / kSequenceFile;
    expectRefused(key, 39, "no record yet: below the shipped floor");
    serveList(signedList(key, 40));
    ASSERT_EQ(runPass(), UpdateState::UpToDate);
    serveList(signedList(key, 50));
    ASSERT_EQ(runPass(), UpdateState::UpToDate);
    const std::string good = readFile(record);
    ASSERT_EQ(good, key.hex() + " 50\n");

    const std::pair<const char*, std::string> damaged[] = {
        {"a junk byte in the key", "g" + good.substr(1)},
        {"a junk byte in the number", good.substr(0, good.size() - 2) + "-\n"},
        {"a junk byte after it", good + "x"},
        {"a CR before the LF", good.substr(0, good.size() - 1) + "\r\n"},
        {"cut short", good.substr(0, good.size() - 1)},
        {"empty", ""},
    };
    for (const auto& [why, text] : damaged) {
        writeFile(record, text);
        expectRefused(key, 50, why); // even the list it accepted last
    }
    ASSERT_TRUE(platform::deleteFile(record));
    ASSERT_TRUE(platform::createFolders(record));
    expectRefused(key, 50, "a folder in its place");
    ASSERT_TRUE(platform::removeEmptyFolder(record));

    expectRefused(key, 39, "deleted: below the floor again");
    serveList(signedList(key, 40));
    EXPECT_EQ(runPass(), UpdateState::UpToDate);
    EXPECT_EQ(readFile(record), key.hex() + " 40\n");
    writeFile(game / "varsayilan.ini",
              std::string(kListKeyName) + "=" + key.hex() + "\n" + kListFloorName + "=4o\n");
    expectRefused(key, 50, "a malformed floor trusts nothing");
}

TEST_F(SignedList, ARecordThatCannotBeRaisedEndsThePassBeforeInstalling) {
    const KeyPair key = newKeys();
    writeFile(game / "varsayilan.ini", std::string(kListKeyName) + "=" + key.hex() + "\n");
    serveList(signedList(key, 50));
    ASSERT_EQ(runPass(), UpdateState::UpToDate);
    ASSERT_TRUE(platform::deleteFile(game / "oyun.bin"));
    // An immutable record can be read but not replaced, even by root.
    const std::string quoted = "'" + (game / kSequenceFile) + "'";
    if (std::system(("chattr +i " + quoted + " 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "chattr +i needs root and a file system that supports it";
    expectRefused(key, 51, "the record cannot be raised", kErrTempFile + std::string(kSequenceFile));
    EXPECT_EQ(std::system(("chattr -i " + quoted).c_str()), 0);
    EXPECT_FALSE(fileExists(game / "oyun.bin"));
    EXPECT_EQ(readFile(game / kSequenceFile), key.hex() + " 50\n");
}

TEST_F(SignedList, AKeyInThePlayersOwnFileIsIgnored) {
    const KeyPair key = newKeys();
    writeFile(game / "launcher.ini", std::string(kListKeyName) + "=" + key.hex() + "\r\n");
    serveList(siteList(kFiles, "2.0")); // unsigned: accepted, the player's file sets no key
    EXPECT_EQ(runPass(), UpdateState::UpToDate);
    writeFile(game / "varsayilan.ini", std::string(kListKeyName) + "=nothex\r\n");
    EXPECT_EQ(runPass(), UpdateState::Failed) << "a malformed shipped key trusts nothing";
    EXPECT_EQ(errorText(), kListUnverified);
}

// The real tools: a key pair from morlaken-publish, a signed publication, and morlaken-sync
// run in a folder that ships the printed key.
TEST_F(SignedList, PublishSignsWhatSyncVerifies) {
    TempFolder keys;
    const std::string secretFile = keys / "studio.key";
    ProgramRun made = runCaptured(builtProgram("morlaken-publish"), {"--new-key", secretFile});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    struct stat st {};
    ASSERT_EQ(::stat(secretFile.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    std::string out = made.out;
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    const std::string publicHex = out.substr(out.rfind('\n') + 1);
    ListPublicKey parsed;
    ASSERT_TRUE(parseListPublicKey(publicHex, parsed)) << made.out;
    EXPECT_NE(runCaptured(builtProgram("morlaken-publish"), {"--new-key", secretFile}).exitCode, 0)
        << "an existing key is never overwritten";

    ProgramRun first = runCaptured(builtProgram("morlaken-publish"), {site.path(), "--sign", secretFile});
    ASSERT_EQ(first.exitCode, 0) << first.err;
    SignedListParts firstParts, secondParts;
    ASSERT_TRUE(splitSignedList(readFile(site / kFileListName), firstParts));
    ASSERT_EQ(runCaptured(builtProgram("morlaken-publish"), {site.path(), "--sign", secretFile}).exitCode, 0);
    ASSERT_TRUE(splitSignedList(readFile(site / kFileListName), secondParts));
    EXPECT_GT(secondParts.sequence, firstParts.sequence);

    TempFolder player;
    writeFile(player / "varsayilan.ini", std::string(kListKeyName) + "=" + publicHex + "\n");
    ProgramRun synced = runSync(player.path(), server.baseUrl());
    EXPECT_EQ(synced.exitCode, 0) << synced.err;
    EXPECT_TRUE(folderMatches(player.path(), kFiles));

    writeFile(site / kFileListName, siteList(kFiles, "2.0")); // unsigned now
    writeFile(player / "oyun.bin", "eskimis");
    ProgramRun refused = runSync(player.path(), server.baseUrl());
    EXPECT_NE(refused.exitCode, 0);
    EXPECT_NE(refused.err.find(kListUnverified), std::string::npos) << refused.err;
    EXPECT_EQ(readFile(player / "oyun.bin"), "eskimis");
}

} // namespace
