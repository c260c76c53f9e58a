// Images, the mipmap chain, premultiplication, filled rectangles and clipping.
#include "gfx/texture.h"
#include "gl_window.h"
#include "support/temp_folder.h"

#include <stb_image_write.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace fs = std::filesystem;

// ---- premultiplication (no GL) ----

TEST(Premultiply, ScalesColourByAlphaTruncatingAndKeepsAlpha) {
    std::vector<uint8_t> px = {
        255, 255, 255, 0,   // fully transparent white -> black, alpha 0
        200, 100, 50,  128, // 200*128/255 = 100.39, 100*128/255 = 50.19, 50*128/255 = 25.09
        10,  20,  30,  255, // opaque: unchanged
        1,   1,   1,   254, // 254/255 truncates to 0, it does not round to 1
    };
    premultiplyAlpha(px.data(), 2, 2);
    const std::vector<uint8_t> want = {0, 0, 0, 0, 100, 50, 25, 128, 10, 20, 30, 255, 0, 0, 0, 254};
    EXPECT_EQ(px, want);
    premultiplyAlpha(px.data(), 0, 1); // an empty image is left alone
    premultiplyAlpha(px.data(), 1, -3);
    premultiplyAlpha(nullptr, 4, 4);
    EXPECT_EQ(px, want);
}

// ---- mipmap chain (no GL) ----

TEST(MipChain, EachLevelHalvesWithA2x2BoxClampedAtTheEdgesDownToOnePixel) {
    // 5 x 3 -> 2 x 1 -> 1 x 1. Channel r holds the pixel number x 10; g, b, a are constant.
    std::vector<uint8_t> px;
    for (int i = 0; i < 15; ++i)
        px.insert(px.end(), {uint8_t(i * 10), 7, 0, 255});
    auto chain = buildMipChain(px.data(), 5, 3);
    ASSERT_EQ(chain.size(), 3u);
    // Level 1: columns 0,1 rows 0,1 -> (0+10+50+60+2)/4 = 30; columns 2,3 -> (20+30+70+80+2)/4
    // = 50 (column 4 and row 2 are not read); level 2: row 1 clamps to row 0 -> 40.
    EXPECT_EQ(chain[1].rgba, (std::vector<uint8_t>{30, 7, 0, 255, 50, 7, 0, 255}));
    EXPECT_EQ(chain[2].rgba[0], 40);
    // 1 x 4 -> 1 x 2 -> 1 x 1: column 1 clamps to column 0.
    const std::vector<uint8_t> column = {0, 0, 0, 0, 100, 0, 0, 0, 201, 0, 0, 0, 3, 0, 0, 0};
    chain = buildMipChain(column.data(), 1, 4);
    ASSERT_EQ(chain.size(), 3u);
    EXPECT_EQ(chain[1].height, 2);
    EXPECT_EQ(chain[1].rgba[0], 50);  // (0+0+100+100+2)/4
    EXPECT_EQ(chain[1].rgba[4], 102); // (201+201+3+3+2)/4
    EXPECT_EQ(chain[2].rgba[0], 76);  // (50+50+102+102+2)/4
    // 7 x 300: 300 -> 150 -> 75 -> 37 -> 18 -> 9 -> 4 -> 2 -> 1, nine levels; 7 -> 3 -> 1 -> 1.
    const std::vector<uint8_t> tall(static_cast<size_t>(7) * 300 * 4, 9);
    chain = buildMipChain(tall.data(), 7, 300);
    ASSERT_EQ(chain.size(), 9u);
    EXPECT_EQ(chain[1].width, 3);
    EXPECT_EQ(chain[2].width, 1);
    EXPECT_EQ(chain[3].height, 37);
    EXPECT_EQ(chain.back().rgba, (std::vector<uint8_t>{9, 9, 9, 9}));
    EXPECT_EQ(buildMipChain(tall.data(), 1, 1).size(), 1u); // one pixel: one level
    EXPECT_TRUE(buildMipChain(tall.data(), 0, 3).empty());
    EXPECT_TRUE(buildMipChain(nullptr, 2, 2).empty());
}

TEST(MipChain, BoxFilterRoundsToNearestWithoutOverflow) {
    auto one = [](uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
        const std::vector<uint8_t> px = {a, a, a, a, b, b, b, b, c, c, c, c, d, d, d, d};
        return buildMipChain(px.data(), 2, 2).back().rgba[0];
    };
    // 3/4 up, 1/4 down, 2/4 and 6/4 halves up, sums wider than a byte.
    for (auto [a, b, c, d, want] : {std::array<int, 5>{0, 1, 1, 1, 1},
                                    {0, 0, 0, 1, 0},
                                    {0, 0, 1, 1, 1},
                                    {1, 1, 2, 2, 2},
                                    {255, 255, 255, 255, 255},
                                    {255, 255, 255, 254, 255}})
        EXPECT_EQ(one(uint8_t(a), uint8_t(b), uint8_t(c), uint8_t(d)), want) << a << b << c << d;
}

// ---- scissor box (no GL) ----

TEST(ScissorBox, ScaledOutwardToWholePixelsWithYFlipped) {
    struct Case {
        Rect r;
        float scale;
        std::array<int, 4> want;
    };
    for (const Case& c : {
             Case{{10, 20, 101, 31},
                  1.5f,
                  {15, 838, 152, 47}}, // y: floor((610 - 20 - 31) * 1.5) = floor(838.5)
             Case{{10, 20, 101, 31}, 1.0f, {10, 559, 101, 31}},
             Case{{0.5f, 0.5f, 10.25f, 10.5f}, 1.0f, {0, 599, 11, 11}}, // y: floor(610 - 0.5 - 10.5)
             Case{{0, 0, 800, 610}, 2.0f, {0, 0, 1600, 1220}},          // whole window at scale 2
         }) {
        const ScissorBox b = scissorBox(c.r, c.scale, 610);
        EXPECT_EQ((std::array<int, 4>{b.x, b.y, b.width, b.height}), c.want) << c.r.x << " @" << c.scale;
    }
}

// ---- loading and drawing (GL) ----

namespace {
// A scratch game folder with a veri/ image folder; the working folder moves into it.
struct ImageFolder {
    testsupport::TempFolder root;
    fs::path previous = fs::current_path();
    ImageFolder() { fs::current_path(root.path()); }
    ~ImageFolder() { fs::current_path(previous); }
    void png(const char* name, int w, int h, const std::vector<uint8_t>& rgba) {
        fs::create_directories(root / "veri");
        ASSERT_TRUE(stbi_write_png((root / "veri/" + name).c_str(), w, h, 4, rgba.data(), w * 4));
    }
};

// The size of a mip level of the bound texture, 0 x 0 past the last.
std::pair<int, int> levelSize(int level) {
    GLint w = 0, h = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &w);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_HEIGHT, &h);
    return {w, h};
}
} // namespace

using TextureGl = GlWindowTest;

TEST_F(TextureGl, LoadsFromVeriWithEveryMipLevelUploadedAndBrokenImagesGiveZero) {
    ImageFolder folder;
    folder.png("bes_uc.png", 5, 3, std::vector<uint8_t>(5 * 3 * 4, 200));
    folder.png("tek.png", 1, 1, {10, 20, 30, 255});

    const Texture t = loadTexture("bes_uc.png");
    ASSERT_NE(t.id, 0u);
    EXPECT_EQ(t.width, 5);
    EXPECT_EQ(t.height, 3);
    glBindTexture(GL_TEXTURE_2D, t.id);
    const std::pair<int, int> levels[] = {{5, 3}, {2, 1}, {1, 1}, {0, 0}}; // nothing past 1 x 1
    for (int level = 0; level < 4; ++level)
        EXPECT_EQ(levelSize(level), levels[level]) << level;
    GLint minFilter = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
    EXPECT_EQ(minFilter, GL_LINEAR_MIPMAP_LINEAR);

    const Texture one = loadTexture("tek.png");
    ASSERT_NE(one.id, 0u);
    glBindTexture(GL_TEXTURE_2D, one.id);
    EXPECT_EQ(levelSize(0), std::pair(1, 1));
    EXPECT_EQ(levelSize(1), std::pair(0, 0));

    // A missing or broken image: the zero texture and one line on standard error.
    testsupport::writeFile(folder.root / "veri/bozuk.png", "\x89PNG\r\n\x1a\n not really");
    testsupport::writeFile(folder.root / "veri/bos.jpg", ""); // empty file

    ::testing::internal::CaptureStderr();
    const Texture missing = loadTexture("yok.png");
    const Texture broken = loadTexture("bozuk.png");
    const Texture empty = loadTexture("bos.jpg");
    const std::string err = ::testing::internal::GetCapturedStderr();
    for (const Texture& t : {missing, broken, empty}) {
        EXPECT_EQ(t.id, 0u);
        EXPECT_EQ(t.width, 0);
        EXPECT_EQ(t.height, 0);
    }
    EXPECT_EQ(err, "gorsel yuklenemedi: veri/yok.png\ngorsel yuklenemedi: veri/bozuk.png\n"
                   "gorsel yuklenemedi: veri/bos.jpg\n");

    // Drawing the zero texture draws nothing.
    drawTexture(missing, {0, 0, 800, 610});
    EXPECT_EQ(rgb(readPixel(400, 300)), rgb(readPixel(0, 0)));
    const Rgba clear = readPixel(400, 300);
    EXPECT_NEAR(clear.r, 13, 1); // 0.05 * 255: the clear colour, untouched
}

TEST_F(TextureGl, DrawTextureScalesByOpacityAndTransparentTexelsLeaveTheBackground) {
    beginFrame({0, 0, 1.0f}); // blue
    // An opaque image at half and full opacity; one with a transparent white left half and an
    // opaque red right half: premultiplication keeps the white from bleeding into the blend.
    std::vector<uint8_t> px;
    for (int i = 0; i < 16; ++i)
        px.insert(px.end(), {200, 100, 40, 255});
    const Texture t = createTexture(px.data(), 4, 4);
    ASSERT_NE(t.id, 0u);
    const std::vector<uint8_t> halves = {255, 255, 255, 0, 255, 0, 0, 255};
    drawTexture(createTexture(halves.data(), 2, 1), {0, 0, 800, 610});
    drawTexture(t, {100, 100, 64, 64}, 0.5f);
    drawTexture(t, {200, 100, 64, 64});
    // Half the colour over the blue half transparent, the whole colour, the background
    // through the transparent white, the opaque red (-1: not checked).
    const struct {
        int x, y, r, g, b, tolerance;
    } points[] = {{132, 132, 100, 50, 20 + 127, 2},
                  {232, 132, 200, -1, 40, 2},
                  {10, 300, 0, -1, 255, 7},
                  {790, 300, 255, -1, 0, 7}};
    for (const auto& p : points) {
        const Rgba got = readPixel(p.x, p.y);
        for (const auto& [have, want] : {std::pair{got.r, p.r}, {got.g, p.g}, {got.b, p.b}})
            EXPECT_TRUE(want < 0 || std::abs(have - want) <= p.tolerance)
                << p.x << "," << p.y << ": " << have;
    }
    EXPECT_EQ(rgb(readPixel(99, 132)), rgb(readPixel(10, 300))) << "nothing drawn outside the quad";
}

TEST_F(TextureGl, FillRectFadesFromTopToBottom) {
    beginFrame({0, 0, 0});
    fillRect({100, 100, 50, 200}, 0xFFFFFF, 1.0f, 0.0f);
    fillRect({300, 100, 50, 200}, 0x336699, 0.6f);
    const int top = readPixel(125, 100).r, mid = readPixel(125, 200).r, bottom = readPixel(125, 299).r;
    EXPECT_GT(top, 250);
    EXPECT_NEAR(mid, 128, 3);
    EXPECT_LT(bottom, 4);
    // Equal opacities: flat, colour x opacity over black.
    const Rgba flatTop = readPixel(325, 101);
    for (const auto& [have, want] : {std::pair{flatTop.r, 0x33}, {flatTop.g, 0x66}, {flatTop.b, 0x99}})
        EXPECT_NEAR(have, want * 0.6, 2);
    EXPECT_EQ(rgb(flatTop), rgb(readPixel(325, 298)));
    EXPECT_EQ(rgb(readPixel(125, 301)), 0u);
}

TEST_F(TextureGl, SetClipLimitsDrawingAndReplacesThePreviousClip) {
    beginFrame({0, 0, 0});
    setClip(ui_.frame, {100, 100, 50, 50});
    setClip(ui_.frame, {200, 200, 10, 20}); // replaces, does not intersect
    fillRect({0, 0, 800, 610}, 0xFFFFFF, 1);
    endClip();
    for (const auto& [x, y, lit] : {std::tuple{120, 120, false},
                                    {205, 210, true},
                                    {199, 210, false},
                                    {210, 210, false},
                                    {205, 199, false},
                                    {205, 219, true},
                                    {205, 220, false}})
        EXPECT_EQ(rgb(readPixel(x, y)), lit ? 0xFFFFFFu : 0u) << x << "," << y;
    GLint box[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_SCISSOR_BOX, box);
    EXPECT_EQ(box[1], 610 - 220);
}
