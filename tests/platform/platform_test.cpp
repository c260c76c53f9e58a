// platform_test.cpp - the POSIX platform layer: file facts, renames, folders, atomic
// writes, paths and detached starts.
#include "platform/platform.h"
#include "support/child_process.h"
#include "support/fake_program.h"
#include "support/process_probe.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <cctype>
#include <cstdlib>

namespace {

namespace fs = std::filesystem;
using testsupport::listTree;
using testsupport::ScopedEnv;
using testsupport::waitUntil;

class PlatformFiles : public ::testing::Test {
  protected:
    std::string path(const std::string& name) const { return tmp / name; }
    void writeFile(const std::string& name, const std::string& text) {
        testsupport::writeFile(path(name), text);
    }
    std::string readFile(const std::string& name) { return testsupport::readFile(path(name)); }
    testsupport::TempFolder tmp;
    const fs::path folder{tmp.path()};
};

// ---- program and folders ----

TEST(Platform, FullPathNormalisesLexically) {
    EXPECT_EQ(platform::fullPath("/a/b/../c/./d//e/"), "/a/c/d/e");
    EXPECT_EQ(platform::fullPath("/../.."), "/");
    EXPECT_EQ(platform::fullPath("/"), "/");
    EXPECT_EQ(platform::fullPath("//x///y"), "/x/y");
    EXPECT_EQ(platform::fullPath("/a/b/.."), "/a");
    EXPECT_EQ(platform::fullPath("/a b/ç/"), "/a b/ç");
    std::string cwd = fs::current_path().string();
    EXPECT_EQ(platform::fullPath("x/../y"), cwd == "/" ? "/y" : cwd + "/y");
    EXPECT_EQ(platform::fullPath(""), cwd);
    EXPECT_EQ(platform::fullPath("."), cwd);
}

TEST_F(PlatformFiles, SetWorkingFolder) {
    fs::path previous = fs::current_path();
    EXPECT_FALSE(platform::setWorkingFolder(path("missing")));
    EXPECT_FALSE(platform::setWorkingFolder(""));
    EXPECT_EQ(fs::current_path(), previous);
    ASSERT_TRUE(platform::setWorkingFolder(folder.string()));
    EXPECT_TRUE(fs::equivalent(fs::current_path(), folder));
    EXPECT_EQ(platform::fullPath("a"), fs::current_path().string() + "/a");
    ASSERT_TRUE(platform::setWorkingFolder(previous.string()));
}

// ---- file facts ----

TEST_F(PlatformFiles, SizeTypeAndExistenceOfEveryKindOfEntry) {
    // Size: regular files only, links followed. Type: links not followed. Existence: links
    // followed, so a dangling link is nothing.
    writeFile("f", "hello");
    writeFile("empty", "");
    fs::create_directories(folder / "d");
    fs::create_symlink(path("f"), path("link"));
    fs::create_symlink(path("d"), path("folder-link"));
    fs::create_symlink(path("missing"), path("dangling"));
    using enum platform::EntryType;
    struct Case {
        std::string path;
        int64_t size;
        platform::EntryType type;
        bool exists;
    };
    for (const Case& c : {Case{path("f"), 5, File, true}, Case{path("empty"), 0, File, true},
                          Case{path("d"), -1, Folder, true}, Case{path("missing"), -1, Missing, false},
                          Case{"", -1, Missing, false}, Case{path("link"), 5, Link, true},
                          Case{path("folder-link"), -1, Link, true}, Case{path("dangling"), -1, Link, false},
                          Case{"/dev/null", -1, Other, true}}) {
        EXPECT_EQ(platform::fileSize(c.path), c.size) << c.path;
        EXPECT_EQ(platform::entryType(c.path), c.type) << c.path;
        EXPECT_EQ(platform::pathExists(c.path), c.exists) << c.path;
    }
}

TEST_F(PlatformFiles, WriteTimeOnTheWindowsScale) {
    writeFile("f", "a");
    const auto setTime = [&](std::chrono::system_clock::time_point t) {
        fs::last_write_time(path("f"), fs::file_time_type::clock::from_sys(t));
    };
    // 2001-09-09 01:46:40 UTC = 1e9 Unix seconds, plus 0.1234567 s.
    setTime(std::chrono::system_clock::time_point(std::chrono::nanoseconds(1000000000123456789LL)));
    EXPECT_EQ(platform::fileWriteTime(path("f")), (1000000000LL + 11644473600LL) * 10000000LL + 1234567);
    setTime(std::chrono::system_clock::time_point{});
    EXPECT_EQ(platform::fileWriteTime(path("f")), 11644473600LL * 10000000LL);

    EXPECT_EQ(platform::fileWriteTime(path("missing")), 0);
    EXPECT_GT(platform::fileWriteTime(folder.string()), 0) << "folders have a time too";
}

// ---- renames and deletes ----

TEST_F(PlatformFiles, ReplaceFileOverExisting) {
    writeFile("new", "yeni");
    writeFile("old", "eski icerik");
    ASSERT_TRUE(platform::replaceFile(path("new"), path("old")));
    EXPECT_EQ(readFile("old"), "yeni");
    EXPECT_FALSE(fs::exists(path("new")));

    // A missing source fails and leaves the target alone.
    EXPECT_FALSE(platform::replaceFile(path("new"), path("old")));
    EXPECT_EQ(readFile("old"), "yeni");

    // A file cannot replace a non-empty folder; the source stays where it was.
    fs::create_directories(folder / "dir" / "inner");
    writeFile("src", "s");
    EXPECT_FALSE(platform::replaceFile(path("src"), path("dir")));
    EXPECT_EQ(readFile("src"), "s");
}

TEST_F(PlatformFiles, DeleteFile) {
    writeFile("f", "x");
    EXPECT_TRUE(platform::deleteFile(path("f")));
    EXPECT_FALSE(fs::exists(path("f")));
    EXPECT_FALSE(platform::deleteFile(path("f"))) << "a missing file counts as a failure";
    fs::create_directories(folder / "d");
    EXPECT_FALSE(platform::deleteFile(path("d")));
    EXPECT_TRUE(fs::is_directory(folder / "d"));
}

// ---- folders ----

TEST_F(PlatformFiles, CreateFoldersNested) {
    EXPECT_TRUE(platform::createFolders(path("a/b c/ç/d")));
    EXPECT_TRUE(fs::is_directory(folder / "a" / "b c" / "ç" / "d"));
    EXPECT_TRUE(platform::createFolders(path("a/b c"))) << "an existing folder is success";
    EXPECT_TRUE(platform::createFolders(path("x/y/")));
    EXPECT_TRUE(fs::is_directory(folder / "x" / "y"));
    EXPECT_FALSE(platform::createFolders(""));

    writeFile("file", "x");
    EXPECT_FALSE(platform::createFolders(path("file"))) << "a file in the way";
    EXPECT_FALSE(platform::createFolders(path("file/sub")));

    // Relative paths are taken against the working folder.
    fs::path previous = fs::current_path();
    fs::current_path(folder);
    bool relative = platform::createFolders("r1/r2");
    fs::current_path(previous);
    EXPECT_TRUE(relative);
    EXPECT_TRUE(fs::is_directory(folder / "r1" / "r2"));
}

TEST_F(PlatformFiles, ListFolderNamesOnly) {
    writeFile("a.txt", "");
    writeFile("ağaç 1.png", "");
    fs::create_directories(folder / "sub" / "deeper");
    writeFile("sub/inside", "");
    std::vector<std::string> names;
    ASSERT_TRUE(platform::listFolder(folder.string(), names));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "ağaç 1.png", "sub"}));

    std::vector<std::string> none;
    EXPECT_FALSE(platform::listFolder(path("missing"), none));
    EXPECT_TRUE(none.empty());
    EXPECT_FALSE(platform::listFolder(path("a.txt"), none));

    std::vector<std::string> empty;
    ASSERT_TRUE(platform::listFolder(path("sub/deeper"), empty));
    EXPECT_TRUE(empty.empty());
}

// ---- atomic writes ----

TEST_F(PlatformFiles, WriteFileAtomicallyReplacesContent) {
    ASSERT_TRUE(platform::writeFileAtomically(path("f"), "first"));
    EXPECT_EQ(readFile("f"), "first");
    std::string big(3 * 1024 * 1024 + 17, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = char(i * 31 + 7);
    ASSERT_TRUE(platform::writeFileAtomically(path("f"), big));
    EXPECT_EQ(readFile("f"), big);
    ASSERT_TRUE(platform::writeFileAtomically(path("f"), ""));
    EXPECT_EQ(readFile("f"), "");
    EXPECT_EQ(listTree(folder), "f\n") << "no temporary file is left behind";
}

TEST_F(PlatformFiles, FlushFileToDiskNeedsAnExistingFile) {
    writeFile("f", "content");
    EXPECT_TRUE(platform::flushFileToDisk(path("f")));
    EXPECT_EQ(readFile("f"), "content") << "flushing leaves the content as it was";
    EXPECT_FALSE(platform::flushFileToDisk(path("missing")));
    EXPECT_FALSE(platform::flushFileToDisk(""));
}

TEST(Platform, AtomicWriteTemporaryNames) {
    for (const char* yes : {"launcher.ini.yaz-123-0", "a/b.png.yaz-1-22", "x.yaz-0-0"})
        EXPECT_TRUE(platform::isAtomicWriteTemporary(yes)) << yes;
    for (const char* no : {"launcher.ini", ".yaz-1-2", "a.yaz-", "a.yaz-1", "a.yaz-1-", "a.yaz--1",
                           "a.yaz-1-2x", "a.yaz-x-1", "a.yaz-1-2.png", ""})
        EXPECT_FALSE(platform::isAtomicWriteTemporary(no)) << no;
}

TEST_F(PlatformFiles, InterruptedWriteLeavesARecognisableName) {
    // Whatever name the temporary file has, it is one the check recognises: seen here by
    // watching the folder from a second thread while large writes run.
    std::atomic<bool> done{false};
    std::atomic<int> seen{0};
    std::atomic<int> unrecognised{0};
    std::thread watcher([&] {
        while (!done.load()) {
            std::vector<std::string> names;
            platform::listFolder(folder.string(), names);
            for (const std::string& n : names) {
                if (n == "f") continue;
                ++seen;
                if (!platform::isAtomicWriteTemporary(n)) ++unrecognised;
            }
        }
    });
    std::string big(8 * 1024 * 1024, 'x');
    for (int i = 0; i < 10 && seen.load() == 0; ++i)
        ASSERT_TRUE(platform::writeFileAtomically(path("f"), big));
    done = true;
    watcher.join();
    EXPECT_EQ(unrecognised.load(), 0);
    if (seen.load() == 0) GTEST_SKIP() << "the temporary file was never caught in the listing";
}

TEST_F(PlatformFiles, WriteFileAtomicallyKeepsPermissions) {
    writeFile("f", "x");
    fs::permissions(path("f"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::owner_exec);
    ASSERT_TRUE(platform::writeFileAtomically(path("f"), "y"));
    EXPECT_EQ(fs::status(path("f")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::owner_exec);
}

TEST_F(PlatformFiles, WriteFileAtomicallyLeavesOldContentWhenRenameFails) {
    // The target is a non-empty folder: the temporary file can be written but the
    // rename cannot happen.
    fs::create_directories(folder / "target" / "child");
    EXPECT_FALSE(platform::writeFileAtomically(path("target"), "new"));
    EXPECT_TRUE(fs::is_directory(folder / "target" / "child"));
    EXPECT_EQ(listTree(folder), "") << "the temporary file is removed again";

    EXPECT_FALSE(platform::writeFileAtomically(path("missing/f"), "new"));
    EXPECT_FALSE(platform::writeFileAtomically("", "new"));
}

TEST_F(PlatformFiles, WriteFileAtomicallyKeepsTheOldFileWhenTheRenameIsRefused) {
    // An immutable file cannot be replaced, though its folder takes the temporary file.
    writeFile("f", "old content");
    const std::string quoted = "'" + path("f") + "'";
    if (std::system(("chattr +i " + quoted + " 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "chattr +i needs root and a file system that supports it";
    bool ok = platform::writeFileAtomically(path("f"), "new content");
    std::string after = readFile("f");
    std::string entries = listTree(folder);
    EXPECT_EQ(std::system(("chattr -i " + quoted).c_str()), 0);
    EXPECT_FALSE(ok);
    EXPECT_EQ(after, "old content");
    EXPECT_EQ(entries, "f\n") << "the temporary file is removed again";
}

TEST_F(PlatformFiles, WriteFileAtomicallyInReadOnlyFolder) {
    if (testsupport::permissionBitsIgnored()) GTEST_SKIP() << "permission bits do not stop root";
    writeFile("f", "old");
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_FALSE(platform::writeFileAtomically(path("f"), "new"));
    fs::permissions(folder, fs::perms::owner_all);
    EXPECT_EQ(readFile("f"), "old");
    EXPECT_EQ(listTree(folder), "f\n");
}

// ---- processes ----

TEST_F(PlatformFiles, StartDetachedRunsWithArguments) {
    // The child writes its arguments and its session state; the test waits for the
    // file to appear instead of sleeping.
    std::string out = path("out.txt");
    std::string script = "printf '%s|%s\\n' \"$1\" \"$2\" > \"$3.tmp\"; "
                         "read -r _ _ _ _ _ sid _ < /proc/$$/stat; "
                         "if [ \"$sid\" = \"$$\" ]; then echo leader >> \"$3.tmp\"; fi; "
                         "mv \"$3.tmp\" \"$3\"";
    ASSERT_TRUE(platform::startDetached("/bin/sh", {"-c", script, "sh", "bir iki", "ç;$x", out}));
    ASSERT_TRUE(waitUntil([&] { return fs::exists(out); }, 20)) << "the detached child never wrote its file";
    std::string text = readFile("out.txt");
    EXPECT_EQ(text.substr(0, text.find('\n')), "bir iki|ç;$x") << "arguments reach the child unchanged";
    EXPECT_NE(text.find("leader"), std::string::npos) << "the child runs in a session of its own";

    EXPECT_FALSE(platform::startDetached(path("no-such-program"), {}));
    EXPECT_FALSE(platform::startDetached("", {}));
}

// A child that writes what it sees (arguments, two variables, its folder) into `out`.
const char* kReportScript =
    "printf '%s|%s|%s|%s\\n' \"$1\" \"${MORLAKEN_BILET-unset}\" \"${MORLAKEN_SUNUCU-unset}\" "
    "\"$(pwd)\" > \"$2\"; exit 7";

// Polls a started child until it ends (at most 20 s); its code, or -1000 when it did not end.
int waitForExit(platform::ProcessId child) {
    int code = 0;
    platform::ProcessPoll state = platform::ProcessPoll::Running;
    waitUntil([&] { return (state = platform::pollProcess(child, code)) != platform::ProcessPoll::Running; },
              20);
    return state == platform::ProcessPoll::Exited ? code : -1000;
}

TEST_F(PlatformFiles, StartProcessWithEnvironmentAndFolder) {
    fs::create_directories(folder / "oyun klasoru");
    std::string out = path("report.txt");
    platform::ProcessOptions options;
    options.extraEnvironment = {{"MORLAKEN_BILET", "bilet 123"}, {"MORLAKEN_SUNUCU", "127.0.0.1:27015"}};
    options.workingFolder = path("oyun klasoru");
    int error = -1;
    platform::ProcessId child = 0;
    {
        ScopedEnv inherited("MORLAKEN_SUNUCU", "eski"); // replaced, not doubled
        child = platform::startProcess("/bin/sh", {"-c", kReportScript, "sh", "tek argüman", out}, options,
                                       error);
    }
    ASSERT_GT(child, 0);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(std::getenv("MORLAKEN_BILET"), nullptr) << "the launcher's own environment stays clean";

    EXPECT_EQ(waitForExit(child), 7);
    int code = 0;
    EXPECT_EQ(readFile("report.txt"), "tek argüman|bilet 123|127.0.0.1:27015|" + path("oyun klasoru") + "\n");
    EXPECT_EQ(platform::pollProcess(child, code), platform::ProcessPoll::Failed) << "the id is spent";
    EXPECT_EQ(platform::terminateProcess(child, 1), -1) << "a collected child is not a child any more";
}

TEST_F(PlatformFiles, StartedProgramsGetOnlyTheStandardStreams) {
    // Libraries open their sockets without close-on-exec (ENet's game-server link), so a
    // descriptor that would survive exec must still stay out of every started program.
    writeFile("acik", "x");
    std::FILE* inheritable = std::fopen(path("acik").c_str(), "r");
    ASSERT_NE(inheritable, nullptr);
    std::FILE* own = platform::openForReading(path("acik"));
    ASSERT_NE(own, nullptr);
    const std::string flags = testsupport::readFile("/proc/self/fdinfo/" + std::to_string(fileno(own)));
    const size_t at = flags.find("flags:");
    EXPECT_TRUE(at != std::string::npos && std::stoul(flags.substr(at + 6), nullptr, 8) & 02000000)
        << "the launcher's own files are close-on-exec: " << flags;
    // The shell lists its own descriptors (ls runs in a child of it; `exec >` keeps no
    // saved copy of the old output, as a redirection of one command would).
    const std::string list = "exec > \"$0.tmp\"; ls /proc/$$/fd && mv \"$0.tmp\" \"$0\"";
    platform::ProcessOptions console;
    console.quiet = false;
    for (const platform::ProcessOptions& options : {platform::ProcessOptions{}, console}) {
        int error = 0;
        platform::ProcessId child =
            platform::startProcess("/bin/sh", {"-c", list, path("oyun")}, options, error);
        ASSERT_GT(child, 0);
        EXPECT_EQ(waitForExit(child), 0);
        EXPECT_EQ(readFile("oyun"), "0\n1\n2\n") << "quiet " << options.quiet;
    }
    ASSERT_TRUE(platform::startDetached("/bin/sh", {"-c", list, path("ayrik")}));
    ASSERT_TRUE(waitUntil([&] { return fs::exists(path("ayrik")); }, 20));
    EXPECT_EQ(readFile("ayrik"), "0\n1\n2\n") << "the self-restart";
    std::fclose(own);
    std::fclose(inheritable);
}

TEST_F(PlatformFiles, StartProcessFailures) {
    platform::ProcessOptions inMissingFolder;
    inMissingFolder.workingFolder = path("no-such-folder");
    writeFile("not-executable", "#!/bin/sh\n");
    const std::pair<std::string, platform::ProcessOptions> cases[] = {
        {path("yok"), {}}, {"", {}}, {"/bin/true", inMissingFolder}, {path("not-executable"), {}}};
    for (const auto& [program, options] : cases) {
        int error = 0;
        EXPECT_EQ(platform::startProcess(program, {}, options, error), 0)
            << program << " in " << options.workingFolder;
        EXPECT_NE(error, 0) << program;
    }

    int code = 0;
    EXPECT_EQ(platform::pollProcess(0, code), platform::ProcessPoll::Failed);
    EXPECT_EQ(platform::terminateProcess(0, 1), -1);
}

TEST_F(PlatformFiles, TerminateAsksThenKills) {
    int error = 0;
    platform::ProcessId polite = platform::startProcess("/bin/sleep", {"60"}, {}, error);
    ASSERT_GT(polite, 0);
    int code = 0;
    EXPECT_EQ(platform::pollProcess(polite, code), platform::ProcessPoll::Running);
    // Both report through the same exit-status rule as pollProcess: 128 + N after signal N.
    EXPECT_EQ(platform::terminateProcess(polite, 20), 128 + 15) << "ended by SIGTERM";

    // One that ignores SIGTERM is killed once the grace time is over.
    platform::ProcessOptions options;
    options.newSession = true;
    platform::ProcessId stubborn = platform::startProcess(
        "/bin/sh", {"-c", "trap '' TERM; echo > \"$0\"; exec sleep 60", path("ready")}, options, error);
    ASSERT_GT(stubborn, 0);
    ASSERT_TRUE(waitUntil([&] { return fs::exists(path("ready")); }, 20));
    EXPECT_EQ(platform::terminateProcess(stubborn, 0.2), 128 + 9);
    EXPECT_EQ(platform::pollProcess(stubborn, code), platform::ProcessPoll::Failed) << "collected";
}

TEST_F(PlatformFiles, ProgramRunningByBaseNameIgnoringCase) {
    // A copy of sleep under a name nobody else uses.
    const std::string name = "Morlaken_Server_Test_" + fs::read_symlink("/proc/self").string();
    fs::copy_file("/bin/sleep", folder / name);
    fs::permissions(folder / name, fs::perms::owner_all);
    EXPECT_FALSE(platform::isProgramRunning(name));
    int error = 0;
    platform::ProcessId child = platform::startProcess(path(name), {"60"}, {}, error);
    ASSERT_GT(child, 0);
    std::string upper = name;
    for (char& c : upper)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_TRUE(waitUntil([&] { return platform::isProgramRunning(upper); }, 20));
    EXPECT_TRUE(platform::isProgramRunning(name));
    EXPECT_FALSE(platform::isProgramRunning(name + "x"));
    EXPECT_FALSE(platform::isProgramRunning(name.substr(1)));
    platform::terminateProcess(child, 20);
    EXPECT_FALSE(platform::isProgramRunning(name));
    EXPECT_FALSE(platform::isProgramRunning(""));
}

TEST_F(PlatformFiles, AnotherUsersProgramIsNotRunningForUs) {
    // Whoever else runs a program of the local server's name must not decide for the player.
    if (!testsupport::permissionBitsIgnored() || !fs::exists("/usr/bin/setpriv"))
        GTEST_SKIP() << "running a program as another user needs root and setpriv";
    const std::string name = "Morlaken_Server_Baska_" + fs::read_symlink("/proc/self").string();
    fs::copy_file("/bin/sleep", folder / name);
    fs::permissions(folder, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::permissions(folder / name, fs::perms::owner_all | fs::perms::others_exec);
    testsupport::Child other;
    ASSERT_TRUE(other.start("/usr/bin/setpriv",
                            {"--reuid=nobody", "--regid=nogroup", "--clear-groups", "--", path(name), "60"}));
    ASSERT_TRUE(waitUntil([&] { return testsupport::processExecutable(other.pid()) == path(name); }, 20));
    EXPECT_FALSE(platform::isProgramRunning(name));
}

// ---- desktop ----

// A fake desktop program first on PATH, with DISPLAY set (or cleared) and no Wayland.
struct FakeDesktop {
    FakeDesktop(const std::string& name, const char* display) : program(name), display_("DISPLAY", display) {}
    testsupport::FakeProgram program;
    ScopedEnv display_, wayland_{"WAYLAND_DISPLAY", nullptr};
};

// Children of this process that have ended but were never collected.
int zombieChildren() {
    std::string self = fs::read_symlink("/proc/self").string();
    int count = 0;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        std::ifstream in(entry.path() / "stat");
        std::string line;
        if (!in || !std::getline(in, line)) continue;
        size_t close = line.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(line.substr(close + 2));
        std::string state, ppid;
        rest >> state >> ppid;
        if (ppid == self && state == "Z") ++count;
    }
    return count;
}

TEST_F(PlatformFiles, OpenWebAddressPassesOneArgumentWithoutAShell) {
    FakeDesktop desktop("xdg-open", ":99");
    const std::string address = "https://example.invalid/a b?x=1&y=$(echo no);z='q'";
    platform::openWebAddress(address);
    ASSERT_TRUE(waitUntil([&] { return desktop.program.calls() == "argc=1\n<" + address + ">\n"; }, 20))
        << desktop.program.calls();
    EXPECT_TRUE(waitUntil([] { return zombieChildren() == 0; }, 20)) << "the opener was never collected";
}

TEST_F(PlatformFiles, ErrorBoxShowsADialogWhenADisplayExists) {
    FakeDesktop desktop("zenity", ":99");
    platform::showErrorBox("Yazı tipi yüklenemedi: veri/font/x.ttf");
    // The call waits for the dialog, so its arguments are there when it returns.
    std::string args = desktop.program.calls();
    EXPECT_NE(args.find("\n<--title=Morlaken Launcher>\n"), std::string::npos) << args;
    EXPECT_NE(args.find("\n<--text=Yazı tipi yüklenemedi: veri/font/x.ttf>\n"), std::string::npos) << args;
    EXPECT_EQ(zombieChildren(), 0);
}

TEST_F(PlatformFiles, ErrorBoxWithoutDisplayOnlyWritesStandardError) {
    FakeDesktop desktop("zenity", nullptr);
    ::testing::internal::CaptureStderr();
    platform::showErrorBox("ilk satır\nikinci");
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "ilk satır\nikinci\n");
    EXPECT_EQ(desktop.program.calls(), "") << "no dialog without a display";
}

TEST_F(PlatformFiles, DesktopFolderSources) {
    fs::create_directories(folder / "home" / "Masaüstü");
    fs::create_directories(folder / "home" / "Desktop");
    fs::create_directories(folder / "config");
    fs::create_directories(folder / "direct");
    ScopedEnv home("HOME", path("home").c_str());
    ScopedEnv config("XDG_CONFIG_HOME", path("config").c_str());
    {
        ScopedEnv direct("XDG_DESKTOP_DIR", path("direct").c_str());
        EXPECT_EQ(platform::desktopFolder(), path("direct"));
    }
    ScopedEnv noDirect("XDG_DESKTOP_DIR", nullptr);
    EXPECT_EQ(platform::desktopFolder(), path("home/Desktop")) << "no user-dirs.dirs: ~/Desktop";

    std::ofstream(folder / "config" / "user-dirs.dirs")
        << "# yorum\nXDG_DOWNLOAD_DIR=\"$HOME/İndirilenler\"\n"
           "XDG_DESKTOP_DIR=\"$HOME/Masaüstü\"\n";
    EXPECT_EQ(platform::desktopFolder(), path("home/Masaüstü"));

    std::ofstream(folder / "config" / "user-dirs.dirs") << "XDG_DESKTOP_DIR=\"$HOME/Yok\"\n";
    EXPECT_EQ(platform::desktopFolder(), "") << "a configured folder that does not exist: nothing";

    fs::remove_all(folder / "config");
    fs::remove_all(folder / "home" / "Desktop");
    EXPECT_EQ(platform::desktopFolder(), "");
}

TEST_F(PlatformFiles, MakeExecutableFollowsReadBits) {
    writeFile("f", "");
    fs::permissions(path("f"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_TRUE(platform::makeExecutable(path("f")));
    EXPECT_EQ(fs::status(path("f")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::owner_exec | fs::perms::group_read |
                  fs::perms::group_exec);
    EXPECT_FALSE(platform::makeExecutable(path("yok")));
}

} // namespace
