// paint.h - the painting kit behind artgen: a float canvas, noise, signed-distance
// shapes, blur, lettering and image output.
//
// Index
//   ---- colour ----        Rgb, hexColor, mix, clamp01, smooth
//   ---- canvas ----        Canvas (premultiplied float RGBA), blendOver, addLight
//   ---- noise ----         hash01, valueNoise, fbm, ridged
//   ---- shapes ----        signed distances in pixels (negative inside), coverage
//   ---- masks ----         Mask, boxBlur, gaussianBlur, signedDistance
//   ---- lettering ----     Font, layoutWidth, textDistance
//   ---- output ----        writePng, writeJpg, writeIco
//
// Everything is deterministic: noise comes from integer hashes of fixed seeds, never
// from a random generator or the clock. Single-threaded; no function keeps state
// between calls except Font, which owns its file bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace artgen {

// ---- colour ----

// Colour channels in 0..1 (sRGB values; the images are painted directly in that space).
struct Rgb {
    float r = 0, g = 0, b = 0;
};

Rgb hexColor(uint32_t rgb); // 0xRRGGBB
Rgb mix(Rgb a, Rgb b, float t);
Rgb operator*(Rgb c, float k);
Rgb operator+(Rgb a, Rgb b);
float clamp01(float v);
float mixf(float a, float b, float t);
// Hermite step from 0 at e0 to 1 at e1 (e0 may be above e1 for a falling step).
float smooth(float e0, float e1, float x);

// ---- canvas ----

// width x height pixels of premultiplied RGBA floats, starting fully transparent.
class Canvas {
  public:
    Canvas(int width, int height);
    int width() const { return width_; }
    int height() const { return height_; }
    // Pointer to the 4 floats of pixel (x, y); the caller keeps x, y in range.
    float* at(int x, int y) { return &px_[(static_cast<size_t>(y) * width_ + x) * 4]; }
    const float* at(int x, int y) const { return &px_[(static_cast<size_t>(y) * width_ + x) * 4]; }
    // Source-over of colour c with opacity a (straight colour, a in 0..1; out of range clamped).
    void blendOver(int x, int y, Rgb c, float a);
    // Adds light: colour + c x k, alpha unchanged. For opaque scenes (glows, stars).
    void addLight(int x, int y, Rgb c, float k);
    // Straight colour of a pixel (black where alpha is 0).
    Rgb colorAt(int x, int y) const;
    float alphaAt(int x, int y) const { return at(x, y)[3]; }

  private:
    int width_, height_;
    std::vector<float> px_;
};

// ---- noise ----

// Uniform in [0, 1) from integer coordinates and a seed.
float hash01(int x, int y, uint32_t seed);
// Smooth value noise in [0, 1], period-free, one cell = 1 unit.
float valueNoise(float x, float y, uint32_t seed);
// Sum of `octaves` value-noise layers (lacunarity 2, gain 0.5), normalised to [0, 1].
float fbm(float x, float y, int octaves, uint32_t seed);
// Ridged variant (sharp crests), normalised to [0, 1].
float ridged(float x, float y, int octaves, uint32_t seed);

// ---- shapes ----
// All distances are in pixels, negative inside. (px, py) is the sample point.

float sdCircle(float px, float py, float cx, float cy, float r);
// Box centred on (cx, cy) with half sizes hw, hh and corner radius r.
float sdRoundBox(float px, float py, float cx, float cy, float hw, float hh, float r);
// Box with its corners cut off at 45 degrees by `cut` pixels.
float sdChamferBox(float px, float py, float cx, float cy, float hw, float hh, float cut);
// Capsule around the segment a-b with radius r.
float sdSegment(float px, float py, float ax, float ay, float bx, float by, float r);
// Diamond (rhombus) centred on (cx, cy) with half diagonals hw, hh.
float sdDiamond(float px, float py, float cx, float cy, float hw, float hh);
// Triangle a, b, c (any winding).
float sdTriangle(float px, float py, float ax, float ay, float bx, float by, float cx, float cy);
// Anti-aliased coverage of a shape at distance d (one pixel wide edge).
float coverage(float d);
// Coverage of a stroke of width w centred on the outline at distance d.
float strokeCoverage(float d, float w);

// ---- masks ----

// One float per pixel.
struct Mask {
    int width = 0, height = 0;
    std::vector<float> v;
    Mask() = default;
    Mask(int w, int h, float fill = 0.0f) : width(w), height(h), v(static_cast<size_t>(w) * h, fill) {}
    float& operator()(int x, int y) { return v[static_cast<size_t>(y) * width + x]; }
    float operator()(int x, int y) const { return v[static_cast<size_t>(y) * width + x]; }
    // Bilinear sample with clamped edges, (x, y) in pixel-centre coordinates.
    float sample(float x, float y) const;
};

// Box blur of radius r (window 2r + 1) in both directions, edges clamped.
Mask boxBlur(const Mask& m, int r);
// Three box blurs approximating a Gaussian of the given sigma.
Mask gaussianBlur(const Mask& m, float sigma);
// Euclidean signed distance to the 0.5 level of a coverage mask, in mask pixels,
// negative inside (exact distance transform between pixel centres).
Mask signedDistance(const Mask& coverageMask);

// ---- lettering ----

// A TrueType font read from a file. load() returns false (and leaves the font unusable)
// when the file is missing or not a font.
class Font {
  public:
    Font();
    ~Font();
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;
    bool load(const std::string& path);
    // Whether every code point of the UTF-8 text has a glyph.
    bool covers(std::string_view utf8) const;
    // Advance width in pixels at `sizePx` (pixel height of ascent - descent), including
    // kerning and `spacing` between letters.
    float layoutWidth(std::string_view utf8, float sizePx, float spacing) const;
    // Signed distance (output pixels, negative inside) of the text laid out with its pen
    // starting at x and its baseline at y, on a width x height grid. Rendered at
    // `oversample` times the resolution so the distances are smooth.
    Mask textDistance(std::string_view utf8, float sizePx, float spacing, float x, float baseline, int width,
                      int height, int oversample = 4) const;

  private:
    struct Impl;
    Impl* impl_;
};

// Decodes UTF-8; each byte that starts no well-formed sequence becomes U+FFFD.
std::vector<uint32_t> decodeUtf8(std::string_view s);

// ---- output ----

// Straight-alpha RGBA PNG. False when the file cannot be written.
bool writePng(const Canvas& c, const std::string& path);
// Opaque JPEG (the canvas is composited over black), quality 1..100.
bool writeJpg(const Canvas& c, const std::string& path, int quality);
// An .ico file holding each canvas (at most 256 x 256) as a 32-bit PNG entry, in order.
bool writeIco(const std::vector<Canvas>& images, const std::string& path);
// 8-bit straight RGBA of the canvas with a fixed, seeded dither (what the writers store).
std::vector<uint8_t> toRgba8(const Canvas& c, uint32_t ditherSeed);

} // namespace artgen
