// The Windows platform layer under Wine: UTF-8 paths at the wide-call boundary, the
// explicit environment block of a child, process snapshots, the folder lock, the desktop
// shell link, and the WinINet client's stop and error rules against a server inside the test.
#include "config/config.h"
#include "net/http.h"
#include "platform/platform.h"
#include "screens/shortcut.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <winsock2.h>
#include <ws2tcpip.h>

#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

using testsupport::TempFolder;

// ---- paths ----

TEST(WindowsPaths, NonAsciiFoldersSurviveEveryFileCall) {
    TempFolder temp;
    const std::string folder = temp / "Users/Gökhan/Masaüstü";
    ASSERT_TRUE(platform::createFolders(folder));
    const std::string file = folder + "/Şölen ğüçı.txt";
    ASSERT_TRUE(platform::writeFileAtomically(file, "içerik"));
    std::string bytes;
    ASSERT_TRUE(platform::readWholeFile(file, bytes));
    EXPECT_EQ(bytes, "içerik");
    EXPECT_EQ(platform::fileSize(file), 7);
    EXPECT_GT(platform::fileWriteTime(file), 0);
    EXPECT_EQ(platform::entryType(file), platform::EntryType::File);
    EXPECT_EQ(platform::entryType(folder), platform::EntryType::Folder);
    std::vector<std::string> names;
    ASSERT_TRUE(platform::listFolder(folder, names));
    EXPECT_EQ(names, std::vector<std::string>{"Şölen ğüçı.txt"});

    // fullPath answers with '/' and a drive, folding "." and "..".
    const std::string full = platform::fullPath(folder + "/./x/../Şölen ğüçı.txt");
    EXPECT_EQ(full.find('\\'), std::string::npos) << full;
    EXPECT_EQ(full.substr(1, 2), ":/") << full;
    EXPECT_EQ(platform::fileSize(full), 7);

    // Replace-existing rename, then delete.
    const std::string other = folder + "/yeni.txt";
    ASSERT_TRUE(platform::writeFileAtomically(other, "yeni"));
    ASSERT_TRUE(platform::replaceFile(other, file));
    ASSERT_TRUE(platform::readWholeFile(file, bytes));
    EXPECT_EQ(bytes, "yeni");
    EXPECT_FALSE(platform::pathExists(other));
    EXPECT_TRUE(platform::deleteFile(file));
    EXPECT_FALSE(platform::deleteFile(file));
    EXPECT_EQ(platform::entryType(file), platform::EntryType::Missing);
    EXPECT_EQ(platform::fileSize(folder), -1);
}

TEST(WindowsPaths, FreshFileReplacesWhatIsThereAndWritesAll) {
    TempFolder temp;
    const std::string path = temp / "oyun.pak.indir";
    testsupport::writeFile(path, "eski kalinti");
    platform::FileHandle file = platform::createFreshFile(path);
    ASSERT_GE(file, 0);
    const std::string data = testsupport::patternBytes(200000, 7);
    EXPECT_TRUE(platform::writeToFile(file, data.data(), data.size()));
    EXPECT_TRUE(platform::setInstalledFileMode(file, temp / "oyun.pak", data.substr(0, 4)));
    EXPECT_TRUE(platform::closeFile(file, true));
    EXPECT_EQ(testsupport::readFile(path), data);
    // A folder of that name is never replaced.
    ASSERT_TRUE(platform::createFolders(temp / "klasor"));
    EXPECT_EQ(platform::createFreshFile(temp / "klasor"), -1);
}

// A download is resumed only into an ".indir" with no other name; which file a path names
// is the same through a hard link; only an empty real folder is removed.
TEST(WindowsPaths, HardLinksAreSeenThroughAndOnlyEmptyFoldersRemoved) {
    TempFolder temp;
    const std::string victim = temp / "kurban.bin", partial = temp / "oyun.bin.indir";
    testsupport::writeFile(victim, "yarim");
    auto native = [](const std::string& path) {
        return std::filesystem::path(std::u8string(path.begin(), path.end()));
    };
    std::error_code error;
    std::filesystem::create_hard_link(native(victim), native(partial), error);
    ASSERT_FALSE(error) << error.message();
    EXPECT_EQ(platform::openForAppend(partial), -1) << "appended through a second name";
    platform::FileIdentity a, b, other;
    ASSERT_TRUE(platform::fileIdentity(victim, a));
    ASSERT_TRUE(platform::fileIdentity(partial, b));
    ASSERT_TRUE(platform::fileIdentity(temp.path(), other));
    EXPECT_TRUE(a == b);
    EXPECT_FALSE(a == other);
    ASSERT_TRUE(platform::deleteFile(victim));
    const platform::FileHandle file = platform::openForAppend(partial);
    EXPECT_GE(file, 0) << "the only name left";
    EXPECT_TRUE(platform::closeFile(file, false));

    ASSERT_TRUE(platform::createFolders(temp / "dolu/ic"));
    EXPECT_FALSE(platform::removeEmptyFolder(temp / "dolu"));
    EXPECT_TRUE(platform::removeEmptyFolder(temp / "dolu/ic"));
    EXPECT_FALSE(platform::removeEmptyFolder(partial)) << "a file is no folder";
    EXPECT_EQ(platform::entryType(temp / "dolu/ic"), platform::EntryType::Missing);
}

TEST(WindowsPaths, AbsoluteByDriveShareOrRoot) {
    const struct {
        const char* path;
        bool absolute;
    } cases[] = {
        {"C:/Oyunlar/oyun.exe", true}, {"c:\\oyun.exe", true},
        {"\\\\sunucu\\pay", true},     {"/oyun", true},
        {"oyun/oyun.exe", false},      {"..\\build\\x.exe", false},
        {"C:oyun.exe", false},         {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::isAbsolutePath(c.path), c.absolute) << c.path;
}

TEST(WindowsPaths, ExecutablePathNamesThisProgram) {
    const std::string exe = platform::executablePath();
    EXPECT_NE(exe.find("test_win_platform.exe"), std::string::npos) << exe;
    EXPECT_EQ(exe.find('\\'), std::string::npos) << exe;
    EXPECT_GT(platform::fileSize(exe), 0);
    EXPECT_STREQ(platform::launcherFileName(), "MorlakenLauncher.exe");
}

// ---- processes ----

std::string commandInterpreter() {
    const char* root = std::getenv("SystemRoot");
    return std::string(root ? root : "C:/windows") + "/system32/cmd.exe";
}

TEST(WindowsProcesses, ChildGetsItsVariablesAndTheLauncherKeepsNone) {
    // The child's exit code is the ticket it received; ours must never hold it.
    platform::ProcessOptions options;
    options.extraEnvironment = {{"MORLAKEN_BILET", "42"}, {"MORLAKEN_SUNUCU", "127.0.0.1:1"}};
    int error = -1;
    platform::ProcessId child =
        platform::startProcess(commandInterpreter(), {"/c", "exit %MORLAKEN_BILET%"}, options, error);
    ASSERT_NE(child, 0) << "error " << error;
    EXPECT_EQ(error, 0);
    EXPECT_EQ(std::getenv("MORLAKEN_BILET"), nullptr);
    int code = -1;
    platform::ProcessPoll poll;
    while ((poll = platform::pollProcess(child, code)) == platform::ProcessPoll::Running)
        std::this_thread::yield();
    EXPECT_EQ(poll, platform::ProcessPoll::Exited);
    EXPECT_EQ(code, 42);
    // The id is spent once collected.
    EXPECT_EQ(platform::pollProcess(child, code), platform::ProcessPoll::Failed);
    EXPECT_EQ(platform::terminateProcess(child, 0.1), -1);
}

TEST(WindowsProcesses, MissingProgramReportsTheSystemError) {
    TempFolder temp;
    int error = 0;
    platform::ProcessOptions options;
    EXPECT_EQ(platform::startProcess(temp / "yok.exe", {}, options, error), 0);
    EXPECT_EQ(error, 2); // ERROR_FILE_NOT_FOUND
}

TEST(WindowsProcesses, SnapshotFindsProgramsIgnoringCaseAndExtension) {
    const struct {
        const char* name;
        bool running;
    } cases[] = {
        {"test_win_platform.exe", true}, {"TEST_WIN_PLATFORM.EXE", true}, {"Test_Win_Platform", true},
        {"test_win_platfor", false},     {"morlaken_server_yok", false},  {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::isProgramRunning(c.name), c.running) << c.name;
}

TEST(WindowsProcesses, TemporaryOfThisProcessIsNotAbandoned) {
    const std::string own = "launcher.ini.yaz-" + std::to_string(platform::processId()) + "-3";
    EXPECT_TRUE(platform::isAtomicWriteTemporary(own));
    EXPECT_FALSE(platform::isAbandonedWriteTemporary(own));
    // A process id that no process has (ids are multiples of 4 on Windows).
    EXPECT_TRUE(platform::isAbandonedWriteTemporary("launcher.ini.yaz-4294967293-0"));
    EXPECT_FALSE(platform::isAbandonedWriteTemporary("launcher.ini"));
}

// ---- folder lock ----

TEST(WindowsLock, SecondPassWaitsUntilStoppedOrReleased) {
    TempFolder temp;
    std::atomic<bool> stop{false};
    platform::FolderLock first = platform::lockFolder(temp.path(), stop);
    ASSERT_GE(first, 0);
    // Another thread, through another spelling of the same folder, gives up on stop.
    std::atomic<bool> stopOther{false};
    platform::FolderLock second = 0;
    std::thread waiter([&] { second = platform::lockFolder(temp.path() + "/./", stopOther); });
    stopOther = true;
    waiter.join();
    EXPECT_EQ(second, -1);
    platform::unlockFolder(first);
    std::atomic<bool> never{false};
    std::thread after([&] {
        second = platform::lockFolder(temp.path(), never);
        if (second >= 0) platform::unlockFolder(second);
    });
    after.join();
    EXPECT_GE(second, 0);
}

// ---- desktop ----

std::wstring wide(const std::string& text) {
    std::wstring out(text.size(), L'\0');
    out.resize(MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(),
                                   static_cast<int>(out.size())));
    std::replace(out.begin(), out.end(), L'/', L'\\');
    return out;
}

// What a shell link file holds, read back through the shell: target, folder, icon, tooltip.
std::vector<std::wstring> readShellLink(const std::string& file) {
    std::vector<std::wstring> fields;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IShellLinkW* link = nullptr;
    IPersistFile* persist = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&link))) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist))) &&
        SUCCEEDED(persist->Load(wide(file).c_str(), STGM_READ))) {
        wchar_t text[MAX_PATH] = {};
        int icon = -1;
        link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH);
        fields.push_back(text);
        link->GetWorkingDirectory(text, MAX_PATH);
        fields.push_back(text);
        link->GetIconLocation(text, MAX_PATH, &icon);
        fields.push_back(std::wstring(text) + L"," + std::to_wstring(icon));
        link->GetDescription(text, MAX_PATH);
        fields.push_back(text);
    }
    if (persist) persist->Release();
    if (link) link->Release();
    CoUninitialize();
    return fields;
}

TEST(WindowsDesktop, ShellLinkReplacesAnOldFileOnceAndReadsBack) {
    TempFolder temp;
    const std::string before = platform::fullPath(".");
    ASSERT_TRUE(platform::setWorkingFolder(temp.path())); // launcher.ini lands here
    const std::string desktop = platform::desktopFolder();
    ASSERT_NE(desktop, "");
    const std::string link = desktop + "/Morlaken Online.lnk";
    EXPECT_EQ(link, desktop + "/" + kShortcutName + platform::desktopShortcutExtension());
    testsupport::writeFile(link, "eski bir dosya");

    Config cfg;
    ensureDesktopShortcut(cfg);
    const std::string exe = platform::executablePath();
    const std::wstring target = wide(exe);
    const std::vector<std::wstring> expected = {target, wide(exe.substr(0, exe.rfind('/'))), target + L",0",
                                                L"Morlaken Online"};
    EXPECT_TRUE(readShellLink(link) == expected);
    EXPECT_EQ(testsupport::readFile(temp / "launcher.ini"), "kisayol=1\r\n");

    // Deleted by the player: not made again while "kisayol" is "1".
    ASSERT_TRUE(platform::deleteFile(link));
    ensureDesktopShortcut(cfg);
    EXPECT_FALSE(platform::pathExists(link));
    ASSERT_TRUE(platform::setWorkingFolder(before));
}

// ---- WinINet ----

// A loopback server that answers one request with `head` and `body`, then keeps the
// connection open until the test ends it (or, with `hangUp`, closes it at once).
class StallServer {
  public:
    StallServer(std::string head, std::string body, bool hangUp = false)
        : head_(std::move(head)), body_(std::move(body)), hangUp_(hangUp) {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener_, 4);
        int length = sizeof address;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~StallServer() {
        closesocket(listener_);
        if (client_ != INVALID_SOCKET) closesocket(client_);
        thread_.join();
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/dosya"; }
    std::atomic<bool> sent{false}; // the answer has left

  private:
    void serve() {
        client_ = accept(listener_, nullptr, nullptr);
        if (client_ == INVALID_SOCKET) return;
        std::string request;
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos) {
            int n = recv(client_, buffer, sizeof buffer, 0);
            if (n <= 0) return;
            request.append(buffer, n);
        }
        std::string answer = head_ + body_;
        send(client_, answer.data(), static_cast<int>(answer.size()), 0);
        if (hangUp_) shutdown(client_, SD_BOTH);
        sent = true;
        while (recv(client_, buffer, sizeof buffer, 0) > 0) {
        }
    }
    std::string head_, body_;
    bool hangUp_;
    SOCKET listener_ = INVALID_SOCKET;
    SOCKET client_ = INVALID_SOCKET;
    unsigned short port_ = 0;
    std::thread thread_;
};

TEST(WindowsHttp, StopEndsAStalledBodyWithoutAnErrorWord) {
    // Far longer than a test may take: only the stop flag can end this transfer in time.
    httpSetNoDataTimeoutForTests(120);
    StallServer server("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n", "ilk baytlar");
    std::atomic<bool> stop{false};
    std::string error, received;
    // WinINet waits for a full 64 KiB chunk, so the body's first bytes are still held
    // inside it when the stop comes.
    std::thread stopper([&] {
        while (!server.sent.load())
            std::this_thread::yield();
        stop = true;
    });
    bool ok = httpGet(server.url(), makeStringSink(received, 1000000), error, stop);
    stopper.join();
    httpSetNoDataTimeoutForTests(kNoDataTimeoutSeconds);
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, "");
}

TEST(WindowsHttp, StatusAndSinkFailuresGiveTheirWords) {
    const struct {
        const char* head;
        std::string body;
        bool sinkAccepts;
        const char* error;
        bool ok;
    } cases[] = {
        {"HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\nConnection: close\r\n\r\n", "yok", true,
         "sunucu 404 dondu", false},
        {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: close\r\n\r\n", "tamam", false, kErrSink,
         false},
        {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: close\r\n\r\n", "tamam", true, "", true},
        {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n", "", true, "", true},
    };
    for (const auto& c : cases) {
        StallServer server(c.head, c.body);
        std::atomic<bool> stop{false};
        std::string error, received;
        bool ok = httpGet(
            server.url(),
            [&](const uint8_t* bytes, uint32_t count) {
                received.append(reinterpret_cast<const char*>(bytes), count);
                return c.sinkAccepts;
            },
            error, stop);
        EXPECT_EQ(ok, c.ok) << c.head;
        EXPECT_EQ(error, c.error) << c.head;
        if (c.ok) {
            EXPECT_EQ(received, c.body);
        }
    }
}

TEST(WindowsHttp, PostTakesTheAnswerAndAStopEndsASilentServer) {
    const struct {
        const char* head;
        const char* body;
        bool hangUp, stop, ok;
        uint32_t status;
        const char* error;
    } cases[] = {
        {"HTTP/1.1 401 Unauthorized\r\nContent-Length: 33\r\n\r\n", "{\"message\":\"INVALID_CREDENTIALS\"}",
         false, false, true, 401, "dokunulmadi"},
        // A redirect is the answer: not followed.
        {"HTTP/1.1 307 Moved\r\nLocation: http://127.0.0.1:1/x\r\nContent-Length: 5\r\n\r\n", "moved", false,
         false, true, 307, "dokunulmadi"},
        // Cut short of its Content-Length, then closed: no answer, no half ticket.
        {"HTTP/1.1 200 OK\r\nContent-Length: 60\r\n\r\n", "{\"ticket\":\"TRUNC", true, false, false, 0,
         "giris sunucusuna ulasilamadi (12030)"},
        // A body that stops half-way, and a server that never answers: only the stop can
        // end these requests within the test.
        {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n", "{\"ticket\":", false, true, false, 0,
         "dokunulmadi"},
        {"", "", false, true, false, 0, "dokunulmadi"},
    };
    for (const auto& c : cases) {
        StallServer server(c.head, c.body, c.hangUp);
        std::atomic<bool> stop{false};
        std::thread stopper([&] {
            while (!server.sent.load())
                std::this_thread::yield();
            if (c.stop) stop = true;
        });
        uint32_t status = 7;
        std::string answer, error = "dokunulmadi";
        const bool ok = postJson(server.url(), "{\"username\":\"oyuncu\"}", status, answer, error, &stop);
        stopper.join();
        EXPECT_EQ(ok, c.ok) << c.head;
        EXPECT_EQ(status, c.status) << c.head;
        EXPECT_EQ(answer, c.ok ? c.body : "") << c.head;
        EXPECT_EQ(error, c.error) << c.head;
    }
}

TEST(WindowsHttp, UnreachableAndBadAddressesGiveTheirWords) {
    std::atomic<bool> stop{false};
    std::string error;
    // Port 1 on loopback: nothing listens there.
    EXPECT_FALSE(httpGet("http://127.0.0.1:1/x", makeStringSink(error, 10), error, stop));
    EXPECT_EQ(error, kErrConnect);
    uint32_t status = 7;
    std::string answer, postError;
    EXPECT_FALSE(postJson("ftp://127.0.0.1/ticket", "{}", status, answer, postError));
    EXPECT_EQ(postError, kErrPostAddress);
    EXPECT_EQ(status, 0u);
}

} // namespace
