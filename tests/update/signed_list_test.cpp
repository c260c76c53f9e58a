// signed_list_test.cpp - with the studio's key in varsayilan.ini, a pass uses no list that
// is unsigned, altered, signed by another key, replayed from an older signing or signed in
// the wrong place, and the record of what was accepted fails closed; without a key a
// signed list reads like any other. (morlaken-publish's signing: tests/tools/publish_test.cpp.)
#include "memory_server.h"

#include "platform/text.h"
#include "update/signature.h"

#include <cstdlib>

namespace updatetest {
namespace {

const SiteFiles kFiles = {{"oyun.bin", patternBytes(3000, 1)}, {"veri/a.png", patternBytes(500, 2)}};

struct KeyPair {
    ListPublicKey pub{};
    ListSecretKey secret{};
    KeyPair() { newListKeyPair(pub, secret); }
    std::string hex() const { return platform::toHex(pub.data(), pub.size()); }
};

// The list of kFiles with a sequence line, signed by `key`.
std::string signedList(const KeyPair& key, uint64_t sequence) {
    const std::string text =
        siteList(kFiles, "2.0") + std::string(kSequenceLinePrefix) + std::to_string(sequence) + "\n";
    return text + signatureLine(text, key.secret);
}

class SignedList : public PassTest {
  protected:
    void SetUp() override {
        PassTest::SetUp();
        server.publish(kFiles, "2.0");
    }
    // Ships `key` (and `floor`) in the defaults file of the package.
    void ship(const std::string& key, const std::string& floor = "") {
        writeFile(game / "varsayilan.ini", std::string(kListKeyName) + "=" + key + "\r\n" +
                                               (floor.empty() ? "" : kListFloorName + ("=" + floor + "\n")));
    }
    // A pass that must refuse `list` after fetching it, and leave the folder as it was.
    void expectRefused(const std::string& list, const std::string& why,
                       const std::string& message = kListUnverified) {
        server.answers[kFileListName] = {list};
        const std::string before = tree();
        EXPECT_EQ(runPass(), Failed) << why;
        EXPECT_EQ(errorText(), message) << why;
        EXPECT_EQ(server.requests.size(), 1u) << why;
        EXPECT_EQ(tree(), before) << why;
    }
    UpdateState passWith(const std::string& list) {
        server.answers[kFileListName] = {list};
        return runPass();
    }
};

TEST_F(SignedList, WithoutAKeyASignedListReadsLikeAnyOther) {
    EXPECT_EQ(passWith(signedList(KeyPair(), 7)), UpToDate);
    EXPECT_TRUE(folderMatches(game.path(), kFiles));
    std::string version;
    copyServerVersion(status, version);
    EXPECT_EQ(version, "2.0");
    // A key in the player's own file is no key: it could switch the check off or swap it.
    writeFile(game / "launcher.ini", std::string(kListKeyName) + "=" + KeyPair().hex() + "\r\n");
    EXPECT_EQ(passWith(siteList(kFiles, "2.0")), UpToDate);
}

TEST_F(SignedList, WithAKeyOnlyAGenuineCurrentListIsUsed) {
    const KeyPair key, other;
    ship(key.hex());
    const std::string good = signedList(key, 50), unsigned_ = siteList(kFiles, "2.0");
    const size_t signature = good.rfind("# imza");
    expectRefused(unsigned_, "unsigned");
    expectRefused(signedList(other, 50), "signed by another key");
    expectRefused(good + "# sonra\n", "signature line not last");
    expectRefused(unsigned_ + signatureLine(unsigned_, key.secret), "no sequence line");
    for (size_t at = 0; at < good.size(); at += 7) { // one byte changed, anywhere
        std::string changed = good;
        changed[at] = static_cast<char>(changed[at] ^ 0x01);
        expectRefused(changed,
                      "byte " + std::to_string(at) + (at < signature ? " of the list" : " of the signature"));
    }

    ASSERT_EQ(passWith(signedList(key, 0)), UpToDate) << "no floor shipped: any sequence will do";
    ASSERT_EQ(passWith(good), UpToDate);
    EXPECT_TRUE(folderMatches(game.path(), kFiles));
    EXPECT_EQ(readFile(game / kSequenceFile), key.hex() + " 50\n");
    EXPECT_EQ(passWith(good), UpToDate); // the same signing again is fine...
    expectRefused(signedList(key, 49), "an older one is a replay");
    ship("nothex");
    expectRefused(good, "a malformed shipped key trusts nothing");
}

// The record is only ever replaced whole, so one that is there but does not read is
// damage: it refuses every list. A deleted one leaves the floor shipped with the package.
TEST_F(SignedList, TheReplayGuardFailsClosed) {
    const KeyPair key;
    ship(key.hex(), "40");
    writeFile(game / "launcher.ini", std::string(kListFloorName) + "=0\n"); // not the player's to lower
    const std::string record = game / kSequenceFile;
    expectRefused(signedList(key, 39), "no record yet: below the shipped floor");
    ASSERT_EQ(passWith(signedList(key, 40)), UpToDate);
    ASSERT_EQ(passWith(signedList(key, 50)), UpToDate);
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
        expectRefused(signedList(key, 50), why); // even the list it accepted last
    }
    fs::remove(record);
    fs::create_directory(record);
    expectRefused(signedList(key, 50), "a folder in its place");
    fs::remove(record);
    expectRefused(signedList(key, 39), "deleted: below the floor again");
    EXPECT_EQ(passWith(signedList(key, 40)), UpToDate);
    EXPECT_EQ(readFile(record), key.hex() + " 40\n");
    ship(key.hex(), "4o");
    expectRefused(signedList(key, 50), "a malformed floor trusts nothing");
}

TEST_F(SignedList, ARecordThatCannotBeRaisedEndsThePassBeforeInstalling) {
    const KeyPair key;
    ship(key.hex());
    ASSERT_EQ(passWith(signedList(key, 50)), UpToDate);
    fs::remove(game / "oyun.bin");
    // An immutable record can be read but not replaced, even by root.
    const std::string quoted = "'" + (game / kSequenceFile) + "'";
    if (std::system(("chattr +i " + quoted + " 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "chattr +i needs root and a file system that supports it";
    expectRefused(signedList(key, 51), "the record cannot be raised",
                  kErrTempFile + std::string(kSequenceFile));
    EXPECT_EQ(std::system(("chattr -i " + quoted).c_str()), 0);
    EXPECT_EQ(readFile(game / kSequenceFile), key.hex() + " 50\n");
}

// Mirrors are not trusted: each one's list is checked on its own, and a list refused on one
// mirror (unsigned, another key's, replayed) lets the next one's signed list through.
TEST_F(SignedList, EachMirrorsListIsCheckedOnItsOwn) {
    const KeyPair key;
    ship(key.hex());
    ASSERT_EQ(passWith(signedList(key, 20)), UpToDate);
    MemoryServer other(status, "http://yansi.test/");
    MirrorSet mirrors;
    mirrors.servers = {&server, &other};
    for (const std::string& refused :
         {siteList(kFiles, "2.0"), signedList(KeyPair(), 30), signedList(key, 19)}) {
        emptyGameFolder();
        ship(key.hex());
        writeFile(game / kSequenceFile, key.hex() + " 20\n");
        server.answers[kFileListName] = {refused};
        other.publish(kFiles, "2.0");
        other.answers[kFileListName] = {signedList(key, 21)};
        runUpdatePass(status, mirrors, kBase + " http://yansi.test", "MorlakenLauncher");
        EXPECT_EQ(status.state.load(), UpToDate) << errorText();
        EXPECT_TRUE(folderMatches(game.path(), kFiles));
        EXPECT_EQ(readFile(game / kSequenceFile), key.hex() + " 21\n");
        other.answers[kFileListName] = {refused};
        runUpdatePass(status, mirrors, kBase + " http://yansi.test", "MorlakenLauncher");
        EXPECT_EQ(status.state.load(), Failed);
        EXPECT_EQ(errorText(), kListUnverified); // none passes: the first mirror's message
    }
}

} // namespace
} // namespace updatetest
