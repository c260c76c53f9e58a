// font.h - glyph atlases and text: measuring, runs, shadows, boxes and paragraphs.
//
// Index
//   ---- faces and atlases ----  loadFontFaces, getFont, fontCacheKey, prepareFontAtlases,
//                                clearFontCache
//   ---- measuring ----          textWidth, breakParagraph, nearest
//   ---- drawing ----            drawGlyphRun, drawText, drawTextInBox, drawParagraph
// The display family is veri/font/Cinzel-Bold.ttf, the body family
// veri/font/EBGaramond-Regular.ttf. Sizes are logical pixels; atlases are rasterised
// at frameContext().contentScale x size. Main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <stb_truetype.h>

enum class FontFamily : int32_t { Display = 0, Body = 1 };
enum class Align : int32_t { Left, Centre, Right };
enum class Shadow : int32_t { None, Drop, Halo }; // a drop shadow 1 px below, or a soft halo

struct FontAtlas {
    uint32_t texture = 0;                         // GL_ALPHA texture, 0 without a GL context
    int atlasSize = 0;                            // 512, 1024, 2048 or 4096
    std::vector<stbtt_packedchar> glyphs;         // 205, in glyph-set order
    std::unordered_map<uint32_t, int> glyphIndex; // code point -> position in `glyphs`
    std::vector<int> fontGlyphs;                  // the font's own glyph index per position (kerning)
    FontFamily family = FontFamily::Display;
    float size = 0;    // em size in logical pixels, as requested
    float scale = 0;   // font units -> logical pixels
    float ascent = 0;  // logical pixels
    float descent = 0; // logical pixels, negative
};

// ---- faces and atlases ----

inline constexpr const char* kDisplayFontPath = "veri/font/Cinzel-Bold.ttf";
inline constexpr const char* kBodyFontPath = "veri/font/EBGaramond-Regular.ttf";

// ---- tunables ----
inline constexpr int kAtlasStart = 512, kAtlasMax = 4096; // square atlas edge, doubling
inline constexpr float kOversampleBelow = 24;             // framebuffer pixels
inline constexpr float kDropShadowOpacity = 0.85f, kHaloOpacity = 0.55f;

// Reads both font files whole (paths relative to the working folder) and initialises
// their font information. False when either cannot be opened, is empty, or is cut short
// or no font at all (its table directory or a listed table lies outside the file); the
// faces are then left as they were. Before a successful call every atlas is empty (draws nothing,
// measures 0).
bool loadFontFaces();

// The 205 code points every atlas holds, in order.
const std::vector<uint32_t>& glyphSet();

// family x 10000 + trunc(size x 10) (Display 0, Body 1).
uint32_t fontCacheKey(FontFamily family, float size);

// The cached atlas for (family, size), built on a miss at frameContext().contentScale.
// The reference stays valid until clearFontCache. The GL texture is only made while a GL
// context is current (texture 0 otherwise: measuring still works).
FontAtlas& getFont(FontFamily family, float size);

struct FontRequest {
    FontFamily family;
    float size;
};
inline FontAtlas& getFont(const FontRequest& r) {
    return getFont(r.family, r.size);
}

// Rasterises the atlases of `requests` at `contentScale` on a background thread, so their
// glyphs are packed while the window is being created. getFont then takes a prepared
// atlas (making its texture) instead of building it, waiting for the thread if it is
// still running; atlases prepared for another scale than the frame's are dropped. Main
// thread, after loadFontFaces, which must not run again while the thread works.
// `waitFirst`, when given, runs on that thread before it starts rasterising: start-up
// passes waitForImageDecoding, so the two start-up workers take one core between them and
// leave the other to the window system, whose set-up waits on the display server.
void prepareFontAtlases(std::vector<FontRequest> requests, float contentScale, void (*waitFirst)() = nullptr);
// Waits for that thread and drops what it prepared. Main thread; call it before the
// process exits, so the thread never outlives the data it reads.
void finishFontPreparation();

// Deletes every atlas texture and empties the cache (content-scale change); prepared
// atlases are dropped too.
void clearFontCache();
size_t fontCacheSize();

// ---- measuring ----

// Advance width in logical pixels with kerning and `spacing` after every drawn glyph.
float textWidth(const FontAtlas& font, std::string_view text, float spacing);

// The lines drawParagraph draws: blanks and '\n' break, over-wide words stand alone,
// two line feeds give an empty line, blanks at the start of a line vanish. `width`
// measures a candidate line.
std::vector<std::string> breakParagraph(std::string_view text, float maxWidth,
                                        const std::function<float(std::string_view)>& width);

// Round to nearest, halves away from zero.
float nearest(float v);

// ---- drawing ----
// Positions are logical pixels; `baseline` is the text's baseline. Colours 0xRRGGBB.
// drawGlyphRun expects bindFontAtlas to have run; the others bind the atlas themselves.

// Texturing on, the atlas bound, straight-alpha blending.
void bindFontAtlas(const FontAtlas& font);
void drawGlyphRun(const FontAtlas& font, float x, float baseline, std::string_view text, uint32_t color,
                  float opacity, float spacing);
void drawText(const FontAtlas& font, float x, float baseline, std::string_view text, uint32_t color,
              float spacing, Shadow shadow, float opacity);
// Centred vertically in the box, placed horizontally by `align`.
void drawTextInBox(const FontAtlas& font, float x, float y, float w, float h, std::string_view text,
                   uint32_t color, Align align, float spacing, Shadow shadow);
void drawParagraph(const FontAtlas& font, float x, float y, float maxWidth, float lineHeight,
                   std::string_view text, uint32_t color, Align align);
