// publish_test.cpp - morlaken-publish run as a program on folders made by the tests; its
// list is read back with the launcher's own parser and checked against sha256sum.
#include "platform/platform.h"
#include "support/child_process.h"
#include "support/temp_folder.h"
#include "update/chunks.h"
#include "update/filelist.h"
#include "update/sha256.h"
#include "update/signature.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>

namespace {

namespace fs = std::filesystem;
using testsupport::ProgramRun;
using testsupport::readFile;

class Publish : public ::testing::Test {
  protected:
    void SetUp() override { fs::create_directories(root); }
    void write(const std::string& relative, const std::string& data) {
        testsupport::writeFile(root / relative, data);
    }
    ProgramRun run(const std::vector<std::string>& args) {
        return testsupport::runCaptured(testsupport::builtProgram("morlaken-publish"), args);
    }
    // Parses the written list with the launcher's parser; fails the test when it is refused.
    FileList parsedList(std::string* outVersion = nullptr) {
        FileList list;
        std::string error;
        bool ok = parseFileList(readFile(root / kFileListName), list, error, [&](const std::string& v) {
            if (outVersion) *outVersion = v;
        });
        EXPECT_TRUE(ok) << error;
        return list;
    }
    std::vector<std::string> paths(const FileList& list) {
        std::vector<std::string> out;
        for (const FileEntry& e : list)
            out.push_back(e.path);
        return out;
    }

    testsupport::TempFolder base;
    const fs::path root = base / "oyun";
};

// ---- what is listed ----

TEST_F(Publish, NestedFolderInByteWiseOrder) {
    write("veri/ağaç 1.png", "resim");
    write("Şehir/İç içe/dosya ı.txt", "içerik\n");
    write("a b/c d.txt", "");
    write("MorlakenLauncher", testsupport::patternBytes(300000, 1));
    write("Zeta", "z");
    write("alt/launcher.ini", "only the top-level settings file is private");

    ProgramRun r = run({root.string(), "--version", "1.4 son"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("6 files"), std::string::npos) << r.out;

    std::string version;
    FileList list = parsedList(&version);
    EXPECT_EQ(version, "1.4 son");
    // Byte-wise order with '/' separators: upper-case before lower-case, UTF-8 last.
    EXPECT_EQ(paths(list),
              (std::vector<std::string>{"MorlakenLauncher", "Zeta", "a b/c d.txt", "alt/launcher.ini",
                                        "veri/ağaç 1.png", "Şehir/İç içe/dosya ı.txt"}));

    // Hashes against an independent one: the exact text below, and nginx_test's lists
    // compared whole with OpenSSL's.
    EXPECT_EQ(list[0].size, 300000);
}

TEST_F(Publish, ExactTextWithoutVersionAndOfAnEmptyTree) {
    write("b", "abc");
    write("a/x", "");
    ProgramRun r = run({root.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFile(root / kFileListName),
              "morlaken-liste 1\n"
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855 0 a/x\n"
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad 3 b\n");

    // Empty folders only: a header-only list.
    fs::remove_all(root);
    fs::create_directories(root / "bos" / "klasor");
    ASSERT_EQ(run({root.string() + "/"}).exitCode, 0);
    EXPECT_EQ(readFile(root / kFileListName), "morlaken-liste 1\n");
}

TEST_F(Publish, LeavesOutTheLaunchersOwnFiles) {
    write("dosyalar.txt", "morlaken-liste 1\nold\n");
    write("guncelleme.cache", "1 2 h p\n");
    write("launcher.ini", "kullanici=x\n");
    write("oyun.exe.indir", "half");
    write("MorlakenLauncher.eski", "old launcher");
    write("veri/resim.png.indir", "half");
    write("veri/resim.png.eski", "old");
    write("veri/resim.png", "new");
    write("oyun.exe", "game");
    write("dosyalar.txt.yaz-4242-0", "left by a crash");
    write("veri/resim.png.yaz-17-3", "left by a crash");
    write("notlar.yaz-1", "an ordinary name");
    write(platform::kFolderLockFile, "");
    write(std::string("veri/") + platform::kFolderLockFile, "only the top-level lock file is the launcher's");
    ProgramRun r = run({root.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<std::string> listed = {"notlar.yaz-1", "oyun.exe", "veri/guncelleme.kilit",
                                             "veri/resim.png"};
    EXPECT_EQ(paths(parsedList()), listed);
    EXPECT_NE(r.err.find("\"veri/resim.png.yaz-17-3\""), std::string::npos) << r.err;
    // Publishing again must not list the list it wrote the first time.
    ASSERT_EQ(run({root.string()}).exitCode, 0);
    EXPECT_EQ(paths(parsedList()), listed);
    // No temporary file is left beside the list.
    size_t topLevel = 0;
    for (const auto& e : fs::directory_iterator(root))
        topLevel += e.is_regular_file() ? 1 : 0;
    EXPECT_EQ(topLevel, 9u);
}

TEST_F(Publish, LinksToFilesAreFollowedOthersSkipped) {
    write("gercek.txt", "abc");
    write("klasor/ic.txt", "i");
    fs::create_symlink("gercek.txt", root / "bag.txt");
    fs::create_symlink("klasor", root / "klasor-bag");
    fs::create_symlink("yok", root / "kopuk");
    ProgramRun r = run({root.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    FileList list = parsedList();
    EXPECT_EQ(paths(list), (std::vector<std::string>{"bag.txt", "gercek.txt", "klasor/ic.txt"}));
    EXPECT_EQ(list[0].hash, list[1].hash);
    EXPECT_EQ(list[0].size, 3);
    EXPECT_NE(r.err.find("\"klasor-bag\""), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("\"kopuk\""), std::string::npos) << r.err;
}

TEST_F(Publish, ProgressLineOnlyOnATerminal) {
    write("a.bin", std::string(3 << 20, 'x'));
    write("b/c.bin", std::string(1 << 20, 'y'));
    ProgramRun quiet = run({root.string()});
    ASSERT_EQ(quiet.exitCode, 0) << quiet.err;
    EXPECT_EQ(quiet.err, "") << "no progress when standard error is not a terminal";

    // script(1) gives the program a pseudo-terminal; the output comes back through it.
    if (!fs::exists("/usr/bin/script")) GTEST_SKIP() << "script(1) is not installed";
    std::string command = "'" + testsupport::builtProgram("morlaken-publish") + "' '" + root.string() + "'";
    std::string out;
    ASSERT_EQ(testsupport::runProgram("/usr/bin/script", {"-qec", command, "/dev/null"}, out), 0) << out;
    EXPECT_NE(out.find("\r2/2 files, 4.0/4.0 MB, "), std::string::npos) << out;
    EXPECT_NE(out.find(" MB/s"), std::string::npos) << out;
    EXPECT_NE(out.find("2 files, 4194304 bytes listed"), std::string::npos) << out;
    EXPECT_EQ(paths(parsedList()), (std::vector<std::string>{"a.bin", "b/c.bin"}));
}

// ---- refusals ----

TEST_F(Publish, PathsTheLauncherRefusesStopTheRun) {
    for (const char* bad : {"a\\..\\b", "c:x", "alt/a\\.\\b", "satir\nsonu", "alt/sat\rir", "alt\\\\b"}) {
        fs::remove_all(root);
        write("iyi.txt", "ok");
        write(bad, "x");
        write("dosyalar.txt", "old list");
        ProgramRun r = run({root.string()});
        EXPECT_EQ(r.exitCode, 1) << bad;
        EXPECT_NE(r.err.find(bad), std::string::npos) << "the message names the file: " << r.err;
        EXPECT_EQ(readFile(root / kFileListName), "old list") << "nothing written for " << bad;
    }
    // A bad folder name is caught through the files inside it.
    fs::remove_all(root);
    write("a:b/dosya", "x");
    ProgramRun r = run({root.string()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("a:b/dosya"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(root / kFileListName));
}

TEST_F(Publish, BadArguments) {
    EXPECT_EQ(run({}).exitCode, 2);
    EXPECT_EQ(run({root.string(), "--version"}).exitCode, 2);
    EXPECT_EQ(run({root.string(), "--bilinmeyen"}).exitCode, 2);
    EXPECT_EQ(run({root.string(), root.string()}).exitCode, 2);
    EXPECT_EQ(run({root.string(), "--version", "iki\nsatir"}).exitCode, 2);
    EXPECT_FALSE(fs::exists(root / kFileListName));

    ProgramRun missing = run({base / "yok"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("not a folder"), std::string::npos) << missing.err;
    write("dosya", "x");
    EXPECT_EQ(run({(root / "dosya").string()}).exitCode, 1);
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
    auto indexFiles = [&] {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(indexes))
            names.insert(e.path().filename().string());
        return names;
    };
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
    EXPECT_EQ(paths(parsedList()), (std::vector<std::string>{"a.pak", "b/c.pak", "kucuk"}));
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
    EXPECT_EQ(indexFiles().size(), 3u); // the old c.pak index: the replaced list names it
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
    EXPECT_EQ(indexFiles(), (std::set<std::string>{refs.at("a.pak").hash, second.at("b/c.pak").hash}));
    ASSERT_EQ(run({root.string()}).exitCode, 0);
    EXPECT_EQ(indexFiles(), (std::set<std::string>{refs.at("a.pak").hash}));

    EXPECT_EQ(run({root.string(), "--previous", base / "yok.txt"}).exitCode, 1);
    EXPECT_EQ(run({root.string(), "--previous"}).exitCode, 2);
}

// ---- signing ----

// The secret key must never be listed (and so served): whatever name, link or path of the
// folder reaches it, the run stops before anything is written.
TEST_F(Publish, AKeyFileUnderTheFolderStopsTheRun) {
    write("oyun.bin", "game");
    const fs::path key = base / "liste.key";
    ASSERT_EQ(run({"--new-key", key.string()}).exitCode, 0);
    fs::create_directory_symlink(root, base / "bag");
    struct Case {
        const char* why;
        std::function<void()> plant; // puts the key (or a way to it) into the folder
        std::string folder, keyFile;
    };
    const Case cases[] = {
        {"in the folder", [&] { fs::copy_file(key, root / "liste.key"); }, root.string(),
         (root / "liste.key").string()},
        {"under an excluded name", [&] { fs::copy_file(key, root / "liste.key.eski"); }, root.string(),
         (root / "liste.key.eski").string()},
        {"by a path with ..", [&] { fs::copy_file(key, root / "veri/liste.key"); }, root.string(),
         (root / "veri/../veri/liste.key").string()},
        {"the folder through a link", [&] { fs::copy_file(key, root / "liste.key"); }, base / "bag",
         (root / "liste.key").string()},
        {"a link in the folder", [&] { fs::create_symlink(key, root / "veri/k"); }, root.string(),
         key.string()},
        {"a hard link in the folder", [&] { fs::create_hard_link(key, root / "k"); }, root.string(),
         key.string()},
    };
    for (const Case& c : cases) {
        fs::remove_all(root);
        write("oyun.bin", "game");
        write("veri/resim.png", "image");
        write("dosyalar.txt", "old list");
        c.plant();
        ProgramRun r = run({c.folder, "--sign", c.keyFile});
        EXPECT_EQ(r.exitCode, 1) << c.why << "\n" << r.err;
        EXPECT_NE(r.err.find("secret key"), std::string::npos) << c.why << "\n" << r.err;
        EXPECT_EQ(readFile(root / kFileListName), "old list") << c.why;
    }
    fs::remove_all(root);
    write("oyun.bin", "game");
    EXPECT_EQ(run({root.string(), "--sign", key.string()}).exitCode, 0) << "a key outside is fine";
}

// Numbers grow past the last one signed, whichever of the list and the signer's own record
// knows it, up to the launcher's limit; the clock counts only when neither exists.
TEST_F(Publish, SequencesGrowPastTheLastSignedUpToTheLaunchersLimit) {
    write("oyun.bin", "game");
    const std::string key = base / "liste.key";
    ASSERT_EQ(run({"--new-key", key}).exitCode, 0);
    auto signedSequence = [&](ProgramRun& outRun) {
        outRun = run({root.string(), "--sign", key});
        SignedListParts parts;
        EXPECT_TRUE(splitSignedList(readFile(root / kFileListName), parts)) << outRun.err;
        return parts.sequence;
    };
    ProgramRun r;
    write("dosyalar.txt", "morlaken-liste 1\n# sira 1000000000000000000\n"); // 19 digits
    EXPECT_EQ(signedSequence(r), 1000000000000000001u) << r.err;
    EXPECT_NE(r.out.find("sequence 1000000000000000001"), std::string::npos) << r.out;
    // The list gone (or a clock once set ahead and put right): the signer's record continues.
    fs::remove(root / kFileListName);
    EXPECT_EQ(signedSequence(r), 1000000000000000002u) << r.err;
    fs::remove(key + ".sira");
    EXPECT_EQ(signedSequence(r), 1000000000000000003u) << "the list alone continues";

    // The last number the launcher takes, then nothing more.
    write("dosyalar.txt", "morlaken-liste 1\n# sira 9223372036854775806\n");
    EXPECT_EQ(signedSequence(r), kMaxSequence) << r.err;
    const std::string last = readFile(root / kFileListName);
    EXPECT_EQ(run({root.string(), "--sign", key}).exitCode, 1);
    EXPECT_EQ(readFile(root / kFileListName), last);
    // A damaged record of the signer's stops the run too.
    fs::remove(root / kFileListName);
    testsupport::writeFile(key + ".sira", "12x\n");
    EXPECT_EQ(run({root.string(), "--sign", key}).exitCode, 1);
    EXPECT_FALSE(fs::exists(root / kFileListName));
}

TEST_F(Publish, UnreadableFolderIsAnError) {
    write("acik/a", "1");
    write("kapali/b", "2");
    if (testsupport::permissionBitsIgnored()) GTEST_SKIP() << "permission bits do not stop this user (root)";
    fs::permissions(root / "kapali", fs::perms::none);
    ProgramRun r = run({root.string()});
    fs::permissions(root / "kapali", fs::perms::owner_all);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(fs::exists(root / kFileListName));
}

} // namespace
