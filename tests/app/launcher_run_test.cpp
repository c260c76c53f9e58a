// The real launcher, copied into a scratch player folder and started from another working
// folder: it finds its files beside itself, reports missing images and keeps running, and
// ends with code 1 and its message without fonts and without a display. (Which font files
// count as broken: FontTest.) The MORLAKEN_SCREENSHOT hook makes a run draw a few frames,
// save a PNG and close.
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

TEST(LauncherRun, ReportsMissingImagesAndEndsWithCodeOneWithoutFontsOrDisplay) {
    TempFolder scratch;
    const fs::path root = scratch.path();
    const std::string shot = root / "shot.png", elsewhere = root / "baska";
    LauncherProcess launcher(root, LauncherProcess::Veri::None);
    fs::create_directories(launcher.player() / "veri/font");
    fs::create_directory(elsewhere);
    // Runs the launcher from `elsewhere` until its screenshot; its exit code.
    const auto run = [&](std::vector<std::string> unset) {
        return launcher.run({{"MORLAKEN_SCREENSHOT", shot},
                             {"MORLAKEN_SCREENSHOT_AFTER", "2"},
                             {"MORLAKEN_EXIT_AFTER_SCREENSHOT", "1"}},
                            std::move(unset), elsewhere);
    };

    // No fonts, while the update server took the list request and sends nothing: the worker
    // is still running (or at least not joined) when the fonts turn out to be missing.
    TestServer server;
    server.route("/dosyalar.txt", stall(std::string(1000, 'x'), 10));
    writeFile(launcher.player() / "launcher.ini", "guncelleme=" + server.baseUrl() + "\r\n");
    EXPECT_EQ(run({"DISPLAY"}), 1) << launcher.err(); // the message on standard error only
    EXPECT_NE(
        launcher.err().find("veri\\font klasoru eksik. Launcher'i veri klasoruyle birlikte calistir.\n"),
        std::string::npos)
        << launcher.err();
    EXPECT_LE(server.requestCount("/dosyalar.txt"), 1); // the stop may come before the request
    server.releaseStalls();
    fs::remove(launcher.player() / "launcher.ini");
    EXPECT_FALSE(fs::exists(shot));

    for (const char* f : {"Cinzel-Bold.ttf", "EBGaramond-Regular.ttf"})
        fs::copy_file(fs::path(MORLAKEN_SOURCE_DIR) / "veri/font" / f, launcher.player() / "veri/font" / f);
    EXPECT_EQ(run({"DISPLAY", "WAYLAND_DISPLAY"}), 1);
    EXPECT_NE(launcher.err().find("Pencere sistemi baslatilamadi.\n"), std::string::npos) << launcher.err();

    // The one image there (a flat colour for the background) is found, while every missing
    // one is reported in start-up order and the launcher keeps running, and draws.
    std::vector<unsigned char> px(64 * 48 * 3);
    for (size_t i = 0; i < px.size(); i += 3)
        px[i] = 0x30, px[i + 1] = 0x60, px[i + 2] = 0xC0;
    ASSERT_TRUE(stbi_write_jpg((launcher.player() / "veri/arkaplan.jpg").c_str(), 64, 48, 3, px.data(), 95));
    EXPECT_EQ(run({}), 0) << launcher.err();
    const std::string err = launcher.err();
    EXPECT_EQ(err.find("gorsel yuklenemedi: veri/arkaplan.jpg"), std::string::npos) << err;
    for (const char* name :
         {"logo.png", "kutu.png", "alan_yazi.png", "buton_ana_normal.png", "buton_basili.png"})
        EXPECT_NE(err.find(std::string("gorsel yuklenemedi: veri/") + name + "\n"), std::string::npos)
            << name;
    EXPECT_LT(err.find("veri/logo.png"), err.find("veri/kutu.png"));
    EXPECT_LT(err.find("veri/buton_ana_basili.png"), err.find("veri/buton_normal.png"));
    int sw = 0, sh = 0, n = 0;
    unsigned char* image = stbi_load(shot.c_str(), &sw, &sh, &n, 3);
    ASSERT_NE(image, nullptr) << "no screenshot: " << err;
    // (5, 200) is background only on the main screen.
    const unsigned char* p = image + (200 * sw + 5) * 3;
    EXPECT_TRUE(sw == 800 && sh == 610) << sw << " x " << sh;
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(p[c], (0x3060C0 >> (16 - 8 * c)) & 0xFF, 6) << c;
    stbi_image_free(image);
    EXPECT_TRUE(fs::is_empty(elsewhere)) << "the folder it was started from is left alone";
}

} // namespace
