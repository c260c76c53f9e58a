// on_disk_test.cpp - what a pass does with what it finds on disk: an interrupted download
// continued only when it is safely ours, the permission bits of installed files, planted
// links that cannot redirect a write, and what killed runs left behind.
#include "memory_server.h"

#include <sys/stat.h>
#include <unistd.h>

namespace updatetest {
namespace {

// ---- continuing a download ----

TEST_F(PassTest, AnInterruptedDownloadIsContinuedOnlyWhenItIsSafelyOurs) {
    constexpr size_t kSize = 3 << 20, kCut = (1 << 20) + 5 * 65536 + 1; // hashed back on a thread of its own
    const std::string first = patternBytes(kSize, 11), changed = patternBytes(kSize + 1000, 12);
    const std::string partial = "oyun.bin.indir", planted = outside / "kurban.bin";
    enum class Before { Partial, Whole, Longer, Link, HardLink, OtherUser };
    struct Case {
        const char* name;
        Before before;
        Answer answer;
        std::vector<int64_t> fetches; // from where oyun.bin was asked for (-1: whole)
    };
    const Case cases[] = {
        {"continued", Before::Partial, {first}, {kCut}},
        {"range ignored", Before::Partial, {first, 200, kNever, kNever, true}, {kCut, -1}},
        {"file changed meanwhile", Before::Partial, {changed}, {kCut, -1}},
        {"as long as listed", Before::Whole, {first}, {-1}},
        {"longer than listed", Before::Longer, {first}, {-1}},
        {"a link", Before::Link, {first}, {-1}},
        {"a second name of a file elsewhere", Before::HardLink, {first}, {-1}},
        {"another user's file", Before::OtherUser, {first}, {-1}}, // who could change it meanwhile
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        emptyGameFolder();
        writeFile(planted, first.substr(0, kCut));
        if (c.before == Before::Partial) writeFile(game / partial, first.substr(0, kCut));
        if (c.before == Before::Whole) writeFile(game / partial, patternBytes(kSize, 7));
        if (c.before == Before::Longer) writeFile(game / partial, first + "fazla");
        if (c.before == Before::Link) fs::create_symlink(planted, game / partial);
        if (c.before == Before::HardLink) fs::create_hard_link(planted, game / partial);
        if (c.before == Before::OtherUser) {
            if (!permissionBitsIgnored()) continue; // only root gives a file away
            writeFile(game / partial, first.substr(0, kCut));
            ASSERT_EQ(::chown((game / partial).c_str(), 65534, 65534), 0);
        }
        server.publish({{"oyun.bin", c.answer.body}});
        server.answers["oyun.bin"] = c.answer;
        ASSERT_EQ(runPass(), UpToDate) << errorText();
        EXPECT_EQ(readFile(game / "oyun.bin"), c.answer.body);
        EXPECT_EQ(tree(), "guncelleme.cache\noyun.bin\n");
        EXPECT_EQ(server.fetchesOf("oyun.bin"), c.fetches);
        EXPECT_EQ(status.bytesDone.load(), static_cast<int64_t>(c.answer.body.size())); // never twice
        EXPECT_EQ(readFile(planted), first.substr(0, kCut));
    }
}

// ---- permission bits ----

TEST_F(PassTest, ProgramsStayRunnableAndDataNeverBecomesExecutable) {
    const std::string elf = std::string("\x7f") + "ELF\x02\x01\x01";
    const struct {
        const char* path;
        std::string content;
        int oldMode; // -1: a new file
        unsigned want022, want027;
    } cases[] = {
        {"oyun/morlaken-oyun", elf + "rest of a program", -1, 0755, 0750},
        {"baslat.sh", "#!/bin/sh\necho ok\n", -1, 0755, 0750},
        {"veri/harita.dat", "plain data", -1, 0644, 0640},
        {"veri/bos.dat", "", -1, 0644, 0640},
        {"veri/yarim.bin", elf.substr(0, 3), -1, 0644, 0640},         // three bytes of the header are not one
        {"veri/diyez.txt", "# a comment, no #!", -1, 0644, 0640},     // '#' alone is no script
        {"veri/sonra.txt", "x#!/bin/sh", -1, 0644, 0640},             // only the first bytes count
        {"calistir.sh", "echo the name says script", -1, 0644, 0640}, // the name decides nothing
        {"ozel/oyun.bin", elf + "new program", 0750, 0750, 0750},
        {"ozel/notlar.txt", "new notes", 0750, 0750, 0750}, // replaced: old bits stay
        {"ozel/gizli", elf + "private program", 0600, 0600, 0600},
        {"ozel/acik.txt", "was runnable data", 0755, 0755, 0755},
    };
    for (const mode_t mask : {022, 027}) {
        SCOPED_TRACE(mask);
        emptyGameFolder();
        SiteFiles files;
        for (const auto& c : cases) {
            files[c.path] = c.content;
            if (c.oldMode < 0) continue;
            writeFile(game / c.path, "old content " + std::string(c.path));
            fs::permissions(game / c.path, static_cast<fs::perms>(c.oldMode));
        }
        server.publish(files);
        const mode_t previous = ::umask(mask);
        EXPECT_EQ(runPass(), UpToDate) << errorText();
        ::umask(previous);
        EXPECT_TRUE(folderMatches(game.path(), files));
        for (const auto& c : cases)
            EXPECT_EQ(fs::status(game / c.path).permissions() & fs::perms::mask,
                      static_cast<fs::perms>(mask == 022 ? c.want022 : c.want027))
                << c.path;
    }
}

// ---- planted links and leftovers ----

TEST_F(PassTest, PlantedLinksCannotRedirectWritesAndLeftoversAreRemoved) {
    const SiteFiles files = {{"oyun.bin", patternBytes(70000, 1)},
                             {"veri/harita.dat", patternBytes(3000, 2)},
                             {"ses/tema.ogg", patternBytes(5000, 3)},
                             {"kitap.indir", "a listed file that merely ends like a download"}};
    server.publish(files);
    writeFile(outside / "kurban.txt", "must stay");
    writeFile(outside / "ses/kalan.indir", "not ours: behind the player's folder link");
    fs::create_directory_symlink(outside / "ses", game / "ses"); // the player's own link
    fs::create_symlink(outside / "kurban.txt", game / "oyun.bin.indir");
    fs::create_directories(game / "veri");
    fs::create_symlink(outside / "kurban.txt", game / "veri/harita.dat.indir");
    fs::create_symlink(outside / "yok.txt", game / "kitap.indir.indir"); // dangling
    // Left behind by killed runs: downloads of files no longer listed, interrupted saves
    // of a process that is gone; kept: one of a process that still runs (pid 1), and one
    // of a file that is not the launcher's.
    for (const char* name :
         {"eski.pak.indir", "veri/eski/resim.png.indir", "guncelleme.cache.yaz-2147483000-4",
          "launcher.ini.yaz-2147483000-0", "guncelleme.sira.yaz-2147483000-1", "launcher.ini.yaz-1-0",
          "oyun.cfg.yaz-2147483000-2"})
        writeFile(game / name, "left behind");

    ASSERT_EQ(runPass(), UpToDate) << errorText();
    EXPECT_TRUE(folderMatches(game.path(), files));
    EXPECT_EQ(readFile(outside / "kurban.txt"), "must stay");
    EXPECT_FALSE(fs::exists(outside / "yok.txt"));
    EXPECT_EQ(readFile(outside / "ses/tema.ogg"), files.at("ses/tema.ogg")); // through the link
    EXPECT_EQ(readFile(outside / "ses/kalan.indir"), "not ours: behind the player's folder link");
    EXPECT_EQ(tree(), "guncelleme.cache\nkitap.indir\nlauncher.ini.yaz-1-0\noyun.bin\noyun.cfg.yaz-"
                      "2147483000-2\nses\nveri/eski/\nveri/harita.dat\n");
}

} // namespace
} // namespace updatetest
