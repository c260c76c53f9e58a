// The real launcher, copied into a scratch player folder and started from another working
// folder on an Xvfb of the test's own: it finds its files beside itself, reports missing fonts and images,
// and exits with the right code. The MORLAKEN_SCREENSHOT hook makes each run draw a few frames, save a PNG
// and close on its own.
#include "app/launcher_process.h"
#include "support/child_process.h"
#include "support/temp_folder.h"
#include "support/test_server.h"

#include <gtest/gtest.h>
#include <stb_image.h>
#include <stb_image_write.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using testsupport::readFile;

namespace {

class LauncherRun : public ::testing::Test {
  protected:
    void SetUp() override {
        const fs::path bin = fs::path(MORLAKEN_BIN_DIR);
        exe_ = bin / "MorlakenLauncher";
        ASSERT_TRUE(fs::exists(exe_)) << "build the MorlakenLauncher target first";
        player_ = root_ / "oyun";
        elsewhere_ = root_ / "baska";
        fs::create_directories(player_ / "veri" / "font");
        fs::create_directories(elsewhere_);
        // A copy, not a link: the launcher resolves its own path through the link.
        fs::copy_file(exe_, player_ / "MorlakenLauncher");
        fs::permissions(player_ / "MorlakenLauncher", fs::perms::owner_all, fs::perm_options::add);
        fs::copy_file(bin / "varsayilan.ini", player_ / "varsayilan.ini");
        xvfb_ = std::make_unique<PrivateDisplay>(root_);
        ASSERT_FALSE(xvfb_->name().empty());
    }

    void copyFonts() {
        for (const char* f : {"Cinzel-Bold.ttf", "EBGaramond-Regular.ttf"})
            fs::copy_file(fs::path(MORLAKEN_SOURCE_DIR) / "veri" / "font" / f, player_ / "veri" / "font" / f);
    }

    // Runs the copied launcher from `elsewhere_` with the given extra environment; returns
    // its exit code (124 when it had to be stopped after 60 s).
    int run(const std::string& env) {
        const std::string cmd = "cd '" + elsewhere_.string() + "' && DISPLAY=" + xvfb_->name() + " " + env +
                                " timeout 60 '" + (player_ / "MorlakenLauncher").string() + "' >'" +
                                (root_ / "out").string() + "' 2>'" + (root_ / "err").string() +
                                "'; echo $? >'" + (root_ / "rc").string() + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
        err_ = readFile(root_ / "err");
        return std::atoi(readFile(root_ / "rc").c_str());
    }
    std::string screenshotEnv() const {
        return "MORLAKEN_SCREENSHOT='" + (root_ / "shot.png").string() +
               "' MORLAKEN_SCREENSHOT_AFTER=2 MORLAKEN_EXIT_AFTER_SCREENSHOT=1";
    }

    testsupport::TempFolder scratch_;
    const fs::path root_{scratch_.path()};
    std::unique_ptr<PrivateDisplay> xvfb_; // the launcher windows show on a server of their own
    fs::path exe_, player_, elsewhere_;
    std::string err_;
};

} // namespace

// Started from another folder, it finds its files beside itself: the one image there (a
// flat colour for the background), while every missing one is reported in start-up order
// and the launcher keeps running, and draws.
TEST_F(LauncherRun, FindsItsFilesBesideTheExecutableAndReportsTheMissingImages) {
    copyFonts();
    const int w = 64, h = 48;
    std::vector<unsigned char> px(static_cast<size_t>(w) * h * 3);
    for (size_t i = 0; i < px.size(); i += 3)
        px[i] = 0x30, px[i + 1] = 0x60, px[i + 2] = 0xC0;
    ASSERT_TRUE(stbi_write_jpg((player_ / "veri" / "arkaplan.jpg").c_str(), w, h, 3, px.data(), 95));

    EXPECT_EQ(run(screenshotEnv()), 0) << err_;
    EXPECT_EQ(err_.find("gorsel yuklenemedi: veri/arkaplan.jpg"), std::string::npos) << err_;
    for (const char* name :
         {"logo.png", "kutu.png", "alan_yazi.png", "buton_ana_normal.png", "buton_basili.png"})
        EXPECT_NE(err_.find(std::string("gorsel yuklenemedi: veri/") + name + "\n"), std::string::npos)
            << name;
    EXPECT_LT(err_.find("veri/logo.png"), err_.find("veri/kutu.png"));
    EXPECT_LT(err_.find("veri/buton_ana_basili.png"), err_.find("veri/buton_normal.png"));
    int sw = 0, sh = 0, n = 0;
    unsigned char* shot = stbi_load((root_ / "shot.png").c_str(), &sw, &sh, &n, 4);
    ASSERT_NE(shot, nullptr) << "no screenshot: " << err_;
    EXPECT_EQ(sw, 800);
    EXPECT_EQ(sh, 610);
    // (5, 200) is background only on the main screen.
    const unsigned char* p = shot + (200 * sw + 5) * 4;
    EXPECT_NEAR(p[0], 0x30, 6);
    EXPECT_NEAR(p[1], 0x60, 6);
    EXPECT_NEAR(p[2], 0xC0, 6);
    stbi_image_free(shot);
    EXPECT_TRUE(fs::is_empty(elsewhere_)) << "the folder it was started from is left alone";
}

TEST_F(LauncherRun, MissingEmptyCutOrForeignFontsAndNoDisplayEndWithTheirMessageAndExitCodeOne) {
    // No display: the message goes to standard error only (no dialog to wait for).
    const std::string fonts = "veri\\font klasoru eksik. Launcher'i veri klasoruyle birlikte calistir.\n";
    EXPECT_EQ(run("env -u DISPLAY " + screenshotEnv()), 1);
    EXPECT_NE(err_.find(fonts), std::string::npos) << err_;
    EXPECT_FALSE(fs::exists(root_ / "shot.png"));

    copyFonts();
    const fs::path body = player_ / "veri" / "font" / "EBGaramond-Regular.ttf";
    const std::string whole = readFile(body);
    // Empty, tables cut off, or a web server's error page saved under the font's name.
    for (const std::string& broken :
         {std::string(), whole.substr(0, 2000), std::string("<html>404 Not Found</html>")}) {
        std::ofstream(body, std::ios::binary | std::ios::trunc) << broken;
        EXPECT_EQ(run("env -u DISPLAY " + screenshotEnv()), 1) << broken.size() << " bytes: " << err_;
        EXPECT_NE(err_.find(fonts), std::string::npos) << broken.size() << " bytes: " << err_;
    }

    std::ofstream(body, std::ios::binary | std::ios::trunc) << whole;
    EXPECT_EQ(run("env -u DISPLAY -u WAYLAND_DISPLAY " + screenshotEnv()), 1);
    EXPECT_NE(err_.find("Pencere sistemi baslatilamadi.\n"), std::string::npos) << err_;
}

TEST_F(LauncherRun, StartupFailureWhileTheUpdateHangsStillExitsWithOne) {
    // The update server accepts the list request and then sends nothing: the worker is
    // still running (or at least not joined) when the fonts turn out to be missing.
    testsupport::TestServer server;
    server.route("/dosyalar.txt", testsupport::stall(std::string(1000, 'x'), 10));
    std::ofstream(player_ / "launcher.ini", std::ios::binary) << "guncelleme=" << server.baseUrl() << "\r\n";

    EXPECT_EQ(run("env -u DISPLAY " + screenshotEnv()), 1) << err_;
    EXPECT_NE(err_.find("veri\\font klasoru eksik."), std::string::npos) << err_;
    EXPECT_LE(server.requestCount("/dosyalar.txt"), 1); // the stop may come before the request
    server.releaseStalls();
}
