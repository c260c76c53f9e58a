// Glyph set, atlas cache keys and rebuilds, UTF-8 decoding, widths with kerning and
// spacing, paragraph breaking and text drawing.
#include "gfx/font.h"
#include "gfx/ui.h"
#include "gl_window.h"
#include "support/temp_folder.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

class FontTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::current_path(MORLAKEN_SOURCE_DIR);
        ASSERT_TRUE(loadFontFaces(ui_.fonts));
    }
    FontAtlas& font(FontFamily family, float size) { return getFont(ui_, {family, size}); }
    size_t cached() const { return ui_.fonts.atlases.size(); }
    Ui ui_;
};

float fixedWidth(std::string_view s) {
    return 10.0f * static_cast<float>(s.size());
}

} // namespace

// ---- glyph set and cache ----

TEST(GlyphSet, HoldsTheTwoHundredFiveCodePointsInOrder) {
    const auto& set = glyphSet();
    ASSERT_EQ(set.size(), 205u);
    // Printable ASCII, Latin-1 from the no-break space, then Ğ ... ş, •, …
    for (auto [i, c] : {std::pair{0, 0x20u},
                        {94, 0x7Eu},
                        {95, 0xA0u},
                        {190, 0xFFu},
                        {191, 0x11Eu},
                        {196, 0x15Fu},
                        {203, 0x2022u},
                        {204, 0x2026u}})
        EXPECT_EQ(set[i], c) << i;
    EXPECT_EQ(std::count(set.begin(), set.end(), 0x7Fu), 0);
    EXPECT_EQ(std::count(set.begin(), set.end(), 0x0130u), 1); // İ
}

TEST_F(FontTest, SameKeySharesOneEntryAndFamiliesDoNot) {
    FontAtlas& a = font(FontFamily::Body, 16.0f);
    FontAtlas& b = font(FontFamily::Body, 16.0f);
    FontAtlas& c = font(FontFamily::Body, 16.09f); // tenths of a size are truncated, not rounded
    FontAtlas& d = font(FontFamily::Display, 16.0f);
    EXPECT_EQ(&a, &b);
    EXPECT_EQ(&a, &c);
    EXPECT_NE(&a, &font(FontFamily::Body, 16.1f));
    EXPECT_NE(&a, &d);
    EXPECT_EQ(cached(), 3u);
    EXPECT_EQ(a.family, FontFamily::Body);
    EXPECT_EQ(d.family, FontFamily::Display);
    EXPECT_EQ(a.glyphs.size(), 205u);
    EXPECT_EQ(a.glyphIndex.size(), 205u);
    EXPECT_EQ(a.atlasSize, 512);
    EXPECT_LT(a.descent, 0);
    EXPECT_GT(a.ascent, 8);
    EXPECT_EQ(a.texture, 0u); // no GL context here: measuring only
}

// A font file that is missing, empty, cut off inside its tables, or a web server's error
// page saved under its name: no faces, and the ones loaded before stay.
TEST_F(FontTest, MissingEmptyCutOrForeignFilesAreRefused) {
    testsupport::TempFolder game;
    const std::string body = game / "veri/font/EBGaramond-Regular.ttf";
    const std::string whole = testsupport::readFile("veri/font/EBGaramond-Regular.ttf");
    testsupport::writeFile(game / "veri/font/Cinzel-Bold.ttf",
                           testsupport::readFile("veri/font/Cinzel-Bold.ttf"));
    std::filesystem::current_path(game.path());
    for (const std::string& broken :
         {std::string(), whole.substr(0, 2000), std::string("<html>404</html>")}) {
        testsupport::writeFile(body, broken);
        EXPECT_FALSE(loadFontFaces(ui_.fonts)) << broken.size() << " bytes";
    }
    std::filesystem::remove(body);
    EXPECT_FALSE(loadFontFaces(ui_.fonts)) << "missing";
    EXPECT_GT(textWidth(font(FontFamily::Body, 16.0f), "a", 0), 0.0f) << "the faces loaded before stay";
    testsupport::writeFile(body, whole);
    EXPECT_TRUE(loadFontFaces(ui_.fonts));
    std::filesystem::current_path(MORLAKEN_SOURCE_DIR);
}

TEST_F(FontTest, ScaleChangeRebuildsAtTheNewPixelSizeAndKeepsLogicalWidths) {
    const std::string text = "Güncellemeler denetleniyor...";
    FontAtlas& before = font(FontFamily::Body, 16.0f);
    const float advanceBefore = before.glyphs[before.glyphIndex.at('W')].xadvance;
    const float widthBefore = textWidth(before, text, 0);
    const unsigned generation = ui_.fonts.generation;

    ui_.frame.contentScale = 1.25f; // the window moved to another display
    FontAtlas& after = font(FontFamily::Body, 16.0f);
    EXPECT_EQ(cached(), 1u) << "the atlases of the old scale are gone";
    EXPECT_EQ(ui_.fonts.generation, generation + 1);
    const float advanceAfter = after.glyphs[after.glyphIndex.at('W')].xadvance;
    EXPECT_NEAR(advanceAfter, advanceBefore * 1.25f, 0.01f); // rasterised at 1.25 x 16 px
    EXPECT_NEAR(textWidth(after, text, 0), widthBefore, widthBefore * 0.01f);
}

TEST_F(FontTest, PreparedAtlasesMatchBuiltOnesAndOnlyAtTheirScale) {
    auto glyphsOf = [](const FontAtlas& a) {
        std::vector<float> v;
        for (const stbtt_packedchar& g : a.glyphs)
            v.insert(v.end(),
                     {float(g.x0), float(g.y0), float(g.x1), float(g.y1), g.xadvance, g.xoff, g.yoff2});
        return v;
    };
    const std::vector<float> built = glyphsOf(font(FontFamily::Body, 15.0f));
    clearFontCache(ui_.fonts);
    bool waited = false;
    prepareFontAtlases(ui_.fonts, {{FontFamily::Body, 15.0f}, {FontFamily::Display, 20.0f}}, 1.0f,
                       [&] { waited = true; });
    EXPECT_EQ(glyphsOf(font(FontFamily::Body, 15.0f)), built);
    EXPECT_TRUE(waited) << "the preparation runs what it must wait for first";
    EXPECT_EQ(font(FontFamily::Display, 20.0f).family, FontFamily::Display);
    EXPECT_EQ(cached(), 2u);

    // Prepared for a scale the frame does not have: dropped, built at the frame's scale.
    clearFontCache(ui_.fonts);
    prepareFontAtlases(ui_.fonts, {{FontFamily::Body, 15.0f}}, 2.0f);
    EXPECT_EQ(glyphsOf(font(FontFamily::Body, 15.0f)), built);
}

TEST_F(FontTest, LargeSizesGrowTheAtlas) {
    ui_.frame.contentScale = 4.0f; // 4 x 20 = 80 px glyphs no longer fit in 512 x 512
    const FontAtlas& big = font(FontFamily::Display, 20.0f);
    EXPECT_GT(big.atlasSize, 512);
    EXPECT_LE(big.atlasSize, 4096);
    EXPECT_GT(big.glyphs[big.glyphIndex.at('M')].x1, 0);
}

// ---- widths ----

TEST_F(FontTest, WidthIsAdvancesPlusKerningPlusSpacingAfterEveryGlyph) {
    // The font measured independently of the atlas: straight from the file's metrics.
    std::ifstream in(std::filesystem::path(MORLAKEN_SOURCE_DIR) / "veri/font/Cinzel-Bold.ttf",
                     std::ios::binary);
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in),
                                           std::istreambuf_iterator<char>()};
    stbtt_fontinfo ref{};
    stbtt_InitFont(&ref, bytes.data(), stbtt_GetFontOffsetForIndex(bytes.data(), 0));
    const float perUnit = 20 * stbtt_ScaleForMappingEmToPixels(&ref, 1.0f); // at 20 px
    int advA = 0, advV = 0, lsb = 0;
    stbtt_GetCodepointHMetrics(&ref, 'A', &advA, &lsb);
    stbtt_GetCodepointHMetrics(&ref, 'V', &advV, &lsb);
    const int kern = stbtt_GetCodepointKernAdvance(&ref, 'A', 'V');
    ASSERT_NE(kern, 0) << "the display font kerns A-V";
    const FontAtlas& f = font(FontFamily::Display, 20.0f);
    const float expected = (advA + kern + advV) * perUnit + 4.0f;
    EXPECT_NEAR(textWidth(f, "AV", 2.0f), expected, 0.01f);
    EXPECT_NEAR(textWidth(f, "A", 3.0f) - textWidth(f, "A", 0), 3.0f, 1e-4f); // after the last too
    EXPECT_EQ(textWidth(f, "", 5.0f), 0.0f);
}

TEST_F(FontTest, SkippedCodePointsAddNothingAndKeepTheKerningPair) {
    const FontAtlas& f = font(FontFamily::Display, 20.0f);
    const float av = textWidth(f, "AV", 1.0f);
    EXPECT_FLOAT_EQ(textWidth(f, "A😀V", 1.0f), av);      // emoji: not in the set
    EXPECT_FLOAT_EQ(textWidth(f, "A\x7FV\n", 1.0f), av); // DEL and line feed likewise
    EXPECT_EQ(textWidth(f, "😀", 2.0f), 0.0f);
    // Without the pair's kerning the width would be larger.
    EXPECT_LT(av, textWidth(f, "A", 1.0f) + textWidth(f, "V", 1.0f));
}

TEST(Nearest, RoundsHalvesAwayFromZero) {
    for (auto [v, want] : {std::pair{2.5f, 3.0f}, {-2.5f, -3.0f}, {2.49f, 2.0f}, {-0.4f, 0.0f}, {7.0f, 7.0f}})
        EXPECT_EQ(nearest(v), want) << v;
}

// ---- paragraph breaking ----

TEST(BreakParagraph, WrapsForcedBreaksOverWideWordsAndBlanks) {
    struct Case {
        const char* text;
        float width; // 10 px per byte: "aaa bbb" is 70 wide
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        // Wraps at blanks when the line would grow too wide.
        {"aaa bbb ccc", 70, {"aaa bbb", "ccc"}},
        {"aaa bbb ccc", 69, {"aaa", "bbb", "ccc"}},
        {"aaa bbb ccc", 1000, {"aaa bbb ccc"}},
        // Forced breaks and empty lines.
        {"one\n\ntwo", 1000, {"one", "", "two"}},
        {"one\n", 1000, {"one"}},
        {"one\n\n", 1000, {"one", ""}},
        {"\n", 1000, {""}},
        {"", 1000, {}},
        // Over-wide words stand alone, unbroken.
        {"uzuuuuuuuun", 50, {"uzuuuuuuuun"}},
        {"a uzuuuuuuuun b", 50, {"a", "uzuuuuuuuun", "b"}},
        // Blanks vanish at line starts and stay between words.
        {"  a", 1000, {"a"}},
        {"a  b", 1000, {"a  b"}},
        {"x\n  y", 1000, {"x", "y"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(breakParagraph(c.text, c.width, fixedWidth), c.lines) << '"' << c.text << "\" at " << c.width;
}

// ---- drawing (GL) ----

using FontGl = GlWindowTest;

TEST_F(FontGl, AtlasIsAnAlphaTextureOfTheRecordedSize) {
    useSourceFonts();
    const FontAtlas& f = getFont(ui_, {FontFamily::Body, 15.0f});
    ASSERT_NE(f.texture, 0u);
    glBindTexture(GL_TEXTURE_2D, f.texture);
    GLint w = 0, format = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &format);
    EXPECT_EQ(w, f.atlasSize);
    EXPECT_EQ(format, GL_ALPHA);
    const GLuint old = f.texture;
    clearFontCache(ui_.fonts);
    EXPECT_FALSE(glIsTexture(old)); // the rebuild after a scale change frees the old atlas
}

// Ink, clipping and each shadow mode of drawn text: screenshot_test.cpp. A shorter text leaves
// no line of the longer one behind; the same text in a narrower box wraps anew.
TEST_F(FontGl, ParagraphsFollowTheirTextFrameAfterFrame) {
    useSourceFonts();
    const char* twoLines = "Birinci satır\nİkinci satır";
    for (const auto& [text, width, name] : {std::tuple{twoLines, 360.f, "paragraf_iki_satir"},
                                            {"Tek satır", 360.f, "paragraf_tek_satir"},
                                            {"Tek satır", 60.f, "paragraf_dar"},
                                            {twoLines, 360.f, "paragraf_iki_satir"}}) {
        beginFrame({0, 0, 0});
        drawParagraph(ui_, {{FontFamily::Body, 18.0f}, 0xFFFFFF}, {100, 100, width, 26}, text);
        expectFrame(name, {100, 100, 360, 52});
    }
}
