// font.h - glyph atlases and text: measuring, runs, shadows, boxes and paragraphs.
//
// Index
//   ---- faces and atlases ----  loadFontFaces, getFont, fontCacheKey, clearFontCache
//   ---- measuring ----          decodeUtf8, textWidth, breakParagraph, nearest
//   ---- drawing ----            drawGlyphRun, drawText, drawTextInBox, drawParagraph
// Family 0 is the display font (veri/font/Cinzel-Bold.ttf), family 1 the body font
// (veri/font/EBGaramond-Regular.ttf). Sizes are logical pixels; atlases are rasterised
// at contentScale x size. Main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <stb_truetype.h>

struct FontAtlas {
    uint32_t texture = 0;  // GL_ALPHA texture, 0 without a GL context
    int atlasSize = 0;     // 512, 1024, 2048 or 4096
    std::vector<stbtt_packedchar> glyphs; // 205, in glyph-set order
    std::unordered_map<uint32_t, int> glyphIndex;
    int family = 0;
    float size = 0;        // em size in logical pixels, as requested
    float scale = 0;       // font units -> logical pixels
    float ascent = 0;      // logical pixels
    float descent = 0;     // logical pixels, negative
};

// ---- faces and atlases ----

inline constexpr const char* kDisplayFontPath = "veri/font/Cinzel-Bold.ttf";
inline constexpr const char* kBodyFontPath = "veri/font/EBGaramond-Regular.ttf";

// Reads both font files whole. False when either cannot be opened or is empty.
bool loadFontFaces();

// The 205 code points every atlas holds, in order.
const std::vector<uint32_t>& glyphSet();

// family x 10000 + trunc(size x 10).
uint32_t fontCacheKey(int family, float size);

// The cached atlas for (family, size), built on a miss. The reference stays valid until
// clearFontCache.
FontAtlas& getFont(int family, float size);

// Deletes every atlas texture and empties the cache (content-scale change).
void clearFontCache();
size_t fontCacheSize();

// ---- measuring ----

// Decodes UTF-8 exactly as drawing does (no validation) and calls `fn` per code point.
void decodeUtf8(std::string_view text, const std::function<void(uint32_t)>& fn);

// Advance width in logical pixels with kerning and `spacing` after every drawn glyph.
float textWidth(const FontAtlas& font, std::string_view text, float spacing);

// The lines drawParagraph draws: blanks and '\n' break, over-wide words stand alone.
std::vector<std::string> breakParagraph(std::string_view text, float maxWidth,
                                        const std::function<float(std::string_view)>& width);

// Round to nearest, halves away from zero.
float nearest(float v);

// ---- drawing ----

void drawGlyphRun(const FontAtlas& font, float x, float baseline, std::string_view text, float r, float g,
                  float b, float opacity, float spacing);
// shadow: 0 none, 1 drop shadow, 2 soft halo.
void drawText(const FontAtlas& font, float x, float baseline, std::string_view text, uint32_t color,
              float spacing, int shadow, float opacity);
// align: 0 left, 1 centre, 2 right.
void drawTextInBox(const FontAtlas& font, float x, float y, float w, float h, std::string_view text,
                   uint32_t color, int align, float spacing, int shadow);
void drawParagraph(const FontAtlas& font, float x, float y, float maxWidth, float lineHeight,
                   std::string_view text, uint32_t color, int align);
