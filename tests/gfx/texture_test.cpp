// Images, the mipmap chain, premultiplication, filled rectangles and clipping.
#include "gfx/texture.h"
#include "gl_window.h"
#include "support/temp_folder.h"

#include <array>
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
    ImageFolder() {
        fs::create_directories(root / "veri");
        fs::current_path(root.path());
    }
    ~ImageFolder() { fs::current_path(previous); }
};
} // namespace

using TextureGl = GlWindowTest;

TEST_F(TextureGl, LoadsFromVeriWithEveryMipLevelUploadedAndBrokenImagesGiveZero) {
    ImageFolder folder;
    ASSERT_TRUE(writePng(folder.root / "veri/bes_uc.png", std::vector<uint8_t>(5 * 3 * 4, 200).data(), 5, 3));

    const Texture t = loadTexture("bes_uc.png");
    ASSERT_NE(t.id, 0u);
    EXPECT_EQ(t.width, 5);
    EXPECT_EQ(t.height, 3);
    glBindTexture(GL_TEXTURE_2D, t.id);
    const std::pair<GLint, GLint> levels[] = {{5, 3}, {2, 1}, {1, 1}, {0, 0}}; // nothing past 1 x 1
    for (int level = 0; level < 4; ++level) {
        std::pair<GLint, GLint> size;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &size.first);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_HEIGHT, &size.second);
        EXPECT_EQ(size, levels[level]) << level;
    }
    GLint minFilter = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
    EXPECT_EQ(minFilter, GL_LINEAR_MIPMAP_LINEAR);

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
}

// Over the launcher's clear colour: an image with a transparent white half and an opaque red half
// across the window (premultiplied, so no white bleeds into the blend), the zero texture
// (nothing), an opaque image at half and full opacity, a rectangle fading top to bottom and
// a flat one, and a fill through a clip that replaced an earlier one instead of narrowing it.
TEST_F(TextureGl, ImagesRectanglesAndClipsDrawAsTheyShould) {
    beginFrame();
    const std::vector<uint8_t> halves = {255, 255, 255, 0, 255, 0, 0, 255};
    drawTexture(createTexture(halves.data(), 2, 1), {0, 0, 800, 610});
    drawTexture(Texture{}, {0, 0, 800, 610});
    std::vector<uint8_t> px;
    for (int i = 0; i < 16; ++i)
        px.insert(px.end(), {200, 100, 40, 255});
    const Texture t = createTexture(px.data(), 4, 4);
    drawTexture(t, {100, 100, 64, 64}, 0.5f);
    drawTexture(t, {200, 100, 64, 64});
    fillRect({100, 200, 50, 200}, 0xFFFFFF, 1.0f, 0.0f);
    fillRect({300, 200, 50, 200}, 0x336699, 0.6f);
    setClip(ui_.frame, {400, 200, 50, 50});
    setClip(ui_.frame, {500, 200, 10, 20});
    fillRect({0, 0, 800, 610}, 0xFFFFFF, 1);
    endClip();
    expectFrame("texture_drawing", {0, 0, 800, 610});
}
