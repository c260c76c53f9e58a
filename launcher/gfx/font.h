// font.h - glyph atlases and text: measuring, runs, shadows, boxes and paragraphs.
//
// Index
//   ---- styles ----             FontFamily, Align, Shadow, FontRequest, TextStyle
//   ---- faces and atlases ----  FontAtlas, FontCache, loadFontFaces, glyphSet, fontCacheKey,
//                                fontAtlas, getFont, prepareFontAtlases, clearFontCache
//   ---- measuring ----          decodeUtf8, textWidth, breakParagraph,
//                                nearest, centredBaseline
//   ---- drawing ----            drawText, drawTextInBox, drawParagraph
// The display family is veri/font/Cinzel-Bold.ttf, the body family
// veri/font/EBGaramond-Regular.ttf. Sizes are logical pixels; an atlas is rasterised at
// its content scale x size. The cache lives in the Ui (ui.h); main thread only, but for
// the preparation thread, which touches only what prepareFontAtlases says.
#pragma once

#include "gfx/frame.h"
#include "gfx/palette.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include <stb_truetype.h>

struct Ui;

// ---- styles ----

enum class FontFamily : int32_t { Display = 0, Body = 1 };
enum class Align : int32_t { Left, Centre, Right };
enum class Shadow : int32_t { None, Drop, Halo }; // a drop shadow 1 px below, or a soft halo

struct FontRequest {
    FontFamily family;
    float size; // em size in logical pixels
};

// How a text is drawn: font, colour 0xRRGGBB, `spacing` logical pixels after every glyph,
// shadow, and (in a box) where it sits horizontally.
struct TextStyle {
    FontRequest font;
    uint32_t color = palette::kParchment;
    float spacing = 0;
    Shadow shadow = Shadow::None;
    Align align = Align::Left;
};

// ---- faces and atlases ----

struct FontAtlas {
    uint32_t texture = 0;                         // GL_ALPHA texture, 0 without a GL context
    int atlasSize = 0;                            // width: 512, 1024, 2048 or 4096
    int atlasHeight = 0;                          // rows kept: a power of two up to atlasSize
    std::vector<stbtt_packedchar> glyphs;         // 205, in glyph-set order
    std::unordered_map<uint32_t, int> glyphIndex; // code point -> position in `glyphs`
    std::vector<int> fontGlyphs;                  // the font's own glyph index per position (kerning)
    const stbtt_fontinfo* face = nullptr;         // its face in the cache (kerning); null: none
    FontFamily family = FontFamily::Display;
    float size = 0;         // em size in logical pixels, as requested
    float contentScale = 1; // framebuffer pixels per logical pixel it was rasterised for
    float scale = 0;        // font units -> logical pixels
    float ascent = 0;       // logical pixels
    float descent = 0;      // logical pixels, negative
};

struct FontFace {
    std::string bytes; // the whole file; the font information points into it
    stbtt_fontinfo info{};
    bool ready = false;
};

// An atlas rasterised ahead on the preparation thread, waiting for its GL texture.
struct PreparedAtlas {
    uint32_t key = 0;
    FontAtlas atlas;
    std::vector<unsigned char> bitmap;
};

// The lines of the paragraph drawn last (drawParagraph), kept while nothing changes.
struct ParagraphLines {
    std::string text;
    const FontAtlas* font = nullptr;
    unsigned generation = 0;
    float maxWidth = -1;
    std::vector<std::string> lines;
};

// Both faces and every atlas built from them; one per window (the Ui's).
struct FontCache {
    FontFace faces[2];                     // Display, Body
    std::map<uint32_t, FontAtlas> atlases; // by fontCacheKey, all at `builtScale`
    float builtScale = 1.0f;
    unsigned generation = 0; // counts emptyings: lines measured with an older atlas are stale
    // The preparation thread's: written by it, read after the join.
    float preparedScale = 0;
    std::vector<PreparedAtlas> prepared;
    std::jthread preparer; // last, so it is joined before the faces it reads go
};

inline constexpr const char* kDisplayFontPath = "veri/font/Cinzel-Bold.ttf";
inline constexpr const char* kBodyFontPath = "veri/font/EBGaramond-Regular.ttf";

// ---- tunables ----
inline constexpr int kAtlasStart = 512, kAtlasMax = 4096; // square atlas edge, doubling
inline constexpr float kOversampleBelow = 24;             // framebuffer pixels
inline constexpr float kDropShadowOpacity = 0.85f, kHaloOpacity = 0.55f;
inline constexpr size_t kGlyphCount = 205;

// Reads both font files whole (paths relative to the working folder) and initialises
// their font information. False when either cannot be opened, is empty, or is cut short
// or no font at all (its table directory or a listed table lies outside the file); the
// faces are then left as they were. Before a successful call every atlas is empty (draws
// nothing, measures 0).
bool loadFontFaces(FontCache& cache);

// The code points every atlas holds, in order: printable ASCII, Latin-1 from the
// no-break space, then the Turkish letters and the punctuation the texts use.
const std::array<uint32_t, kGlyphCount>& glyphSet();

// family x 10000 + trunc(size x 10) (Display 0, Body 1).
uint32_t fontCacheKey(FontFamily family, float size);

// The cached atlas for `request` at `contentScale` (a cache built at another scale is
// emptied first: its glyphs are rasterised again), built on a miss. The reference stays
// valid until the cache is emptied. The GL texture is only made while a GL context is
// current (texture 0 otherwise: measuring still works).
FontAtlas& fontAtlas(FontCache& cache, FontRequest request, float contentScale);
// The same at the Ui's frame scale.
FontAtlas& getFont(Ui& ui, FontRequest request);

// Rasterises the atlases of `requests` at `contentScale` on a background thread, so their
// glyphs are packed while the window is being created. fontAtlas then takes a prepared
// atlas (making its texture) instead of building it, waiting for the thread if it is
// still running; atlases prepared for another scale than the frame's are dropped. Main
// thread, after loadFontFaces, which must not run again while the thread works.
// `waitFirst`, when given, runs on that thread before it starts rasterising: start-up
// passes the wait for the image decoding, so the two start-up workers take one core
// between them and leave the other to the window system, whose set-up waits on the
// display server.
void prepareFontAtlases(FontCache& cache, std::vector<FontRequest> requests, float contentScale,
                        std::function<void()> waitFirst = {});
// Waits for that thread and drops what it prepared. Main thread.
void finishFontPreparation(FontCache& cache);

// Deletes every atlas texture (when a GL context is current) and empties the cache;
// prepared atlases are dropped too.
void clearFontCache(FontCache& cache);

// ---- measuring ----

// Advance width in logical pixels with kerning and `spacing` after every drawn glyph.
float textWidth(const FontAtlas& font, std::string_view text, float spacing);
// The same in `style`'s font and spacing.
float textWidth(Ui& ui, const TextStyle& style, std::string_view text);

// The lines drawParagraph draws: blanks and '\n' break, over-wide words stand alone,
// two line feeds give an empty line, blanks at the start of a line vanish. `width`
// measures a candidate line.
std::vector<std::string> breakParagraph(std::string_view text, float maxWidth,
                                        const std::function<float(std::string_view)>& width);

// Round to nearest, halves away from zero.
float nearest(float v);

// The baseline that centres `font`'s ascent and descent on y = centreY.
float centredBaseline(const FontAtlas& font, float centreY);

// ---- drawing ----
// Positions are logical pixels; `baseline` is the text's baseline. Each call binds its
// atlas (texturing on, straight-alpha blending).

// At x, on `baseline`, with the style's shadow under it (the style's align is not used).
void drawText(Ui& ui, const TextStyle& style, float x, float baseline, std::string_view text);
// Centred vertically in `box`, placed horizontally by the style's align; the left edge is
// rounded to a whole pixel.
void drawTextInBox(Ui& ui, const TextStyle& style, const Rect& box, std::string_view text);
// Wrapped to firstLine.w (breakParagraph), one line every firstLine.h from firstLine.y, each
// centred vertically in its line and placed by the style's align; no shadow. The lines of
// the last text are kept in the Ui until the text, the width or the atlas changes, so a
// still frame allocates nothing.
void drawParagraph(Ui& ui, const TextStyle& style, const Rect& firstLine, std::string_view text);
