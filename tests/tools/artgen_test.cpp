// artgen_test.cpp - the committed images in veri/: each one is there, decodes, has the
// size the launcher draws it at, and has the transparency and contrast the screens rely
// on; and artgen still paints exactly those images.
#include "support/child_process.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wall"
#pragma GCC diagnostic ignored "-Wextra"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-function"
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#include <stb_image.h>
#pragma GCC diagnostic pop

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

int maxAlpha(const Image& img, int x0, int y0, int w, int h) {
    int m = 0;
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x)
            m = std::max(m, img.alpha(x, y));
    return m;
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

// ---- transparency the screens rely on ----

TEST(ArtgenImages, ShapedImagesAreClearOutsideTheirShape) {
    for (const char* name : {"buton_kapat.png", "logo.png", "alan_yazi.png", "buton_ana_normal.png",
                             "buton_normal.png", "onay_bos.png", "bar_cerceve.png"}) {
        SCOPED_TRACE(name);
        Image img = load(veri(name));
        ASSERT_FALSE(img.empty());
        EXPECT_EQ(img.alpha(0, 0), 0);
        EXPECT_EQ(img.alpha(img.width - 1, img.height - 1), 0);
        EXPECT_EQ(img.alpha(img.width - 1, 0), 0);
        EXPECT_EQ(img.alpha(0, img.height - 1), 0);
    }
    // The close button is a disc: its centre is solid, its corners clear.
    Image close = load(veri("buton_kapat.png"));
    ASSERT_FALSE(close.empty());
    EXPECT_GE(close.alpha(18, 18), 240);
    EXPECT_GE(close.alpha(18, 2), 200); // the ring at the top
}

TEST(ArtgenImages, BarFrameLetsTheFillShowThrough) {
    Image frame = load(veri("bar_cerceve.png"));
    ASSERT_FALSE(frame.empty());
    // The fill is drawn at (52, 24, 316 x 22) inside the frame and the frame goes over it:
    // away from the window's rim nothing may hide it.
    EXPECT_LE(maxAlpha(frame, 56, 30, 308, 12), 8);
    // Only a soft inner shadow at the rim, never an opaque edge over the fill.
    EXPECT_LT(maxAlpha(frame, 52, 24, 316, 22), 160);
    // Around the window the frame itself is solid.
    EXPECT_EQ(frame.alpha(210, 20), 255);
    EXPECT_EQ(frame.alpha(210, 49), 255);
    EXPECT_EQ(frame.alpha(48, 35), 255);
    EXPECT_EQ(frame.alpha(371, 35), 255);

    Image fill = load(veri("bar_dolgu.png"));
    ASSERT_FALSE(fill.empty());
    EXPECT_EQ(maxAlpha(fill, 0, 0, 316, 22), 255);
    // Revealed from the left by clipping: it must be opaque everywhere, bright enough to
    // read against the dark trough.
    for (int y = 0; y < 22; ++y)
        for (int x = 0; x < 316; ++x)
            ASSERT_EQ(fill.alpha(x, y), 255) << x << "," << y;
    EXPECT_GT(meanLuma(fill, 0, 0, 316, 22), 0.45);
}

TEST(ArtgenImages, PanelIsTranslucentInsideAndSolidOnItsFrame) {
    Image panel = load(veri("kutu.png"));
    ASSERT_FALSE(panel.empty());
    int centre = panel.alpha(240, 165);
    // Nearly opaque, so the bright banner does not show through a dialog drawn over it.
    EXPECT_GE(centre, static_cast<int>(0.95 * 255));
    EXPECT_LT(centre, 255);
    EXPECT_EQ(panel.alpha(240, 4), 255);   // top band
    EXPECT_EQ(panel.alpha(3, 165), 255);   // left band
    EXPECT_EQ(panel.alpha(476, 165), 255); // right band
    // Text is parchment on this panel: its interior must stay dark.
    EXPECT_LT(meanLuma(panel, 40, 40, 400, 250), 0.12);
}

TEST(ArtgenImages, TextFieldLeavesItsTextAreaDark) {
    Image field = load(veri("alan_yazi.png"));
    ASSERT_FALSE(field.empty());
    // The launcher writes light text into (36..248, 13..39).
    EXPECT_GE(field.alpha(36, 13), 200);
    EXPECT_GE(field.alpha(247, 38), 200);
    EXPECT_LT(meanLuma(field, 36, 13, 212, 26), 0.1);
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

// ---- the scenes keep the busy parts of the screen calm ----

TEST(ArtgenImages, BackgroundIsDarkWhereTheScreenDrawsOverIt) {
    Image bg = load(veri("arkaplan.jpg"));
    ASSERT_FALSE(bg.empty());
    double whole = meanLuma(bg, 0, 0, 800, 610);
    double rightSide = meanLuma(bg, 350, 340, 430, 260); // headlines, status, bar, buttons
    double logoCorner = meanLuma(bg, 14, 416, 320, 168);
    EXPECT_LT(rightSide, 0.12);
    EXPECT_LT(logoCorner, 0.10);
    EXPECT_LT(rightSide, whole);
    // The bottom edge fades to near black (0x050609).
    EXPECT_LT(meanLuma(bg, 0, 600, 800, 10), 0.05);
    // Yet it is a picture, not a flat fill: the sky holds bright things (stars, moon).
    int bright = 0;
    for (int y = 0; y < 300; ++y)
        for (int x = 0; x < 800; ++x)
            if (bg.at(x, y)[0] > 200 && bg.at(x, y)[1] > 200) ++bright;
    EXPECT_GT(bright, 200);

    Image closing = load(veri("kapanis.jpg"));
    ASSERT_FALSE(closing.empty());
    // The closing screen draws the logo at (850, 401, 360 x 189).
    EXPECT_LT(meanLuma(closing, 850, 401, 360, 150), 0.12);

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
