// publish_test.cpp - morlaken-publish run on folders made by the tests; its list is read back
// with the launcher's own parser.
#include "platform/platform.h"
#include "support/child_process.h"
#include "support/temp_folder.h"
#include "update/chunks.h"
#include "update/filelist.h"
#include "update/signature.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>

namespace {

namespace fs = std::filesystem;
using namespace testsupport;

class Publish : public ::testing::Test {
  protected:
    void SetUp() override { fs::create_directories(root); }
    void write(const std::string& relative, const std::string& data) { writeFile(root / relative, data); }
    ProgramRun run(const std::vector<std::string>& args) {
        return runCaptured(builtProgram("morlaken-publish"), args);
    }
    std::string list() { return readFile(root / kFileListName); }
    // The written list through the launcher's parser (fails the test when it is refused), and
    // its paths, one a line.
    FileList parsed(std::string* outPaths = nullptr, std::string* outVersion = nullptr) {
        FileList entries;
        std::string error;
        EXPECT_TRUE(parseFileList(list(), entries, error, [&](const std::string& v) {
            if (outVersion) *outVersion = v;
        })) << error;
        for (const FileEntry& e : entries)
            if (outPaths) *outPaths += e.path + "\n";
        return entries;
    }

    TempFolder base;
    const fs::path root = base / "oyun";
};

// One run over every kind of entry: names in byte-wise order, the launcher's own files and
// temporaries left out (top-level ones only), links to files followed, other links skipped.
TEST_F(Publish, ListsWhatTheLauncherKeepsInByteWiseOrder) {
    for (const char* own : {"dosyalar.txt", "guncelleme.cache", "launcher.ini", "oyun.exe.indir",
                            "MorlakenLauncher.eski", "veri/resim.png.indir", "veri/resim.png.eski",
                            "dosyalar.txt.yaz-4242-0", "veri/resim.png.yaz-17-3", platform::kFolderLockFile})
        write(own, "left out");
    for (const char* kept : {"veri/ağaç 1.png", "Şehir/İç içe/dosya ı.txt", "a b/c d.txt", "alt/launcher.ini",
                             "notlar.yaz-1", "veri/guncelleme.kilit"})
        write(kept, "listed");
    write("MorlakenLauncher", patternBytes(300000, 1));
    write("Zeta", "z");
    fs::create_symlink("Zeta", root / "bag");
    fs::create_symlink("alt", root / "klasor-bag");
    fs::create_symlink("yok", root / "kopuk");

    for (int pass = 0; pass < 2; ++pass) { // the second run must not list the first one's list
        ProgramRun r = run({root.string(), "--version", "1.4 son"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.out.find("9 files"), std::string::npos) << r.out;
        for (const char* skipped : {"\"veri/resim.png.yaz-17-3\"", "\"klasor-bag\"", "\"kopuk\""})
            EXPECT_NE(r.err.find(skipped), std::string::npos) << r.err;
        std::string paths, version;
        const FileList entries = parsed(&paths, &version);
        EXPECT_EQ(version, "1.4 son");
        ASSERT_EQ(paths, "MorlakenLauncher\nZeta\na b/c d.txt\nalt/launcher.ini\nbag\nnotlar.yaz-1\n"
                         "veri/ağaç 1.png\nveri/guncelleme.kilit\nŞehir/İç içe/dosya ı.txt\n");
        EXPECT_EQ(entries[0].size, 300000);
        EXPECT_TRUE(entries[4].hash == entries[1].hash && entries[4].size == entries[1].size)
            << "a link lists its target's content";
    }
    size_t topLevel = 0; // no temporary left beside the list
    for (const auto& e : fs::directory_iterator(root))
        topLevel += e.is_regular_file() ? 1 : 0;
    EXPECT_EQ(topLevel, 11u);
}

TEST_F(Publish, ExactTextWithoutVersionAndOfAnEmptyTree) {
    write("b", "abc");
    write("a/x", "");
    ASSERT_EQ(run({root.string()}).exitCode, 0);
    EXPECT_EQ(list(), "morlaken-liste 1\n"
                      "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855 0 a/x\n"
                      "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad 3 b\n");
    fs::remove_all(root);
    fs::create_directories(root / "bos" / "klasor");
    ASSERT_EQ(run({root.string() + "/"}).exitCode, 0);
    EXPECT_EQ(list(), "morlaken-liste 1\n");
}

TEST_F(Publish, ProgressLineOnlyOnATerminal) {
    write("a.bin", std::string(3 << 20, 'x'));
    write("b/c.bin", std::string(1 << 20, 'y'));
    ProgramRun quiet = run({root.string()});
    ASSERT_EQ(quiet.exitCode, 0);
    EXPECT_EQ(quiet.err, "") << "no progress when standard error is not a terminal";
    // script(1) gives the program a pseudo-terminal; the output comes back through it.
    if (!fs::exists("/usr/bin/script")) GTEST_SKIP() << "script(1) is not installed";
    std::string out;
    ASSERT_EQ(runProgram(
                  "/usr/bin/script",
                  {"-qec", "'" + builtProgram("morlaken-publish") + "' '" + root.string() + "'", "/dev/null"},
                  out),
              0);
    for (const char* part : {"\r2/2 files, 4.0/4.0 MB, ", " MB/s", "2 files, 4194304 bytes listed"})
        EXPECT_NE(out.find(part), std::string::npos) << out;
}

// ---- chunk indexes ----

// Files of 4 MiB or more get an index in dosyalar.parcalar/, named by its SHA-256 and in the
// list by a comment line; that folder is never listed. Republishing keeps each unchanged
// file's index byte for byte and removes those no list in use names; --previous prints what
// the patch costs a player of that version.
TEST_F(Publish, LargeFilesGetAnIndexTheListNames) {
    const int64_t large = kIndexedFileMinBytes;
    std::string pak = testsupport::patternBytes(size_t(6) << 20, 2);
    write("a.pak", testsupport::patternBytes(size_t(large), 1));
    write("b/c.pak", pak);
    write("kucuk", testsupport::patternBytes(size_t(large) - 1, 3));
    const fs::path indexes = root / kChunkIndexFolder, list = root / kFileListName;
    auto publishedRefs = [&] {
        const std::map<std::string, ChunkIndexRef> refs = readChunkIndexLines(readFile(list));
        for (const auto& [path, ref] : refs) {
            const std::string bytes = readFile(indexes / ref.hash);
            ChunkIndex index;
            EXPECT_TRUE(testsupport::referenceSha256(bytes) == ref.hash &&
                        int64_t(bytes.size()) == ref.size && parseChunkIndex(bytes, index) &&
                        index.fileSize == int64_t(fs::file_size(root / path)))
                << path;
        }
        return refs;
    };

    ASSERT_EQ(run({root.string()}).exitCode, 0);
    const std::string first = readFile(list);
    const auto refs = publishedRefs();
    EXPECT_EQ(refs.size(), 2u);
    EXPECT_EQ(refs.count("a.pak") + refs.count("b/c.pak"), 2u);
    std::string paths;
    parsed(&paths);
    EXPECT_EQ(paths, "a.pak\nb/c.pak\nkucuk\n");
    ASSERT_EQ(run({root.string()}).exitCode, 0);
    EXPECT_EQ(readFile(list), first);
    testsupport::writeFile(base / "eski.txt", first);

    pak[3 << 20] ^= 1;
    write("b/c.pak", pak);
    ProgramRun r = run({root.string(), "--previous", base / "eski.txt"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto second = publishedRefs();
    EXPECT_EQ(second.at("a.pak").hash, refs.at("a.pak").hash);
    EXPECT_NE(second.at("b/c.pak").hash, refs.at("b/c.pak").hash);
    const std::string kept = listTree(indexes.string()); // the old c.pak index: the replaced list names it
    EXPECT_EQ(std::count(kept.begin(), kept.end(), '\n'), 3);
    long long cost = 0, full = 0;
    const size_t line = r.out.find("  b/c.pak: ");
    ASSERT_NE(line, std::string::npos) << r.out;
    ASSERT_EQ(std::sscanf(r.out.c_str() + line, "  b/c.pak: %lld of %lld bytes", &cost, &full), 2) << r.out;
    EXPECT_EQ(full, 6 << 20);
    EXPECT_GE(cost, second.at("b/c.pak").size + kChunkMinBytes);
    EXPECT_LE(cost, second.at("b/c.pak").size + 2 * kChunkMaxBytes);
    EXPECT_EQ(r.out.find("a.pak:"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("total: 1 changed files"), std::string::npos) << r.out;

    write("b/c.pak", "small now");
    ASSERT_EQ(run({root.string()}).exitCode, 0);
    const auto [low, high] = std::minmax(refs.at("a.pak").hash, second.at("b/c.pak").hash);
    EXPECT_EQ(listTree(indexes.string()), low + "\n" + high + "\n");
    ASSERT_EQ(run({root.string()}).exitCode, 0);
    EXPECT_EQ(listTree(indexes.string()), refs.at("a.pak").hash + "\n");

    EXPECT_EQ(run({root.string(), "--previous", base / "yok.txt"}).exitCode, 1);
    EXPECT_EQ(run({root.string(), "--previous"}).exitCode, 2);
}

// Whatever stops a run leaves the old list as it was: bad arguments (2), names no list line can
// hold, paths the launcher refuses (its rule itself: tests/update/filelist_test.cpp),
// unreadable folders and a secret key reachable under the folder (1).
TEST_F(Publish, RefusalsWriteNothing) {
    const fs::path key = base / "liste.key";
    ASSERT_EQ(run({"--new-key", key.string()}).exitCode, 0);
    fs::create_directory_symlink(root, base / "bag");
    const std::string dir = root.string(), keyFile = key.string();
    auto copyKey = [&](const char* as) { return [&, as] { fs::copy_file(key, root / as); }; };
    auto plant = [&](const char* name) { return [this, name] { write(name, "x"); }; };
    const std::function<void()> nothing = [] {};
    const struct {
        std::function<void()> setUp;
        std::vector<std::string> args;
        int code;
        std::string message; // a part of standard error
    } cases[] = {
        {nothing, {}, 2, ""},
        {nothing, {dir, "--version"}, 2, ""},
        {nothing, {dir, "--bilinmeyen"}, 2, ""},
        {nothing, {dir, dir}, 2, ""},
        {nothing, {dir, "--version", "iki\nsatir"}, 2, ""},
        {nothing, {base / "yok"}, 1, "not a folder"},
        {nothing, {dir + "/iyi.txt"}, 1, ""},
        {plant("c:x"), {dir}, 1, "c:x"},
        {plant("satir\nsonu"), {dir}, 1, "satir\nsonu"},
        {plant("alt/sat\rir"), {dir}, 1, "alt/sat\rir"},
        {plant("a:b/dosya"), {dir}, 1, "a:b/dosya"},
        {copyKey("liste.key"), {dir, "--sign", dir + "/liste.key"}, 1, "secret key"},
        {copyKey("liste.key.eski"), {dir, "--sign", dir + "/liste.key.eski"}, 1, "secret key"},
        {copyKey("veri/liste.key"), {dir, "--sign", dir + "/veri/../veri/liste.key"}, 1, "secret key"},
        {copyKey("liste.key"), {base / "bag", "--sign", dir + "/liste.key"}, 1, "secret key"},
        {[&] { fs::create_symlink(key, root / "veri/k"); }, {dir, "--sign", keyFile}, 1, "secret key"},
        {[&] { fs::create_hard_link(key, root / "k"); }, {dir, "--sign", keyFile}, 1, "secret key"},
    };
    for (const auto& c : cases) {
        fs::remove_all(root);
        write("iyi.txt", "ok");
        write("veri/resim.png", "image");
        write(kFileListName, "old list");
        c.setUp();
        const std::string what = c.args.empty() ? "(none)" : c.args.back();
        ProgramRun r = run(c.args);
        EXPECT_EQ(r.exitCode, c.code) << what << "\n" << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << what << "\n" << r.err;
        EXPECT_EQ(list(), "old list") << what;
    }
    fs::remove(root / "k");
    if (!permissionBitsIgnored()) {
        fs::permissions(root / "veri", fs::perms::none);
        EXPECT_EQ(run({dir}).exitCode, 1) << "an unreadable folder";
        fs::permissions(root / "veri", fs::perms::owner_all);
        EXPECT_EQ(list(), "old list");
    }
    EXPECT_EQ(run({dir, "--sign", keyFile}).exitCode, 0) << "a key outside is fine";
}

// A key pair (the secret readable by its owner only, never overwritten) whose printed public key
// verifies the signed lists with the launcher's own check; their numbers grow past the last
// one signed, whichever of the list and the signer's own record knows it, up to the launcher's
// limit (the clock counts only when neither exists).
TEST_F(Publish, SignedListsVerifyAndTheirSequencesGrowUpToTheLaunchersLimit) {
    write("oyun.bin", "game");
    const std::string key = base / "liste.key";
    ProgramRun r = run({"--new-key", key});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(fs::status(key).permissions() & fs::perms::mask,
              fs::perms::owner_read | fs::perms::owner_write);
    r.out.erase(r.out.find_last_not_of('\n') + 1);
    ListPublicKey publicKey;
    ASSERT_TRUE(parseListPublicKey(r.out.substr(r.out.rfind('\n') + 1), publicKey)) << r.out;
    EXPECT_NE(run({"--new-key", key}).exitCode, 0) << "an existing key was overwritten";
    const std::string keyBefore = readFile(key);

    auto signedSequence = [&] {
        r = run({root.string(), "--sign", key});
        uint64_t sequence = 0;
        EXPECT_TRUE(verifySignedList(list(), publicKey, sequence)) << r.err;
        return sequence;
    };
    write(kFileListName, "morlaken-liste 1\n# sira 1000000000000000000\n"); // 19 digits
    EXPECT_EQ(signedSequence(), 1000000000000000001u) << r.err;
    EXPECT_NE(r.out.find("sequence 1000000000000000001"), std::string::npos) << r.out;
    EXPECT_EQ(readFile(key), keyBefore);
    fs::remove(root / kFileListName); // the list gone: the signer's record continues
    EXPECT_EQ(signedSequence(), 1000000000000000002u) << r.err;
    fs::remove(key + ".sira");
    EXPECT_EQ(signedSequence(), 1000000000000000003u) << "the list alone continues";

    write(kFileListName, "morlaken-liste 1\n# sira 9223372036854775806\n");
    EXPECT_EQ(signedSequence(), kMaxSequence) << r.err;
    const std::string last = list();
    EXPECT_EQ(run({root.string(), "--sign", key}).exitCode, 1);
    EXPECT_EQ(list(), last);
    fs::remove(root / kFileListName); // a damaged record of the signer's stops the run too
    writeFile(key + ".sira", "12x\n");
    EXPECT_EQ(run({root.string(), "--sign", key}).exitCode, 1);
    EXPECT_FALSE(fs::exists(root / kFileListName));
}

} // namespace
