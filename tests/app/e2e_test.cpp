// e2e_test.cpp - the real launcher, copied into a scratch player folder, on an X server of the
// test's own and driven with xdotool; what the player is told is read from MORLAKEN_MESSAGE_LOG.
// One run after another in the same folder: no fonts, no display, then only the background
// image and a two-step login through morlaken-devhost to the game and the closing screen. The
// self-update: a new launcher that cannot start, and one that does. (Dragging, retrying, the
// keys and the closing screen's picture: tests/screens; which fonts count as broken: FontTest.)
#include "login/login_support.h"

#include "support/child_process.h"
#include "support/devhost.h"
#include "support/process_probe.h"
#include "support/site.h"
#include "support/temp_folder.h"
#include "support/test_server.h"

#include <gtest/gtest.h>
#include <stb_image.h>
#include <stb_image_write.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

using Env = std::vector<std::pair<std::string, std::string>>;

// The launcher copied into root/oyuncu (a copy, not a link: it resolves its own path through
// the link) with the shipped defaults, and the built images and fonts copied or none; run on
// an Xvfb of its own, so no other test's window or pointer meets ours.
class LauncherProcess {
  public:
    LauncherProcess(const fs::path& root, bool withVeri) : root_(root), player_(root / "oyuncu") {
        const fs::path bin = MORLAKEN_BIN_DIR;
        fs::create_directories(player_);
        fs::copy_file(bin / "MorlakenLauncher", player_ / "MorlakenLauncher");
        fs::copy_file(bin / "varsayilan.ini", player_ / "varsayilan.ini");
        if (withVeri) fs::copy(bin / "veri", player_ / "veri", fs::copy_options::recursive);
        // The server never resets: without -noreset each xdotool call that leaves it
        // clientless starts a reset, and a launcher connecting during one fails with
        // "Pencere sistemi baslatilamadi.".
        ChildOptions options;
        options.stdoutFile = root / "display"; // the display number, then a line feed
        const bool up =
            xvfb_.start("/usr/bin/Xvfb",
                        {"-displayfd", "1", "-screen", "0", "1920x1080x24", "-nolisten", "tcp", "-noreset"},
                        options) &&
            waitUntil(
                [&] {
                    const std::string d = readFile(options.stdoutFile);
                    return !d.empty() && d.back() == '\n' &&
                           (display_ = ":" + d.substr(0, d.size() - 1), true);
                },
                20);
        if (!up || !fs::exists(kXdotool))
            ADD_FAILURE() << "needs Xvfb and xdotool (scripts/setup installs them)";
    }
    ~LauncherProcess() { // the launcher first, then Xvfb, asked to end so it removes its lock and socket
        int code = 0;
        child_.kill(), child_.wait(10, code);
        xvfb_.signal(kSigTerm), xvfb_.wait(10, code);
    }
    const fs::path& player() const { return player_; }
    Child& child() { return child_; }
    std::string err() const { return readFile(root_ / "launcher.err"); }

    // Starts it with `env` added and `unset` removed (DISPLAY among them: no display), from
    // `workingFolder` ("" = the test's); its standard error goes to err().
    bool start(Env env, std::vector<std::string> unset = {}, std::string workingFolder = "") {
        ChildOptions options;
        if (std::find(unset.begin(), unset.end(), "DISPLAY") == unset.end())
            env.push_back({"DISPLAY", display_});
        options.extraEnv = std::move(env);
        options.unsetEnv = std::move(unset);
        options.workingFolder = std::move(workingFolder);
        options.stderrFile = root_ / "launcher.err";
        return child_.start(player_ / "MorlakenLauncher", {}, options);
    }
    // start() and its exit code once it ended by itself (-1 when it had to be stopped after 60 s).
    int run(Env env, std::vector<std::string> unset = {}, std::string workingFolder = "") {
        int code = -1;
        if (start(std::move(env), std::move(unset), std::move(workingFolder)) && !child_.wait(60, code))
            child_.kill(), child_.wait(10, code), code = -1;
        return code;
    }
    // The launcher's mapped window, "" while it is hidden.
    std::string window() {
        std::string out;
        if (!xdo({"search", "--onlyvisible", "--pid", std::to_string(child_.pid())}, &out)) return "";
        return out.substr(0, out.find('\n'));
    }
    // xdotool with `args` on the launcher's display; its output in `out`.
    bool xdo(const std::vector<std::string>& args, std::string* out = nullptr) {
        std::string unread;
        ChildOptions options;
        options.extraEnv = {{"DISPLAY", display_}};
        return runProgram(kXdotool, args, out ? *out : unread, 10, options) == 0;
    }
    // A click at window coordinates (x, y); false when the window is hidden or gone.
    bool click(int x, int y) {
        const std::string w = window();
        return !w.empty() &&
               xdo({"mousemove", "--window", w, std::to_string(x), std::to_string(y), "click", "1"});
    }
    bool type(const std::string& text) { return xdo({"type", "--delay", "30", text}); }
    bool key(const std::string& name) { return xdo({"key", name}); }
    // Waits for the window to be shown (or hidden); 50 ms between xdotool tries, so the
    // polling itself does not crowd the two cores the launcher starts on.
    bool waitForWindow(bool shown, double seconds = 60) {
        return waitFor([&] { return window().empty() != shown; }, seconds,
                       [] { std::this_thread::sleep_for(std::chrono::milliseconds(50)); });
    }

  private:
    static constexpr const char* kXdotool = "/usr/bin/xdotool";
    fs::path root_, player_;
    Child xvfb_, child_;
    std::string display_;
};

TEST(LauncherRun, EndsWithCodeOneWithoutFontsOrDisplayOtherwiseDrawsUpdatesAndPlaysATwoStepLogin) {
    constexpr const char* kSecret = "JBSWY3DPEHPK3PXP"; // the two-step secret of "ayse"
    TempFolder scratch, site;
    const fs::path root = scratch.path();
    const std::string sunucu = "127.0.0.1:27016", shot = root / "shot.png", elsewhere = root / "baska";
    LauncherProcess launcher(root, false);
    fs::create_directories(launcher.player() / "veri/font");
    fs::create_directory(elsewhere);
    const std::string messages = root / "mesajlar.txt";
    const Env env = {{"MORLAKEN_SCREENSHOT", shot},
                     {"MORLAKEN_SCREENSHOT_AFTER", "2"},
                     {"MORLAKEN_MESSAGE_LOG", messages}};

    // No fonts, while the update server took the list request and sends nothing: the worker
    // is still running (or at least not joined) when the fonts turn out to be missing.
    {
        TestServer list;
        list.route("/dosyalar.txt", stall(std::string(1000, 'x'), 10));
        writeFile(launcher.player() / "launcher.ini", "guncelleme=" + list.baseUrl() + "\r\n");
        EXPECT_EQ(launcher.run(env, {"DISPLAY"}, elsewhere), 1) << launcher.err(); // stderr only
        EXPECT_NE(
            launcher.err().find("veri\\font klasoru eksik. Launcher'i veri klasoruyle birlikte calistir.\n"),
            std::string::npos)
            << launcher.err();
        EXPECT_LE(list.requestCount("/dosyalar.txt"), 1); // the stop may come before the request
    }
    fs::remove(launcher.player() / "launcher.ini");
    for (const char* f : {"Cinzel-Bold.ttf", "EBGaramond-Regular.ttf"})
        fs::copy_file(fs::path(MORLAKEN_SOURCE_DIR) / "veri/font" / f, launcher.player() / "veri/font" / f);
    EXPECT_EQ(launcher.run(env, {"DISPLAY", "WAYLAND_DISPLAY"}, elsewhere), 1);
    EXPECT_NE(launcher.err().find("Pencere sistemi baslatilamadi.\n"), std::string::npos) << launcher.err();
    EXPECT_FALSE(fs::exists(shot) || fs::exists(messages));

    // The one image there is a flat colour for the background.
    std::vector<unsigned char> px(64 * 48 * 3);
    for (size_t i = 0; i < px.size(); i += 3)
        px[i] = 0x30, px[i + 1] = 0x60, px[i + 2] = 0xC0;
    ASSERT_TRUE(stbi_write_jpg((launcher.player() / "veri/arkaplan.jpg").c_str(), 64, 48, 3, px.data(), 95));
    // The game as the update server has it, ending with 0 after 4 s; the launcher is told to
    // start it from there and to hand it `sunucu`.
    writeFile(root / "users.txt", logintest::userLine("ayse", "", "Gizli-Sifre42", kSecret, true, ""));
    publishSite(site.path(),
                {{"oyun/morlaken-game", readFile(builtProgram("morlaken-game"))},
                 {"oyun/morlaken-game.ini", "cikis_kodu=0\nsure=4\npencere=0\nkayit=kayit.txt\n"}});
    DevHost devhost;
    ASSERT_TRUE(devhost.start({"--root", site.path(), "--port", "0", "--users", root / "users.txt"}))
        << devhost.log();
    TestServer news;
    news.route("/haberler.txt", stall("Bakım|Sunucular bakımda|Kısa süre sonra dönüyoruz.\n", 6));
    writeFile(launcher.player() / "varsayilan.ini",
              "guncelleme=" + devhost.url() + "\nhesap_api=" + devhost.url() +
                  "hesap/\nhaber_adresi=" + news.baseUrl() +
                  "haberler.txt\noyun=oyun/morlaken-game\nsunucu=" + sunucu + "\nyerel_sunucu=\nweb=\n");
    ASSERT_TRUE(launcher.start(env, {}, elsewhere));
    ASSERT_TRUE(launcher.waitForWindow(true)) << launcher.err();
    std::string geometry; // centred on its 1920 x 1080 screen
    launcher.xdo({"getwindowgeometry", "--shell", launcher.window()}, &geometry);
    EXPECT_NE(geometry.find("X=560\nY=235\n"), std::string::npos) << geometry;
    // The background image is found, every missing one is reported in start-up order, and
    // the launcher keeps running and draws; (5, 200) is background only on the main screen.
    ASSERT_TRUE(waitFor([&] { return fs::exists(shot); }, 30.0)) << launcher.err();
    const std::string err = launcher.err();
    EXPECT_EQ(err.find("gorsel yuklenemedi: veri/arkaplan.jpg"), std::string::npos) << err;
    size_t at = 0;
    for (const char* name : {"logo.png", "kutu.png", "alan_yazi.png", "buton_ana_normal.png",
                             "buton_ana_basili.png", "buton_normal.png", "buton_basili.png"})
        EXPECT_NE(at = err.find(std::string("gorsel yuklenemedi: veri/") + name + "\n", at),
                  std::string::npos)
            << name << ", missing or out of order";
    int sw = 0, sh = 0, n = 0;
    unsigned char* image = stbi_load(shot.c_str(), &sw, &sh, &n, 3);
    ASSERT_NE(image, nullptr) << err;
    EXPECT_TRUE(sw == 800 && sh == 610) << sw << " x " << sh;
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(image[(200 * sw + 5) * 3 + c], (0x3060C0 >> (16 - 8 * c)) & 0xFF, 6) << c;
    stbi_image_free(image);

    // The update delivers the game; START is clickable once the pass is over.
    ASSERT_TRUE(waitFor([&] { return fileExists(launcher.player() / "guncelleme.cache"); }, 60.0))
        << launcher.err();
    ASSERT_TRUE(fileExists(launcher.player() / "oyun/morlaken-game"));
    ASSERT_TRUE(launcher.click(424, 534)); // START: the dialog opens on the empty user name
    ASSERT_TRUE(launcher.type("ayse"));
    ASSERT_TRUE(launcher.key("Tab"));
    ASSERT_TRUE(launcher.type("Gizli-Sifre42"));
    ASSERT_TRUE(launcher.key("Return"));
    const std::string notice =
        "BİLGİ: Hesabında iki adımlı doğrulama açık. Doğrulama uygulamandaki 6 haneli kodu gir.\n";
    ASSERT_TRUE(waitFor([&] { return readFile(messages).find(notice) != std::string::npos; }, 30.0))
        << readFile(messages) << launcher.err();
    EXPECT_FALSE(fileExists(launcher.player() / "oyun/kayit.txt"));
    // The remember box was on: the user name is kept for the next start.
    EXPECT_NE(readFile(launcher.player() / "launcher.ini").find("kullanici=ayse\r\n"), std::string::npos);

    ASSERT_TRUE(launcher.key("Return")); // closes the notice; the code field has the focus
    ProgramRun code = runCaptured(builtProgram("morlaken-devhost"), {"--totp", kSecret});
    ASSERT_EQ(code.exitCode, 0) << code.err;
    ASSERT_TRUE(launcher.type(code.out.substr(0, 6)));
    ASSERT_TRUE(launcher.key("Return"));

    std::map<std::string, std::string> record;
    ASSERT_TRUE(waitFor(
        [&] {
            std::istringstream in(readFile(launcher.player() / "oyun/kayit.txt"));
            for (std::string line; std::getline(in, line);)
                record[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
            return record.count("arguman_sayisi") == 1;
        },
        30.0))
        << readFile(messages) << launcher.err();
    EXPECT_EQ(record["bilet"].size(), 64u); // the service's ticket: 32 bytes in hex
    EXPECT_EQ(record["bilet_var"], "1");
    EXPECT_EQ(record["sunucu"], sunucu);
    // While the game runs the launcher is hidden and its own environment has no ticket.
    EXPECT_TRUE(launcher.waitForWindow(false, 10));
    const std::string environ = readFile("/proc/" + std::to_string(launcher.child().pid()) + "/environ");
    ASSERT_FALSE(environ.empty());
    EXPECT_EQ(environ.find("MORLAKEN_BILET"), std::string::npos);
    EXPECT_EQ(environ.find(record["bilet"]), std::string::npos);

    // The game ends with 0: the closing screen (the window back), which a click ends, while
    // the news download still hangs.
    ASSERT_TRUE(launcher.waitForWindow(true, 30)) << launcher.err();
    EXPECT_EQ(news.stalledNow(), 1);
    int exitCode = -1;
    EXPECT_TRUE(launcher.click(640, 320));
    ASSERT_TRUE(launcher.child().wait(20, exitCode)) << launcher.err();
    EXPECT_EQ(exitCode, 0) << launcher.err();
    EXPECT_TRUE(fs::is_empty(elsewhere)) << "the folder it was started from is left alone";
}

TEST(SelfUpdate, ALauncherThatCannotStartLeavesTheOldOneOpenOneThatRunsStartsItselfFromItsOwnPath) {
    TempFolder scratch, site;
    const fs::path root = scratch.path();
    TestServer server;
    server.serveFolder(site.path());
    LauncherProcess launcher(root, true); // a copy: the update writes into veri/
    const fs::path player = launcher.player();
    const std::string built = readFile(player / "MorlakenLauncher"), pidFile = root / "pids";
    // Every launcher that started, in order (from MORLAKEN_PID_FILE).
    const auto launchers = [&] {
        std::istringstream lines(readFile(pidFile));
        std::vector<int> pids;
        for (int pid = 0; lines >> pid;)
            pids.push_back(pid);
        return pids;
    };
    struct KillLeftOvers { // a restarted launcher is no child of the test
        const decltype(launchers)& pids;
        ~KillLeftOvers() {
            for (int pid : pids())
                if (processAlive(pid)) signalProcess(pid, kSigKill);
        }
    } killLeftOvers{launchers};
    writeFile(player / "launcher.ini", "guncelleme=" + server.baseUrl() + "\r\n");

    publishSite(site.path(), {{"MorlakenLauncher", "not a program at all\n"}});
    const std::string shot = root / "mesaj.png";
    EXPECT_EQ(launcher.run({{"MORLAKEN_PID_FILE", pidFile},
                            {"MORLAKEN_SCREENSHOT", shot},
                            {"MORLAKEN_SCREENSHOT_AFTER", "mesaj"},
                            {"MORLAKEN_EXIT_AFTER_SCREENSHOT", "1"}}),
              0)
        << launcher.err();
    EXPECT_TRUE(fs::exists(shot)) << "the message dialog never showed";
    EXPECT_EQ(launchers().size(), 1u); // no copy started
    EXPECT_EQ(readFile(player / "MorlakenLauncher"), "not a program at all\n");

    // The new launcher is the built one with a mark at its end (an ELF file runs with it).
    // (That installed programs stay runnable and data does not: InstallSafety.)
    writeFile(player / "MorlakenLauncher", built);
    fs::permissions(player / "MorlakenLauncher", fs::perms::owner_all);
    const SiteFiles files = {{"MorlakenLauncher", built + "\nyeni surum\n"}, {"veri/harita.dat", "veri"}};
    publishSite(site.path(), files);
    int code = -1;
    ASSERT_TRUE(launcher.start({{"MORLAKEN_PID_FILE", pidFile}}));
    ASSERT_TRUE(waitUntil([&] { return launchers().size() == 3; }, 90)) << launcher.err();
    ASSERT_TRUE(launcher.child().wait(30, code)) << "the old launcher did not close after the restart";
    EXPECT_EQ(code, 0);
    const int second = launchers()[2];
    EXPECT_NE(second, launchers()[1]);
    EXPECT_TRUE(processAlive(second));
    // The restarted copy runs the file at the launcher's own place, which is the new one.
    EXPECT_EQ(processExecutable(second), (player / "MorlakenLauncher").string());
    EXPECT_TRUE(folderMatches(player, files));
    signalProcess(second, kSigTerm);
    EXPECT_TRUE(waitUntil([&] { return !processAlive(second); }, 30));
}

} // namespace
