// platform_test.cpp - the contract of platform/platform.h, one suite for the native build and
// the Windows one (under Wine). Paths hold non-ASCII letters throughout, so every case crosses
// the Windows build's conversion at the wide calls; what one system alone has is marked.
#include "platform/platform.h"
#include "support/scoped_env.h"
#include "support/stand_in_game.h"
#include "support/temp_folder.h"
#include "support/wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#ifdef _WIN32
#include <objbase.h>
#include <shlobj.h>
constexpr bool kWindows = true;
#else
#include "support/child_process.h"
#include "support/fake_program.h"
#include "support/process_probe.h"

constexpr bool kWindows = false;
#endif

namespace {

namespace fs = std::filesystem;
using namespace testsupport;

// A path as the standard library takes it (UTF-8 on every system).
fs::path native(const std::string& path) {
    return fs::path(std::u8string(path.begin(), path.end()));
}

// Files are written and read through the layer itself: the standard library takes a narrow
// path in the system's code page on Windows, not in UTF-8.
class Platform : public ::testing::Test {
  protected:
    TempFolder tmp;
    const std::string dir = platform::fullPath(tmp.path()); // absolute, '/' separated
    std::string path(const std::string& name) const { return dir + "/" + name; }
    void write(const std::string& name, const std::string& text) {
        ASSERT_TRUE(platform::createFolders(platform::fullPath(path(name) + "/..")));
        ASSERT_TRUE(platform::writeFileAtomically(path(name), text)) << name;
    }
    std::string read(const std::string& name) {
        std::string bytes;
        return platform::readWholeFile(path(name), bytes) ? bytes : "<unreadable>";
    }
    std::vector<std::string> list(const std::string& name = "") {
        std::vector<std::string> names;
        EXPECT_TRUE(platform::listFolder(name.empty() ? dir : path(name), names));
        std::sort(names.begin(), names.end());
        return names;
    }
};

// ---- program and folders ----

TEST(PlatformProgram, ExecutablePathLauncherNameAndAbsolutePaths) {
    const std::string exe = platform::executablePath();
    EXPECT_NE(exe.find(kWindows ? "test_win_platform.exe" : "/test_platform"), std::string::npos) << exe;
    EXPECT_EQ(exe.find('\\'), std::string::npos) << exe;
    EXPECT_GT(platform::fileSize(exe), 0);
    EXPECT_STREQ(platform::launcherFileName(), kWindows ? "MorlakenLauncher.exe" : "MorlakenLauncher");
    const struct {
        std::string path;
        bool posix, windows;
    } cases[] = {
        {exe, true, true},
        {"/oyun", true, true},
        {"oyun/oyun.exe", false, false},
        {"..\\build\\x.exe", false, false},
        {"", false, false},
        {"C:/Oyunlar/oyun.exe", false, true},
        {"c:\\oyun.exe", false, true},
        {"\\\\sunucu\\pay", false, true},
        {"C:oyun.exe", false, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::isAbsolutePath(c.path), kWindows ? c.windows : c.posix) << c.path;
}

TEST_F(Platform, FullPathFoldsLexicallyAndWorkingFolderAnchorsRelativePaths) {
    for (const auto& [in, out] : {std::pair{"/a/b/../c/./d//e/", "/a/c/d/e"},
                                  {"/a b/ç/", "/a b/ç"},
                                  {"/x/..", ""},
                                  {"/./Şölen", "/Şölen"}})
        EXPECT_EQ(platform::fullPath(dir + in), dir + out) << in;
#ifdef _WIN32 // Windows only: '\' is a separator too, and the answer has a drive
    EXPECT_EQ(platform::fullPath(dir + "\\x\\..\\y"), dir + "/y");
    EXPECT_EQ(dir.substr(1, 2), ":/");
#else // POSIX only: the root, and what stays at it
    for (const char* root : {"/", "/../..", "//"})
        EXPECT_EQ(platform::fullPath(root), "/") << root;
#endif

    const std::string before = platform::fullPath(".");
    EXPECT_FALSE(platform::setWorkingFolder(path("yok")));
    EXPECT_FALSE(platform::setWorkingFolder(""));
    EXPECT_EQ(platform::fullPath(""), before);
    ASSERT_TRUE(platform::setWorkingFolder(dir));
    EXPECT_EQ(platform::fullPath("a/../ğ"), dir + "/ğ");
    EXPECT_TRUE(platform::createFolders("r1/r2"));
    ASSERT_TRUE(platform::setWorkingFolder(before));
    EXPECT_EQ(platform::entryType(path("r1/r2")), platform::EntryType::Folder);
}

// ---- files ----

TEST_F(Platform, SizeTypeAndExistenceOfEveryKindOfEntry) {
    write("Şölen ğüçı.txt", "içerik");
    write("boş", "");
    ASSERT_TRUE(platform::createFolders(path("klasör")));
    using enum platform::EntryType;
    struct Case {
        std::string path;
        int64_t size;
        platform::EntryType type;
        bool exists;
    };
    std::vector<Case> cases = {{path("Şölen ğüçı.txt"), 7, File, true},
                               {path("boş"), 0, File, true},
                               {path("klasör"), -1, Folder, true},
                               {path("yok"), -1, Missing, false},
                               {"", -1, Missing, false}};
    if (!kWindows) { // POSIX only: links (type not followed; size and existence followed), devices
        fs::create_symlink(native(path("Şölen ğüçı.txt")), native(path("bağ")));
        fs::create_symlink(native(path("klasör")), native(path("klasör-bağı")));
        fs::create_symlink(native(path("yok")), native(path("kopuk")));
        cases.insert(cases.end(), {{path("bağ"), 7, Link, true},
                                   {path("klasör-bağı"), -1, Link, true},
                                   {path("kopuk"), -1, Link, false},
                                   {"/dev/null", -1, Other, true}});
    }
    for (const Case& c : cases) {
        EXPECT_EQ(platform::fileSize(c.path), c.size) << c.path;
        EXPECT_EQ(platform::entryType(c.path), c.type) << c.path;
        EXPECT_EQ(platform::pathExists(c.path), c.exists) << c.path;
        int64_t size = -7, time = -7; // one look gives both, for regular files only
        EXPECT_EQ(platform::regularFileFacts(c.path, size, time), c.size >= 0) << c.path;
        EXPECT_EQ(size, c.size >= 0 ? c.size : -7) << c.path;
        EXPECT_EQ(time, c.size >= 0 ? platform::fileWriteTime(c.path) : -7) << c.path;
    }
    // The listing's types are entryType's, for every kind of entry (a device among /dev's).
    for (const std::string& folder :
         kWindows ? std::vector<std::string>{dir} : std::vector<std::string>{dir, "/dev"}) {
        std::vector<platform::FolderEntry> entries;
        ASSERT_TRUE(platform::listFolderEntries(folder, entries)) << folder;
        EXPECT_GE(entries.size(), kWindows ? 3u : 6u) << folder;
        for (const platform::FolderEntry& e : entries)
            EXPECT_EQ(e.type, platform::entryType(folder + "/" + e.name)) << e.name;
    }
    std::vector<platform::FolderEntry> none;
    std::vector<std::string> noNames;
    EXPECT_FALSE(platform::listFolderEntries(path("yok"), none));
    EXPECT_FALSE(platform::listFolder(path("boş"), noNames)) << "a file is no folder";
    EXPECT_TRUE(none.empty() && noNames.empty());
}

TEST_F(Platform, WriteTimeOnTheWindowsScale) {
    write("f", "a");
    // 100 ns ticks since 1601: a file written now lies within a day of the clock.
    const auto sinceUnixEpoch = std::chrono::system_clock::now().time_since_epoch();
    const int64_t nowTicks =
        (std::chrono::duration_cast<std::chrono::seconds>(sinceUnixEpoch).count() + 11644473600LL) *
        10000000LL;
    EXPECT_NEAR(static_cast<double>(platform::fileWriteTime(path("f"))), static_cast<double>(nowTicks),
                864e9);
    EXPECT_GT(platform::fileWriteTime(dir), 0) << "folders have a time too";
    EXPECT_EQ(platform::fileWriteTime(path("yok")), 0);
#ifndef _WIN32 // POSIX only: the exact conversion of the nanosecond time stamp
    // 2001-09-09 01:46:40 UTC = 1e9 Unix seconds, plus 0.1234567 s.
    fs::last_write_time(path("f"), fs::file_time_type::clock::from_sys(std::chrono::system_clock::time_point(
                                       std::chrono::nanoseconds(1000000000123456789LL))));
    EXPECT_EQ(platform::fileWriteTime(path("f")), (1000000000LL + 11644473600LL) * 10000000LL + 1234567);
#endif
}

TEST_F(Platform, ReplaceDeleteAndRemoveEmptyFolders) {
    write("yeni", "yeni");
    write("eski ç", "eski içerik");
    ASSERT_TRUE(platform::replaceFile(path("yeni"), path("eski ç")));
    EXPECT_EQ(read("eski ç"), "yeni");
    EXPECT_FALSE(platform::pathExists(path("yeni")));
    EXPECT_FALSE(platform::replaceFile(path("yeni"), path("eski ç"))) << "a missing source";
    EXPECT_EQ(read("eski ç"), "yeni");
    // A file cannot replace a folder that holds something; the source stays where it was.
    ASSERT_TRUE(platform::createFolders(path("dolu/iç")));
    write("kaynak", "s");
    EXPECT_FALSE(platform::replaceFile(path("kaynak"), path("dolu")));
    EXPECT_EQ(read("kaynak"), "s");

    EXPECT_TRUE(platform::deleteFile(path("kaynak")));
    EXPECT_FALSE(platform::deleteFile(path("kaynak"))) << "a missing file counts as a failure";
    EXPECT_FALSE(platform::deleteFile(path("dolu")));
    EXPECT_FALSE(platform::removeEmptyFolder(path("dolu")));
    EXPECT_FALSE(platform::removeEmptyFolder(path("eski ç"))) << "a file is no folder";
    EXPECT_TRUE(platform::removeEmptyFolder(path("dolu/iç")));
    EXPECT_EQ(platform::entryType(path("dolu/iç")), platform::EntryType::Missing);
}

TEST_F(Platform, CreateAndListFolders) {
    EXPECT_TRUE(platform::createFolders(path("a/b c/ç/d")));
    EXPECT_TRUE(platform::createFolders(path("a/b c"))) << "an existing folder is success";
    EXPECT_TRUE(platform::createFolders(path("x/y/")));
    EXPECT_FALSE(platform::createFolders(""));
    write("dosya", "x");
    EXPECT_FALSE(platform::createFolders(path("dosya"))) << "a file in the way";
    EXPECT_FALSE(platform::createFolders(path("dosya/alt")));
    write("a/ağaç 1.png", "");
    EXPECT_EQ(list("a"), (std::vector<std::string>{"ağaç 1.png", "b c"})) << "names only, not descending";
    EXPECT_TRUE(list("a/b c/ç/d").empty());
}

// ---- atomic writes ----

TEST_F(Platform, WriteFileAtomicallyReplacesContentLeavesNoTemporaryAndReadsBackFromAnOffset) {
    const std::string big = patternBytes(3 * 1024 * 1024 + 17, 1);
    for (const std::string& content : {std::string("ilk"), big}) {
        ASSERT_TRUE(platform::writeFileAtomically(path("ayar ç.ini"), content));
        EXPECT_TRUE(read("ayar ç.ini") == content);
    }
    std::FILE* file = platform::openForReading(path("ayar ç.ini"), 3000000);
    ASSERT_NE(file, nullptr);
    std::string tail(200000, '\0');
    tail.resize(std::fread(tail.data(), 1, tail.size(), file));
    std::fclose(file);
    EXPECT_TRUE(tail == big.substr(3000000));
    ASSERT_TRUE(platform::writeFileAtomically(path("ayar ç.ini"), ""));
    EXPECT_EQ(read("ayar ç.ini"), "");
    std::string bytes;
    EXPECT_FALSE(platform::readWholeFile(path("yok"), bytes));
    EXPECT_EQ(platform::openForReading(path("yok")), nullptr);
    EXPECT_EQ(list(), std::vector<std::string>{"ayar ç.ini"});
    EXPECT_TRUE(platform::flushFileToDisk(path("ayar ç.ini")));
    EXPECT_FALSE(platform::flushFileToDisk(path("yok")));
    EXPECT_FALSE(platform::flushFileToDisk(""));

    // A folder that holds something where the file should go: the temporary is written, the
    // rename refused, and the temporary removed again.
    ASSERT_TRUE(platform::createFolders(path("hedef/iç")));
    EXPECT_FALSE(platform::writeFileAtomically(path("hedef"), "yeni"));
    EXPECT_EQ(list(), (std::vector<std::string>{"ayar ç.ini", "hedef"}));
    EXPECT_FALSE(platform::writeFileAtomically(path("yok/f"), "yeni"));
    EXPECT_FALSE(platform::writeFileAtomically("", "yeni"));
#ifndef _WIN32 // POSIX only: the old file's permission bits stay; a read-only folder refuses
    fs::permissions(path("ayar ç.ini"), fs::perms::owner_all);
    ASSERT_TRUE(platform::writeFileAtomically(path("ayar ç.ini"), "y"));
    EXPECT_EQ(fs::status(path("ayar ç.ini")).permissions() & fs::perms::all, fs::perms::owner_all);
    if (!permissionBitsIgnored()) {
        fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_FALSE(platform::writeFileAtomically(path("ayar ç.ini"), "z"));
        fs::permissions(dir, fs::perms::owner_all);
        EXPECT_EQ(read("ayar ç.ini"), "y");
    }
#endif
}

TEST_F(Platform, TemporaryNamesAreRecognisedAndOnlyADeadWritersAreAbandoned) {
    for (const char* yes : {"launcher.ini.yaz-123-0", "a/b.png.yaz-1-22", "x.yaz-0-0"})
        EXPECT_TRUE(platform::isAtomicWriteTemporary(yes)) << yes;
    for (const char* no : {"launcher.ini", ".yaz-1-2", "a.yaz-", "a.yaz-1", "a.yaz-1-", "a.yaz--1",
                           "a.yaz-1-2x", "a.yaz-x-1", "a.yaz-1-2.png", ""})
        EXPECT_FALSE(platform::isAtomicWriteTemporary(no)) << no;
    const std::string own = "launcher.ini.yaz-" + std::to_string(platform::processId()) + "-3";
    EXPECT_FALSE(platform::isAbandonedWriteTemporary(own)) << "a save of this process may be running";
    EXPECT_TRUE(platform::isAbandonedWriteTemporary("launcher.ini.yaz-4294967293-0")) << "no such process";
    EXPECT_TRUE(platform::isAbandonedWriteTemporary("launcher.ini.yaz-99999999999-0")) << "beyond any id";
    EXPECT_FALSE(platform::isAbandonedWriteTemporary("launcher.ini"));

    // Whatever name a temporary has while it exists, the check recognises it: seen by
    // watching the folder from a second thread while large writes run.
    std::atomic<bool> done{false};
    std::atomic<int> seen{0}, unrecognised{0};
    std::thread watcher([&] {
        while (!done.load()) {
            std::vector<std::string> names;
            platform::listFolder(dir, names);
            for (const std::string& name : names)
                if (name != "f" && ++seen) unrecognised += !platform::isAtomicWriteTemporary(name);
        }
    });
    const std::string big(8 * 1024 * 1024, 'x');
    for (int i = 0; i < 10 && seen.load() == 0; ++i)
        ASSERT_TRUE(platform::writeFileAtomically(path("f"), big));
    done = true;
    watcher.join();
    EXPECT_EQ(unrecognised.load(), 0);
}

// ---- files written piece by piece ----

TEST_F(Platform, FreshFilesReplaceWhatIsThereAndAppendsNeedTheOnlyName) {
    write("oyun.pak.indir", "eski kalıntı");
    platform::FileHandle file = platform::createFreshFile(path("oyun.pak.indir"));
    ASSERT_GE(file, 0);
    const std::string data = patternBytes(200000, 7);
    EXPECT_TRUE(platform::writeToFile(file, data.data(), data.size()));
    EXPECT_TRUE(platform::setInstalledFileMode(file, path("oyun.pak"), data.substr(0, 4)));
    platform::startWriteBack(file);
    EXPECT_TRUE(platform::closeFile(file, true));
    EXPECT_TRUE(read("oyun.pak.indir") == data);
    ASSERT_TRUE(platform::createFolders(path("klasör")));
    EXPECT_EQ(platform::createFreshFile(path("klasör")), -1) << "a folder of that name is never replaced";
    EXPECT_EQ(platform::createFreshFile(""), -1);

    // Another name for the same file (a hard link): seen through by fileIdentity, refused
    // for appending until it is the only name left.
    fs::create_hard_link(native(path("oyun.pak.indir")), native(path("kurban.bin")));
    platform::FileIdentity a, b, other;
    ASSERT_TRUE(platform::fileIdentity(path("oyun.pak.indir"), a));
    ASSERT_TRUE(platform::fileIdentity(path("kurban.bin"), b));
    ASSERT_TRUE(platform::fileIdentity(path("klasör"), other));
    EXPECT_TRUE(a == b);
    EXPECT_FALSE(a == other);
    EXPECT_FALSE(platform::fileIdentity(path("yok"), other));
    EXPECT_EQ(platform::openForAppend(path("oyun.pak.indir")), -1);
    ASSERT_TRUE(platform::deleteFile(path("kurban.bin")));
    file = platform::openForAppend(path("oyun.pak.indir"));
    ASSERT_GE(file, 0);
    EXPECT_TRUE(platform::writeToFile(file, "son", 3));
    EXPECT_TRUE(platform::closeFile(file, false));
    EXPECT_TRUE(read("oyun.pak.indir") == data + "son");
    EXPECT_EQ(platform::openForAppend(path("klasör")), -1);
    EXPECT_EQ(platform::openForAppend(path("yok")), -1);

    // A secret key's file: new only, never over something that is there.
    file = platform::createOwnerOnlyFile(path("anahtar"));
    ASSERT_GE(file, 0);
    EXPECT_TRUE(platform::closeFile(file, false));
    EXPECT_EQ(platform::createOwnerOnlyFile(path("anahtar")), -1);
#ifndef _WIN32 // POSIX only: the owner's bits alone, whatever the umask
    EXPECT_EQ(fs::status(path("anahtar")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
#endif
}

TEST_F(Platform, FolderLockWaitsUntilReleasedOrStopped) {
    std::atomic<bool> never{false}, stop{false};
    const platform::FolderLock first = platform::lockFolder(dir, never);
    ASSERT_GE(first, 0);
    // Another thread, through another spelling of the same folder, waits until it is stopped.
    platform::FolderLock second = 0;
    std::thread waiter([&] { second = platform::lockFolder(dir + "/./", stop); });
    stop = true;
    waiter.join();
    EXPECT_EQ(second, -1);
    platform::unlockFolder(first);
    std::thread after([&] { second = platform::lockFolder(dir, never); });
    after.join();
    ASSERT_GE(second, 0);
    platform::unlockFolder(second);
}

// ---- processes ----

TEST_F(Platform, StartedChildGetsItsArgumentsVariablesAndFolderAndTheLauncherKeepsNone) {
    ASSERT_TRUE(platform::createFolders(path("oyun klasörü")));
    platform::ProcessOptions options;
    options.extraEnvironment = {{"MORLAKEN_BILET", "bilet 123"}, {"MORLAKEN_SUNUCU", "127.0.0.1:27015"}};
    options.workingFolder = path("oyun klasörü");
    int error = -1;
    platform::ProcessId child = 0;
    {
        // Replaced, not doubled (a second entry that sorts first would win on Windows).
        ScopedEnv inherited("MORLAKEN_SUNUCU", "0 eski");
        // Quotes, a backslash before a quote and one at the end must survive the command line.
        child = platform::startProcess(standInGame(), {"tek argüman", "ç;$x \"tırnak\\\" \\", ""}, options,
                                       error);
    }
    ASSERT_GT(child, 0);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(std::getenv("MORLAKEN_BILET"), nullptr) << "the launcher's own environment stays clean";
    int code = -1;
    EXPECT_EQ(waitForExit(child, code), platform::ProcessPoll::Exited);
    EXPECT_EQ(code, kGameExitCode);
    EXPECT_EQ(read("oyun klasörü/bilet.txt"), "bilet 123|127.0.0.1:27015");
    EXPECT_EQ(read("oyun klasörü/argumanlar.txt"), "tek argüman\nç;$x \"tırnak\\\" \\\n\n");
    EXPECT_EQ(platform::pollProcess(child, code), platform::ProcessPoll::Failed) << "the id is spent";
    EXPECT_EQ(platform::terminateProcess(child, 1), -1) << "a collected child is not a child any more";
}

TEST_F(Platform, StartFailuresReportTheSystemError) {
    platform::ProcessOptions inMissingFolder;
    inMissingFolder.workingFolder = path("yok klasör");
    write("bozuk.exe", "bozuk program\n"); // neither a program nor (POSIX) executable
    const std::pair<std::string, platform::ProcessOptions> cases[] = {
        {path("yok.exe"), {}}, {"", {}}, {standInGame(), inMissingFolder}, {path("bozuk.exe"), {}}};
    for (const auto& [program, options] : cases) {
        int error = 0;
        EXPECT_EQ(platform::startProcess(program, {}, options, error), 0) << program << options.workingFolder;
        EXPECT_NE(error, 0) << program;
        EXPECT_TRUE(program != path("yok.exe") || error == 2) << "ENOENT and ERROR_FILE_NOT_FOUND are both 2";
    }
    int code = 0;
    EXPECT_EQ(platform::pollProcess(0, code), platform::ProcessPoll::Failed);
    EXPECT_EQ(platform::terminateProcess(0, 1), -1);
}

TEST_F(Platform, ProgramRunningByBaseNameIgnoringCaseUntilTerminated) {
    // A copy of this program under a name nobody else uses, asleep.
    const std::string name =
        "Morlaken_Server_Test_" + std::to_string(platform::processId()) + (kWindows ? ".exe" : "");
    fs::copy_file(native(standInGame()), native(path(name)));
    EXPECT_FALSE(platform::isProgramRunning(name));
    platform::ProcessOptions options;
    options.extraEnvironment = {{"MORLAKEN_TEST_SLEEP", "60"}};
    int error = 0;
    const platform::ProcessId child = platform::startProcess(path(name), {}, options, error);
    ASSERT_GT(child, 0) << error;
    std::string upper = name, stem = name.substr(0, name.size() - (kWindows ? 4 : 0));
    for (char& c : upper)
        c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    EXPECT_TRUE(waitUntil([&] { return platform::isProgramRunning(upper); }, 20));
    EXPECT_TRUE(platform::isProgramRunning(stem)) << "Windows also finds it without \".exe\"";
    EXPECT_FALSE(platform::isProgramRunning(name.substr(1)));
    EXPECT_FALSE(platform::isProgramRunning(stem + "x"));
    EXPECT_FALSE(platform::isProgramRunning(""));
    int code = 0;
    EXPECT_EQ(platform::pollProcess(child, code), platform::ProcessPoll::Running);
    // Asked to end (SIGTERM here; on Windows a close message, then ended with code 1 after
    // the grace time), then collected.
    EXPECT_EQ(platform::terminateProcess(child, kWindows ? 0.2 : 20), kWindows ? 1 : 128 + 15);
    EXPECT_FALSE(platform::isProgramRunning(name));
}

#ifndef _WIN32
// ---- processes: POSIX only ----

TEST_F(Platform, TerminateKillsAChildThatIgnoresTheRequest) {
    platform::ProcessOptions options;
    options.newSession = true;
    int error = 0;
    const platform::ProcessId stubborn = platform::startProcess(
        "/bin/sh", {"-c", "trap '' TERM; echo > \"$0\"; exec sleep 60", path("hazir")}, options, error);
    ASSERT_GT(stubborn, 0);
    ASSERT_TRUE(waitUntil([&] { return platform::pathExists(path("hazir")); }, 20));
    EXPECT_EQ(platform::terminateProcess(stubborn, 0.2), 128 + 9);
    int code = 0;
    EXPECT_EQ(platform::pollProcess(stubborn, code), platform::ProcessPoll::Failed) << "collected";
}

TEST_F(Platform, StartedProgramsGetOnlyTheStandardStreamsAndDetachedOnesASession) {
    // Libraries open their sockets without close-on-exec (ENet's game-server link), so a
    // descriptor that would survive exec must still stay out of every started program.
    write("acik", "x");
    std::FILE* inheritable = std::fopen(path("acik").c_str(), "r");
    std::FILE* own = platform::openForReading(path("acik"));
    ASSERT_TRUE(inheritable && own);
    const std::string flags = readFile("/proc/self/fdinfo/" + std::to_string(fileno(own)));
    EXPECT_TRUE(std::stoul(flags.substr(flags.find("flags:") + 6), nullptr, 8) & 02000000)
        << "the launcher's own files are close-on-exec: " << flags;
    // The shell lists its descriptors, and whether it leads a session of its own.
    const std::string script = "exec > \"$0.tmp\"; ls /proc/$$/fd; read -r _ _ _ _ _ sid _ < /proc/$$/stat; "
                               "[ \"$sid\" = \"$$\" ] && echo lider; mv \"$0.tmp\" \"$0\"";
    platform::ProcessOptions console;
    console.quiet = false;
    for (const platform::ProcessOptions& options : {platform::ProcessOptions{}, console}) {
        int error = 0, code = -1;
        const platform::ProcessId child =
            platform::startProcess("/bin/sh", {"-c", script, path("oyun")}, options, error);
        EXPECT_EQ(waitForExit(child, code), platform::ProcessPoll::Exited);
        EXPECT_EQ(read("oyun"), "0\n1\n2\n") << "quiet " << options.quiet;
    }
    ASSERT_TRUE(platform::startDetached("/bin/sh", {"-c", script, path("ayrik")}));
    ASSERT_TRUE(waitUntil([&] { return platform::pathExists(path("ayrik")); }, 20));
    EXPECT_EQ(read("ayrik"), "0\n1\n2\nlider\n") << "the self-restart: own session, nothing inherited";
    EXPECT_FALSE(platform::startDetached(path("yok"), {}));
    EXPECT_FALSE(platform::startDetached("", {}));
    std::fclose(own);
    std::fclose(inheritable);
}

TEST_F(Platform, AnotherUsersProgramIsNotRunningForUs) {
    // Whoever else runs a program of the local server's name must not decide for the player.
    if (!permissionBitsIgnored() || !fs::exists("/usr/bin/setpriv"))
        GTEST_SKIP() << "running a program as another user needs root and setpriv";
    const std::string name = "Morlaken_Server_Baska_" + std::to_string(platform::processId());
    fs::copy_file("/bin/sleep", path(name));
    fs::permissions(dir, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::permissions(path(name), fs::perms::owner_all | fs::perms::others_exec);
    Child other;
    ASSERT_TRUE(other.start("/usr/bin/setpriv",
                            {"--reuid=nobody", "--regid=nogroup", "--clear-groups", "--", path(name), "60"}));
    ASSERT_TRUE(waitUntil([&] { return processExecutable(other.pid()) == path(name); }, 20));
    EXPECT_FALSE(platform::isProgramRunning(name));
}

// ---- desktop: POSIX only ----

// Children of this process that have ended but were never collected.
int zombieChildren() {
    const std::string self = std::to_string(platform::processId());
    int count = 0;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string stat = readFile(entry.path() / "stat");
        const size_t close = stat.rfind(')');
        if (close != std::string::npos && stat.compare(close + 2, 2 + self.size(), "Z " + self) == 0 &&
            stat[close + 4 + self.size()] == ' ')
            ++count;
    }
    return count;
}

TEST_F(Platform, WebAddressesAndErrorBoxesGoToDesktopProgramsWithoutAShell) {
    {
        FakeProgram opener("xdg-open");
        const std::string address = "https://example.invalid/a b?x=1&y=$(echo no);z='q'";
        platform::openWebAddress(address);
        EXPECT_TRUE(waitUntil([&] { return opener.calls() == "argc=1\n<" + address + ">\n"; }, 20))
            << opener.calls();
        EXPECT_TRUE(waitUntil([] { return zombieChildren() == 0; }, 20)) << "the opener was never collected";
    }
    for (const char* display : {":99", static_cast<const char*>(nullptr)}) {
        FakeProgram zenity("zenity");
        ScopedEnv screen("DISPLAY", display), wayland("WAYLAND_DISPLAY", nullptr);
        ::testing::internal::CaptureStderr();
        platform::showErrorBox("Yazı tipi yüklenemedi:\nveri/font/x.ttf");
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Yazı tipi yüklenemedi:\nveri/font/x.ttf\n");
        // The call waits for the dialog, so its arguments are there when it returns.
        EXPECT_EQ(zenity.calls(), display ? "argc=4\n<--error>\n<--no-markup>\n<--title=Morlaken Launcher>\n"
                                            "<--text=Yazı tipi yüklenemedi:\nveri/font/x.ttf>\n"
                                          : "")
            << "no dialog without a display";
        EXPECT_EQ(zombieChildren(), 0);
    }
}

TEST_F(Platform, DesktopFolderSourcesAndExecutableEntries) {
    ASSERT_TRUE(platform::createFolders(path("ev/Masaüstü")) && platform::createFolders(path("ev/Desktop")) &&
                platform::createFolders(path("ayar")) && platform::createFolders(path("dogrudan")));
    ScopedEnv home("HOME", path("ev").c_str()), config("XDG_CONFIG_HOME", path("ayar").c_str());
    {
        ScopedEnv direct("XDG_DESKTOP_DIR", path("dogrudan").c_str());
        EXPECT_EQ(platform::desktopFolder(), path("dogrudan"));
    }
    ScopedEnv noDirect("XDG_DESKTOP_DIR", nullptr);
    EXPECT_EQ(platform::desktopFolder(), path("ev/Desktop")) << "no user-dirs.dirs: ~/Desktop";
    write("ayar/user-dirs.dirs",
          "# yorum\nXDG_DOWNLOAD_DIR=\"$HOME/İndirilenler\"\n  XDG_DESKTOP_DIR=\"$HOME/Masaüstü\"\n");
    EXPECT_EQ(platform::desktopFolder(), path("ev/Masaüstü"));
    write("ayar/user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/Yok\"\n");
    EXPECT_EQ(platform::desktopFolder(), "") << "a configured folder that does not exist: nothing";

    write("f", "");
    fs::permissions(path("f"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_TRUE(platform::makeExecutable(path("f")));
    EXPECT_EQ(fs::status(path("f")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::owner_exec | fs::perms::group_read |
                  fs::perms::group_exec);
    EXPECT_FALSE(platform::makeExecutable(path("yok")));
}
#else
// ---- desktop: Windows only ----

TEST_F(Platform, ShellLinkOnTheDesktopReplacesAnOldFileAndReadsBack) {
    const std::string desktop = platform::desktopFolder();
    ASSERT_NE(desktop, "");
    EXPECT_STREQ(platform::desktopShortcutExtension(), ".lnk");
    const std::string link = desktop + "/Morlaken Testi ğ.lnk";
    ASSERT_TRUE(platform::writeFileAtomically(link, "eski bir dosya"));
    const std::string target = path("oyun ç.exe");
    EXPECT_FALSE(platform::saveDesktopShortcut({"Morlaken Testi ğ", "", dir, "", ""})) << "no target";
    ASSERT_TRUE(platform::saveDesktopShortcut({"Morlaken Testi ğ", target, dir, "", "Morlaken Online"}));
    // Read back through the shell: target, folder, icon, tooltip.
    const auto wide = [](const std::string& p) { return native(p).make_preferred().wstring(); };
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IShellLinkW* shell = nullptr;
    IPersistFile* file = nullptr;
    ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                           reinterpret_cast<void**>(&shell))) &&
                SUCCEEDED(shell->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
                SUCCEEDED(file->Load(wide(link).c_str(), STGM_READ)));
    wchar_t linked[MAX_PATH] = {}, folder[MAX_PATH] = {}, icon[MAX_PATH] = {}, tooltip[MAX_PATH] = {};
    int iconIndex = -1;
    shell->GetPath(linked, MAX_PATH, nullptr, SLGP_RAWPATH);
    shell->GetWorkingDirectory(folder, MAX_PATH);
    shell->GetIconLocation(icon, MAX_PATH, &iconIndex);
    shell->GetDescription(tooltip, MAX_PATH);
    EXPECT_TRUE(linked == wide(target) && folder == wide(dir) && icon == wide(target) && iconIndex == 0 &&
                std::wstring(tooltip) == L"Morlaken Online");
    file->Release();
    shell->Release();
    CoUninitialize();
    EXPECT_TRUE(platform::deleteFile(link));
}
#endif

} // namespace
