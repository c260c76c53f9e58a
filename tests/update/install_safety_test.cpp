// install_safety_test.cpp - what an update pass leaves on disk besides the content: the
// permission bits of installed files, writes that a planted link cannot redirect, and
// the clean-up of what killed runs left behind. Runs the real pass (morlaken-sync) under
// a chosen umask.
#include "support/child_process.h"
#include "support/site.h"
#include "support/temp_folder.h"
#include "support/test_server.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

constexpr const char* kElf = "\x7f"
                             "ELF\x02\x01\x01";

class InstallSafety : public ::testing::Test {
  protected:
    void SetUp() override { server.serveFolder(site.path()); }

    // One pass of morlaken-sync under `umask`.
    ProgramRun syncWithUmask(const std::string& umask) {
        return runCaptured("/bin/sh", {"-c", "umask " + umask + " && exec \"$0\" \"$@\"",
                                       builtProgram("morlaken-sync"), game.path(), server.baseUrl()});
    }
    fs::perms modeOf(const std::string& path) const {
        return fs::status(game / path).permissions() & fs::perms::mask;
    }

    TempFolder game, site, outside;
    TestServer server;
};

// ---- permission bits ----

TEST_F(InstallSafety, ProgramsStayRunnableAndDataNeverBecomesExecutable) {
    const auto p = [](unsigned bits) { return static_cast<fs::perms>(bits); };
    struct Case {
        const char* path;
        std::string content;
        int oldMode; // -1: a new file
        unsigned want022, want027;
    };
    const Case cases[] = {
        {"oyun/morlaken-oyun", std::string(kElf) + "rest of a program", -1, 0755, 0750},
        {"baslat.sh", "#!/bin/sh\necho ok\n", -1, 0755, 0750},
        {"veri/harita.dat", "plain data", -1, 0644, 0640},
        {"veri/bos.dat", "", -1, 0644, 0640},
        {"veri/yarim.bin",
         "\x7f"
         "EL",
         -1, 0644, 0640},                                             // three bytes of the header are not one
        {"veri/diyez.txt", "# a comment, no #!", -1, 0644, 0640},     // '#' alone is no script
        {"veri/sonra.txt", "x#!/bin/sh", -1, 0644, 0640},             // only the first bytes count
        {"calistir.sh", "echo the name says script", -1, 0644, 0640}, // the name decides nothing
        {"ozel/oyun.bin", std::string(kElf) + "new program", 0750, 0750, 0750},
        {"ozel/notlar.txt", "new notes", 0750, 0750, 0750}, // replaced: old bits stay
        {"ozel/gizli", std::string(kElf) + "private program", 0600, 0600, 0600},
        {"ozel/acik.txt", "was runnable data", 0755, 0755, 0755},
    };
    for (const char* umask : {"022", "027"}) {
        SCOPED_TRACE(std::string("umask ") + umask);
        fs::remove_all(game.path());
        fs::create_directories(game.path());
        SiteFiles files;
        for (const Case& c : cases) {
            files[c.path] = c.content;
            if (c.oldMode >= 0) {
                writeFile(game / c.path, "old content " + std::string(c.path));
                fs::permissions(game / c.path, p(static_cast<unsigned>(c.oldMode)));
            }
        }
        publishSite(site.path(), files);
        ProgramRun run = syncWithUmask(umask);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_TRUE(folderMatches(game.path(), files));
        for (const Case& c : cases)
            EXPECT_EQ(modeOf(c.path), p(std::string(umask) == "022" ? c.want022 : c.want027)) << c.path;
    }
}

// ---- planted links and leftovers ----

TEST_F(InstallSafety, PlantedLinksCannotRedirectWritesAndLeftoversAreRemoved) {
    const SiteFiles files = {{"oyun.bin", patternBytes(70000, 1)},
                             {"veri/harita.dat", patternBytes(3000, 2)},
                             {"ses/tema.ogg", patternBytes(5000, 3)},
                             {"kitap.indir", "a listed file that merely ends like a download"}};
    publishSite(site.path(), files);
    writeFile(outside / "kurban.txt", "must stay");
    writeFile(outside / "ses/kalan.indir", "not ours: behind the player's folder link");
    fs::create_directory_symlink(outside / "ses", game / "ses"); // the player's own link
    fs::create_symlink(outside / "kurban.txt", game / "oyun.bin.indir");
    fs::create_directories(game / "veri");
    fs::create_symlink(outside / "kurban.txt", game / "veri/harita.dat.indir");
    fs::create_symlink(outside / "yok.txt", game / "kitap.indir.indir"); // dangling
    // Left behind by killed runs: downloads of files no longer listed, interrupted saves
    // of a process that is gone, and one of a process that still runs (pid 1).
    writeFile(game / "eski.pak.indir", "stale");
    writeFile(game / "veri/eski/resim.png.indir", "stale");
    writeFile(game / "guncelleme.cache.yaz-2147483000-4", "half a cache");
    writeFile(game / "launcher.ini.yaz-2147483000-0", "half the settings");
    writeFile(game / "launcher.ini.yaz-1-0", "a live process's save");

    ProgramRun run = syncWithUmask("022");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(folderMatches(game.path(), files));
    EXPECT_EQ(readFile(outside / "kurban.txt"), "must stay");
    EXPECT_FALSE(fs::exists(outside / "yok.txt"));
    EXPECT_EQ(readFile(outside / "ses/tema.ogg"), files.at("ses/tema.ogg")); // through the link
    EXPECT_TRUE(fs::is_symlink(game / "ses"));
    EXPECT_EQ(readFile(outside / "ses/kalan.indir"), "not ours: behind the player's folder link");
    // (listTree does not enter the folder link "ses".)
    EXPECT_EQ(
        listTree(game.path()),
        "guncelleme.cache\nguncelleme.kilit\nkitap.indir\nlauncher.ini.yaz-1-0\noyun.bin\nveri/harita.dat\n");
}

} // namespace
