// The real launcher, copied into a scratch player folder and started from another working
// folder: it finds its files beside itself, reports missing images and keeps running,
// and ends with code 1 and its message on missing, empty, cut or foreign fonts and without
// a display. The MORLAKEN_SCREENSHOT hook makes a run draw a few frames, save a PNG and close.
#include "app/launcher_process.h"
#include "support/test_server.h"

#include <gtest/gtest.h>
#include <stb_image.h>
#include <stb_image_write.h>

#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

class LauncherRun : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(launcher_.player() / "veri/font");
        fs::create_directory(elsewhere_);
    }
    void copyFonts() {
        for (const char* f : {"Cinzel-Bold.ttf", "EBGaramond-Regular.ttf"})
            fs::copy_file(fs::path(MORLAKEN_SOURCE_DIR) / "veri/font" / f,
                          launcher_.player() / "veri/font" / f);
    }
    // Runs the launcher from `elsewhere_` until its screenshot; its exit code.
    int run(std::vector<std::string> unset = {}) {
        return launcher_.run({{"MORLAKEN_SCREENSHOT", shot_},
                              {"MORLAKEN_SCREENSHOT_AFTER", "2"},
                              {"MORLAKEN_EXIT_AFTER_SCREENSHOT", "1"}},
                             std::move(unset), elsewhere_);
    }
    TempFolder scratch_;
    const fs::path root_{scratch_.path()};
    const std::string shot_ = root_ / "shot.png", elsewhere_ = root_ / "baska";
    LauncherProcess launcher_{root_, LauncherProcess::Veri::None};
};

// The one image there (a flat colour for the background) is found, while every missing
// one is reported in start-up order and the launcher keeps running, and draws.
TEST_F(LauncherRun, FindsItsFilesBesideTheExecutableAndReportsTheMissingImages) {
    copyFonts();
    const int w = 64, h = 48;
    std::vector<unsigned char> px(static_cast<size_t>(w) * h * 3);
    for (size_t i = 0; i < px.size(); i += 3)
        px[i] = 0x30, px[i + 1] = 0x60, px[i + 2] = 0xC0;
    ASSERT_TRUE(stbi_write_jpg((launcher_.player() / "veri/arkaplan.jpg").c_str(), w, h, 3, px.data(), 95));

    EXPECT_EQ(run(), 0) << launcher_.err();
    const std::string err = launcher_.err();
    EXPECT_EQ(err.find("gorsel yuklenemedi: veri/arkaplan.jpg"), std::string::npos) << err;
    for (const char* name :
         {"logo.png", "kutu.png", "alan_yazi.png", "buton_ana_normal.png", "buton_basili.png"})
        EXPECT_NE(err.find(std::string("gorsel yuklenemedi: veri/") + name + "\n"), std::string::npos)
            << name;
    EXPECT_LT(err.find("veri/logo.png"), err.find("veri/kutu.png"));
    EXPECT_LT(err.find("veri/buton_ana_basili.png"), err.find("veri/buton_normal.png"));
    int sw = 0, sh = 0, n = 0;
    unsigned char* shot = stbi_load(shot_.c_str(), &sw, &sh, &n, 4);
    ASSERT_NE(shot, nullptr) << "no screenshot: " << err;
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
    // No fonts, while the update server took the list request and sends nothing: the worker
    // is still running (or at least not joined) when the fonts turn out to be missing.
    TestServer server;
    server.route("/dosyalar.txt", stall(std::string(1000, 'x'), 10));
    writeFile(launcher_.player() / "launcher.ini", "guncelleme=" + server.baseUrl() + "\r\n");
    const std::string fonts = "veri\\font klasoru eksik. Launcher'i veri klasoruyle birlikte calistir.\n";
    EXPECT_EQ(run({"DISPLAY"}), 1) << launcher_.err(); // the message on standard error only
    EXPECT_NE(launcher_.err().find(fonts), std::string::npos) << launcher_.err();
    EXPECT_LE(server.requestCount("/dosyalar.txt"), 1); // the stop may come before the request
    server.releaseStalls();
    fs::remove(launcher_.player() / "launcher.ini");
    EXPECT_FALSE(fs::exists(shot_));

    copyFonts();
    const fs::path body = launcher_.player() / "veri/font/EBGaramond-Regular.ttf";
    const std::string whole = readFile(body);
    // Empty, tables cut off, or a web server's error page saved under the font's name.
    for (const std::string& broken :
         {std::string(), whole.substr(0, 2000), std::string("<html>404</html>")}) {
        writeFile(body, broken);
        EXPECT_EQ(run({"DISPLAY"}), 1) << broken.size() << " bytes: " << launcher_.err();
        EXPECT_NE(launcher_.err().find(fonts), std::string::npos) << broken.size() << " bytes";
    }
    writeFile(body, whole);
    EXPECT_EQ(run({"DISPLAY", "WAYLAND_DISPLAY"}), 1);
    EXPECT_NE(launcher_.err().find("Pencere sistemi baslatilamadi.\n"), std::string::npos) << launcher_.err();
}

} // namespace
