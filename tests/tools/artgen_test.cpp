// artgen_test.cpp - the committed images in veri/ decode at the size the launcher draws them
// at, with the transparency and contrast the screens rely on; and artgen still paints
// exactly those images.
#include "support/child_process.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>
#include <stb_image.h>

#include <algorithm>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

// Decoded RGBA8 image; empty when the file is missing or not an image.
struct Image {
    int width = 0, height = 0;
    std::vector<uint8_t> px;
    const uint8_t* at(int x, int y) const { return &px[(static_cast<size_t>(y) * width + x) * 4]; }
};

Image load(const std::string& path) {
    Image img;
    int channels = 0;
    unsigned char* data = stbi_load(path.c_str(), &img.width, &img.height, &channels, 4);
    if (data) img.px.assign(data, data + static_cast<size_t>(img.width) * img.height * 4);
    stbi_image_free(data);
    return img;
}

Image veri(const std::string& name) {
    return load(std::string(MORLAKEN_SOURCE_DIR) + "/veri/" + name);
}

struct Rect {
    int x, y, w, h; // w 0: the whole image
};

// Mean brightness (0..1) of a rectangle, colour weighted by opacity, and its alpha range.
double meanLuma(const Image& img, Rect r, int* outAlphaLo = nullptr, int* outAlphaHi = nullptr) {
    if (r.w == 0) r = {0, 0, img.width, img.height};
    double sum = 0.0;
    int lo = 255, hi = 0;
    for (int y = r.y; y < r.y + r.h; ++y)
        for (int x = r.x; x < r.x + r.w; ++x) {
            const uint8_t* p = img.at(x, y);
            sum += (0.2126 * p[0] + 0.7152 * p[1] + 0.0722 * p[2]) * p[3] / (255.0 * 255.0);
            lo = std::min<int>(lo, p[3]), hi = std::max<int>(hi, p[3]);
        }
    if (outAlphaLo) *outAlphaLo = lo, *outAlphaHi = hi;
    return sum / (static_cast<double>(r.w) * r.h);
}

// The sizes at which the screens draw each image (the launcher's layout, not artgen's), and
// whether its corners are clear (a shaped image).
const struct {
    const char* name;
    int width, height;
    bool shaped;
} kImages[] = {{"arkaplan.jpg", 800, 610, false},
               {"logo.png", 320, 168, true},
               {"buton_kapat.png", 36, 36, true},
               {"kutu.png", 480, 330, false},
               {"afis.jpg", 346, 176, false},
               {"bar_cerceve.png", 420, 70, true},
               {"bar_dolgu.png", 316, 22, false},
               {"alan_yazi.png", 280, 50, true},
               {"onay_bos.png", 18, 18, true},
               {"onay_dolu.png", 18, 18, false},
               {"buton_ana_normal.png", 136, 45, true},
               {"buton_ana_hover.png", 136, 45, false},
               {"buton_ana_basili.png", 136, 45, false},
               {"buton_normal.png", 136, 32, true},
               {"buton_hover.png", 136, 32, false},
               {"buton_basili.png", 136, 32, false},
               {"kapanis.jpg", 1280, 640, false}};

// Every committed image decodes at its drawn size, a shaped one with clear corners, and artgen
// (where it is built) still paints exactly it and refuses bad arguments.
TEST(ArtgenImages, EveryImageDecodesAtItsDrawnSizeAndArtgenRepaintsIt) {
    const std::string program = testsupport::builtProgram("artgen");
    const std::string fonts = std::string(MORLAKEN_SOURCE_DIR) + "/veri/font";
    const bool built = fs::exists(program);
    testsupport::TempFolder out;
    std::string text;
    if (built) {
        ASSERT_EQ(testsupport::runProgram(program, {out.path(), fonts}, text, 240), 0) << text;
    }
    size_t total = 0;
    for (const auto& e : kImages) {
        SCOPED_TRACE(e.name);
        Image img = veri(e.name);
        ASSERT_EQ(img.width, e.width) << "missing, undecodable or of another size";
        EXPECT_EQ(img.height, e.height);
        total += fs::file_size(std::string(MORLAKEN_SOURCE_DIR) + "/veri/" + e.name);
        for (auto [x, y] :
             {std::pair{0, 0}, {e.width - 1, 0}, {0, e.height - 1}, {e.width - 1, e.height - 1}})
            EXPECT_TRUE(!e.shaped || img.at(x, y)[3] == 0) << x << "," << y;
        if (!built) continue;
        Image fresh = load(out / e.name);
        ASSERT_EQ(fresh.px.size(), img.px.size());
        ASSERT_EQ(fresh.width, img.width);
        // A step of rounding for floating-point differences between builds; a painter change
        // that was not committed as images shows far larger differences.
        size_t differing = 0;
        for (size_t i = 0; i < fresh.px.size(); ++i)
            differing += std::abs(fresh.px[i] - img.px[i]) > 2;
        EXPECT_LE(differing, fresh.px.size() / 1000);
    }
    EXPECT_LT(total, 1536u * 1024u) << "the images travel through every update";
    if (!built) GTEST_SKIP() << "artgen is not built in this tree";
    EXPECT_EQ(testsupport::runProgram(program, {}, text, 30), 2);
    // No fonts in the given folder: a clear failure, and no half set of images.
    EXPECT_EQ(testsupport::runProgram(program, {out / "veri", out / "nofonts"}, text, 30), 1);
    EXPECT_FALSE(fs::exists(out / "veri/logo.png"));
    testsupport::writeFile(out / "blocked", "x"); // a file where the output folder should be
    EXPECT_EQ(testsupport::runProgram(program, {out / "blocked", fonts}, text, 30), 1);
}

// Where the screens draw over, under or inside an image: its opacity and brightness there,
// and where states must be told apart or text areas be calmer than their picture: brighter
// than `factor` times another rectangle's brightness, plus `margin`.
TEST(ArtgenImages, OpacityAndBrightnessWhereTheScreensRelyOnThem) {
    const struct {
        const char* name;
        const char* why;
        Rect r;
        int alphaLo, alphaHi;  // every alpha of the rectangle lies in [lo, hi]
        double lumaLo, lumaHi; // and its mean brightness in [lo, hi]
        const char* than = nullptr;
        Rect thanRect = {};
        double factor = 1, margin = 0;
    } cases[] = {
        {"buton_kapat.png", "the disc's centre is solid", {18, 18, 1, 1}, 240, 255, 0, 1},
        {"buton_kapat.png", "the ring at the top", {18, 2, 1, 1}, 200, 255, 0, 1},
        // The fill is drawn at (52, 24, 316 x 22) and the frame over it.
        {"bar_cerceve.png", "the fill shows through", {56, 30, 308, 12}, 0, 8, 0, 1},
        {"bar_cerceve.png", "no opaque edge over the fill", {52, 24, 316, 22}, 0, 159, 0, 1},
        {"bar_cerceve.png", "solid frame above", {210, 20, 1, 1}, 255, 255, 0, 1},
        {"bar_cerceve.png", "solid frame below", {210, 49, 1, 1}, 255, 255, 0, 1},
        {"bar_cerceve.png", "solid frame left", {48, 35, 1, 1}, 255, 255, 0, 1},
        {"bar_cerceve.png", "solid frame right", {371, 35, 1, 1}, 255, 255, 0, 1},
        {"bar_dolgu.png", "opaque and bright fill", {0, 0, 316, 22}, 255, 255, 0.45, 1},
        // Nearly opaque, so the banner does not show through a dialog; a dark interior.
        {"kutu.png", "translucent centre", {240, 165, 1, 1}, 243, 254, 0, 1},
        {"kutu.png", "dark interior", {40, 40, 400, 250}, 0, 255, 0, 0.12},
        {"kutu.png", "top band", {240, 4, 1, 1}, 255, 255, 0, 1},
        {"kutu.png", "left band", {3, 165, 1, 1}, 255, 255, 0, 1},
        {"kutu.png", "right band", {476, 165, 1, 1}, 255, 255, 0, 1},
        // The launcher writes light text into (36..248, 13..39).
        {"alan_yazi.png", "text area start", {36, 13, 1, 1}, 200, 255, 0, 1},
        {"alan_yazi.png", "text area end", {247, 38, 1, 1}, 200, 255, 0, 1},
        {"alan_yazi.png", "dark text area", {36, 13, 212, 26}, 0, 255, 0, 0.1},
        // Dark where the headlines, status, bar, buttons and logo go, and along the bottom.
        {"arkaplan.jpg", "right side", {350, 340, 430, 260}, 0, 255, 0, 0.12},
        {"arkaplan.jpg", "logo corner", {14, 416, 320, 168}, 0, 255, 0, 0.10},
        {"arkaplan.jpg", "bottom edge", {0, 600, 800, 10}, 0, 255, 0, 0.05},
        {"kapanis.jpg", "under the logo at (850, 401)", {850, 401, 360, 150}, 0, 255, 0, 0.12},
        // States told apart; text areas calmer than the picture around them.
        {"buton_ana_hover.png", "hover", {}, 0, 255, 0, 1, "buton_ana_normal.png", {}, 1.15},
        {"buton_ana_normal.png", "pressed", {}, 0, 255, 0, 1, "buton_ana_basili.png", {}, 1 / 0.85},
        {"buton_hover.png", "hover", {}, 0, 255, 0, 1, "buton_normal.png", {}, 1.15},
        {"buton_normal.png", "pressed", {}, 0, 255, 0, 1, "buton_basili.png", {}, 1 / 0.85},
        {"onay_dolu.png", "ticked", {4, 4, 10, 10}, 0, 255, 0, 1, "onay_bos.png", {4, 4, 10, 10}, 1, 0.15},
        {"arkaplan.jpg", "calm right side", {}, 0, 255, 0, 1, "arkaplan.jpg", {350, 340, 430, 260}},
        {"afis.jpg", "calm title band", {0, 0, 346, 140}, 0, 255, 0, 1, "afis.jpg", {0, 140, 346, 36}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + ": " + c.why);
        Image img = veri(c.name);
        ASSERT_FALSE(img.px.empty());
        int lo = 0, hi = 0;
        const double luma = meanLuma(img, c.r, &lo, &hi);
        EXPECT_GE(lo, c.alphaLo);
        EXPECT_LE(hi, c.alphaHi);
        EXPECT_GE(luma, c.lumaLo);
        EXPECT_LE(luma, c.lumaHi);
        if (!c.than) continue;
        Image other = veri(c.than);
        ASSERT_FALSE(other.px.empty());
        EXPECT_GT(luma, meanLuma(other, c.thanRect) * c.factor + c.margin) << c.than;
    }
    // A picture, not a flat fill: the sky holds bright things (stars, moon).
    Image bg = veri("arkaplan.jpg");
    ASSERT_EQ(bg.width, 800);
    int bright = 0;
    for (int y = 0; y < 300; ++y)
        for (int x = 0; x < 800; ++x)
            bright += bg.at(x, y)[0] > 200 && bg.at(x, y)[1] > 200;
    EXPECT_GT(bright, 200);
}

} // namespace
