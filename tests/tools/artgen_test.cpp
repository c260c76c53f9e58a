// artgen_test.cpp - the committed images in veri/: each one is there, decodes, has the
// size the launcher draws it at, and has the transparency and contrast the screens rely
// on; and artgen still paints exactly those images.
#include "support/child_process.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>
#include <stb_image.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Decoded RGBA8 image; empty when the file is missing or not an image.
struct Image {
    int width = 0, height = 0;
    std::vector<uint8_t> px;
    bool empty() const { return px.empty(); }
    const uint8_t* at(int x, int y) const { return &px[(static_cast<size_t>(y) * width + x) * 4]; }
    int alpha(int x, int y) const { return at(x, y)[3]; }
};

Image load(const std::string& path) {
    Image img;
    int channels = 0;
    unsigned char* data = stbi_load(path.c_str(), &img.width, &img.height, &channels, 4);
    if (!data) return img;
    img.px.assign(data, data + static_cast<size_t>(img.width) * img.height * 4);
    stbi_image_free(data);
    return img;
}

std::string veri(const std::string& name) {
    return std::string(MORLAKEN_SOURCE_DIR) + "/veri/" + name;
}

// Mean brightness (0..1) of a rectangle, colour weighted by opacity.
double meanLuma(const Image& img, int x0, int y0, int w, int h) {
    double sum = 0.0;
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x) {
            const uint8_t* p = img.at(x, y);
            sum += (0.2126 * p[0] + 0.7152 * p[1] + 0.0722 * p[2]) * p[3] / (255.0 * 255.0);
        }
    return sum / (static_cast<double>(w) * h);
}

// Lowest and highest alpha of a rectangle.
std::pair<int, int> alphaRange(const Image& img, int x0, int y0, int w, int h) {
    int lo = 255, hi = 0;
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x)
            lo = std::min(lo, img.alpha(x, y)), hi = std::max(hi, img.alpha(x, y));
    return {lo, hi};
}

struct Expected {
    const char* name;
    int width, height;
};

// The sizes at which the screens draw each image (the launcher's layout, not artgen's).
const Expected kImages[] = {
    {"arkaplan.jpg", 800, 610},
    {"logo.png", 320, 168},
    {"buton_kapat.png", 36, 36},
    {"kutu.png", 480, 330},
    {"afis.jpg", 346, 176},
    {"bar_cerceve.png", 420, 70},
    {"bar_dolgu.png", 316, 22},
    {"alan_yazi.png", 280, 50},
    {"onay_bos.png", 18, 18},
    {"onay_dolu.png", 18, 18},
    {"buton_ana_normal.png", 136, 45},
    {"buton_ana_hover.png", 136, 45},
    {"buton_ana_basili.png", 136, 45},
    {"buton_normal.png", 136, 32},
    {"buton_hover.png", 136, 32},
    {"buton_basili.png", 136, 32},
    {"kapanis.jpg", 1280, 640},
};

// ---- presence and size ----

TEST(ArtgenImages, EveryImageDecodesAtItsDrawnSize) {
    size_t total = 0;
    for (const Expected& e : kImages) {
        SCOPED_TRACE(e.name);
        Image img = load(veri(e.name));
        ASSERT_FALSE(img.empty()) << "missing or undecodable: " << veri(e.name);
        EXPECT_EQ(img.width, e.width);
        EXPECT_EQ(img.height, e.height);
        total += fs::file_size(veri(e.name));
    }
    // The images ship with the launcher and travel through every update.
    EXPECT_LT(total, 1536u * 1024u);
}

// ---- transparency and contrast the screens rely on ----

TEST(ArtgenImages, ShapedImagesAreClearOutsideTheirShape) {
    for (const char* name : {"buton_kapat.png", "logo.png", "alan_yazi.png", "buton_ana_normal.png",
                             "buton_normal.png", "onay_bos.png", "bar_cerceve.png"}) {
        SCOPED_TRACE(name);
        Image img = load(veri(name));
        ASSERT_FALSE(img.empty());
        for (auto [x, y] :
             {std::pair{0, 0}, {img.width - 1, 0}, {0, img.height - 1}, {img.width - 1, img.height - 1}})
            EXPECT_EQ(img.alpha(x, y), 0) << x << "," << y;
    }
}

// Where the screens draw over, under or inside an image: its opacity and brightness there.
TEST(ArtgenImages, OpacityAndBrightnessWhereTheScreensRelyOnThem) {
    const struct {
        const char* name;
        const char* why;
        int x, y, w, h;
        int alphaLo, alphaHi;  // every alpha of the rectangle lies in [lo, hi]
        double lumaLo, lumaHi; // and its mean brightness in [lo, hi]
    } cases[] = {
        {"buton_kapat.png", "the disc's centre is solid", 18, 18, 1, 1, 240, 255, 0, 1},
        {"buton_kapat.png", "the ring at the top", 18, 2, 1, 1, 200, 255, 0, 1},
        // The fill is drawn at (52, 24, 316 x 22) and the frame over it: away from the
        // window's rim nothing may hide it, at the rim only a soft inner shadow.
        {"bar_cerceve.png", "the fill shows through", 56, 30, 308, 12, 0, 8, 0, 1},
        {"bar_cerceve.png", "no opaque edge over the fill", 52, 24, 316, 22, 0, 159, 0, 1},
        {"bar_cerceve.png", "solid frame above", 210, 20, 1, 1, 255, 255, 0, 1},
        {"bar_cerceve.png", "solid frame below", 210, 49, 1, 1, 255, 255, 0, 1},
        {"bar_cerceve.png", "solid frame left", 48, 35, 1, 1, 255, 255, 0, 1},
        {"bar_cerceve.png", "solid frame right", 371, 35, 1, 1, 255, 255, 0, 1},
        // Revealed from the left by clipping: opaque everywhere, bright against the trough.
        {"bar_dolgu.png", "opaque and bright fill", 0, 0, 316, 22, 255, 255, 0.45, 1},
        // Nearly opaque, so the bright banner does not show through a dialog; parchment text
        // needs a dark interior.
        {"kutu.png", "translucent centre", 240, 165, 1, 1, 243, 254, 0, 1},
        {"kutu.png", "dark interior", 40, 40, 400, 250, 0, 255, 0, 0.12},
        {"kutu.png", "top band", 240, 4, 1, 1, 255, 255, 0, 1},
        {"kutu.png", "left band", 3, 165, 1, 1, 255, 255, 0, 1},
        {"kutu.png", "right band", 476, 165, 1, 1, 255, 255, 0, 1},
        // The launcher writes light text into (36..248, 13..39).
        {"alan_yazi.png", "text area start", 36, 13, 1, 1, 200, 255, 0, 1},
        {"alan_yazi.png", "text area end", 247, 38, 1, 1, 200, 255, 0, 1},
        {"alan_yazi.png", "dark text area", 36, 13, 212, 26, 0, 255, 0, 0.1},
        // The background is dark where the headlines, status, bar and buttons go, under the
        // logo and along the bottom edge (fading to 0x050609).
        {"arkaplan.jpg", "right side", 350, 340, 430, 260, 0, 255, 0, 0.12},
        {"arkaplan.jpg", "logo corner", 14, 416, 320, 168, 0, 255, 0, 0.10},
        {"arkaplan.jpg", "bottom edge", 0, 600, 800, 10, 0, 255, 0, 0.05},
        // The closing screen draws the logo at (850, 401, 360 x 189).
        {"kapanis.jpg", "under the logo", 850, 401, 360, 150, 0, 255, 0, 0.12},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + ": " + c.why);
        Image img = load(veri(c.name));
        ASSERT_FALSE(img.empty());
        auto [lo, hi] = alphaRange(img, c.x, c.y, c.w, c.h);
        EXPECT_GE(lo, c.alphaLo);
        EXPECT_LE(hi, c.alphaHi);
        const double luma = meanLuma(img, c.x, c.y, c.w, c.h);
        EXPECT_GE(luma, c.lumaLo);
        EXPECT_LE(luma, c.lumaHi);
    }
}

// ---- states are told apart ----

TEST(ArtgenImages, ButtonStatesDifferVisibly) {
    for (const char* set : {"buton_ana_", "buton_"}) {
        SCOPED_TRACE(set);
        Image normal = load(veri(std::string(set) + "normal.png"));
        Image hover = load(veri(std::string(set) + "hover.png"));
        Image pressed = load(veri(std::string(set) + "basili.png"));
        ASSERT_FALSE(normal.empty() || hover.empty() || pressed.empty());
        double n = meanLuma(normal, 0, 0, normal.width, normal.height);
        double h = meanLuma(hover, 0, 0, hover.width, hover.height);
        double p = meanLuma(pressed, 0, 0, pressed.width, pressed.height);
        EXPECT_GT(h, n * 1.15) << "hover must be clearly brighter";
        EXPECT_LT(p, n * 0.85) << "pressed must be clearly darker";
    }
    Image empty = load(veri("onay_bos.png"));
    Image checked = load(veri("onay_dolu.png"));
    ASSERT_FALSE(empty.empty() || checked.empty());
    // The check mark lights up the box's middle.
    EXPECT_GT(meanLuma(checked, 4, 4, 10, 10), meanLuma(empty, 4, 4, 10, 10) + 0.15);
}

TEST(ArtgenImages, ScenesArePicturesWithCalmTextAreas) {
    Image bg = load(veri("arkaplan.jpg"));
    ASSERT_FALSE(bg.empty());
    EXPECT_LT(meanLuma(bg, 350, 340, 430, 260), meanLuma(bg, 0, 0, 800, 610));
    // A picture, not a flat fill: the sky holds bright things (stars, moon).
    int bright = 0;
    for (int y = 0; y < 300; ++y)
        for (int x = 0; x < 800; ++x)
            if (bg.at(x, y)[0] > 200 && bg.at(x, y)[1] > 200) ++bright;
    EXPECT_GT(bright, 200);

    Image banner = load(veri("afis.jpg"));
    ASSERT_FALSE(banner.empty());
    // The caption band over the bottom 36 px carries light text.
    EXPECT_LT(meanLuma(banner, 0, 140, 346, 36), meanLuma(banner, 0, 0, 346, 140));
}

// ---- the painter and the committed images agree ----

TEST(ArtgenProgram, RepaintsTheCommittedImages) {
    const std::string program = testsupport::builtProgram("artgen");
    if (!fs::exists(program)) GTEST_SKIP() << "artgen is not built in this tree";
    testsupport::TempFolder out;
    std::string stdoutText;
    int code = testsupport::runProgram(program, {out.path(), std::string(MORLAKEN_SOURCE_DIR) + "/veri/font"},
                                       stdoutText, 240);
    ASSERT_EQ(code, 0) << stdoutText;
    for (const Expected& e : kImages) {
        SCOPED_TRACE(e.name);
        Image fresh = load(out / e.name);
        Image committed = load(veri(e.name));
        ASSERT_FALSE(fresh.empty());
        ASSERT_FALSE(committed.empty());
        ASSERT_EQ(fresh.width, committed.width);
        ASSERT_EQ(fresh.height, committed.height);
        // Allow a step of rounding for floating-point differences between builds; a
        // painter change that was not committed as images shows far larger differences.
        int worst = 0;
        size_t differing = 0;
        for (size_t i = 0; i < fresh.px.size(); ++i) {
            int d = std::abs(static_cast<int>(fresh.px[i]) - static_cast<int>(committed.px[i]));
            worst = std::max(worst, d);
            if (d > 2) ++differing;
        }
        EXPECT_LE(differing, fresh.px.size() / 1000) << "largest difference " << worst;
    }
}

TEST(ArtgenProgram, RefusesBadArgumentsAndMissingFonts) {
    const std::string program = testsupport::builtProgram("artgen");
    if (!fs::exists(program)) GTEST_SKIP() << "artgen is not built in this tree";
    std::string text;
    EXPECT_EQ(testsupport::runProgram(program, {}, text, 30), 2);
    testsupport::TempFolder out;
    // No fonts in the given folder: a clear failure, and no half set of images.
    EXPECT_EQ(testsupport::runProgram(program, {out / "veri", out / "nofonts"}, text, 30), 1);
    EXPECT_FALSE(fs::exists(out / "veri/logo.png"));
    // A file where the output folder should be.
    testsupport::writeFile(out / "blocked", "x");
    EXPECT_EQ(testsupport::runProgram(
                  program, {out / "blocked", std::string(MORLAKEN_SOURCE_DIR) + "/veri/font"}, text, 30),
              1);
}

} // namespace
