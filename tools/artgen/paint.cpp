// paint.cpp - the painting kit behind artgen (see paint.h for the index).
#include "paint.h"

#include "platform/text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wall"
#pragma GCC diagnostic ignored "-Wextra"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-function"
#define STB_TRUETYPE_IMPLEMENTATION
#define STBTT_STATIC
#include <stb_truetype.h>
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#include <stb_image_write.h>
#pragma GCC diagnostic pop

namespace artgen {

// ---- colour ----

Rgb hexColor(uint32_t rgb) {
    return {((rgb >> 16) & 0xFF) / 255.0f, ((rgb >> 8) & 0xFF) / 255.0f, (rgb & 0xFF) / 255.0f};
}
Rgb mix(Rgb a, Rgb b, float t) {
    return {mixf(a.r, b.r, t), mixf(a.g, b.g, t), mixf(a.b, b.b, t)};
}
Rgb operator*(Rgb c, float k) {
    return {c.r * k, c.g * k, c.b * k};
}
Rgb operator+(Rgb a, Rgb b) {
    return {a.r + b.r, a.g + b.g, a.b + b.b};
}
float clamp01(float v) {
    return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v);
}
float mixf(float a, float b, float t) {
    return a + (b - a) * t;
}
float smooth(float e0, float e1, float x) {
    float t = clamp01((x - e0) / (e1 - e0));
    return t * t * (3.0f - 2.0f * t);
}

// ---- canvas ----

Canvas::Canvas(int width, int height)
    : width_(width), height_(height), px_(static_cast<size_t>(width) * height * 4, 0.0f) {}

void Canvas::blendOver(int x, int y, Rgb c, float a) {
    a = clamp01(a);
    if (a <= 0.0f) return;
    float* p = at(x, y);
    float k = 1.0f - a;
    p[0] = c.r * a + p[0] * k;
    p[1] = c.g * a + p[1] * k;
    p[2] = c.b * a + p[2] * k;
    p[3] = a + p[3] * k;
}

void Canvas::addLight(int x, int y, Rgb c, float k) {
    if (k <= 0.0f) return;
    float* p = at(x, y);
    p[0] += c.r * k;
    p[1] += c.g * k;
    p[2] += c.b * k;
}

Rgb Canvas::colorAt(int x, int y) const {
    const float* p = at(x, y);
    if (p[3] <= 0.0f) return {};
    return {p[0] / p[3], p[1] / p[3], p[2] / p[3]};
}

// ---- noise ----

static uint32_t mixBits(uint32_t h) {
    h ^= h >> 16;
    h *= 0x7FEB352Du;
    h ^= h >> 15;
    h *= 0x846CA68Bu;
    h ^= h >> 16;
    return h;
}

float hash01(int x, int y, uint32_t seed) {
    uint32_t h = mixBits(static_cast<uint32_t>(x) * 0x9E3779B1u ^
                         mixBits(static_cast<uint32_t>(y) + seed * 0x85EBCA77u));
    return (h >> 8) * (1.0f / 16777216.0f);
}

float valueNoise(float x, float y, uint32_t seed) {
    float fx = std::floor(x), fy = std::floor(y);
    int ix = static_cast<int>(fx), iy = static_cast<int>(fy);
    float tx = x - fx, ty = y - fy;
    // Quintic fade: no visible grid creases in gradients.
    float ux = tx * tx * tx * (tx * (tx * 6.0f - 15.0f) + 10.0f);
    float uy = ty * ty * ty * (ty * (ty * 6.0f - 15.0f) + 10.0f);
    float a = hash01(ix, iy, seed), b = hash01(ix + 1, iy, seed);
    float c = hash01(ix, iy + 1, seed), d = hash01(ix + 1, iy + 1, seed);
    return mixf(mixf(a, b, ux), mixf(c, d, ux), uy);
}

float fbm(float x, float y, int octaves, uint32_t seed) {
    float sum = 0.0f, amp = 1.0f, norm = 0.0f;
    for (int i = 0; i < octaves; ++i) {
        sum += valueNoise(x, y, seed + static_cast<uint32_t>(i) * 7919u) * amp;
        norm += amp;
        amp *= 0.5f;
        // Rotate a little between octaves so the lattice never lines up.
        float nx = x * 1.6f - y * 1.2f, ny = x * 1.2f + y * 1.6f;
        x = nx + 17.3f;
        y = ny + 5.1f;
    }
    return sum / norm;
}

float ridged(float x, float y, int octaves, uint32_t seed) {
    float sum = 0.0f, amp = 1.0f, norm = 0.0f;
    for (int i = 0; i < octaves; ++i) {
        float n = 1.0f - std::fabs(valueNoise(x, y, seed + static_cast<uint32_t>(i) * 104729u) * 2.0f - 1.0f);
        sum += n * n * amp;
        norm += amp;
        amp *= 0.5f;
        x *= 2.03f;
        y *= 2.03f;
    }
    return sum / norm;
}

// ---- shapes ----

float sdCircle(float px, float py, float cx, float cy, float r) {
    return std::hypot(px - cx, py - cy) - r;
}

float sdRoundBox(float px, float py, float cx, float cy, float hw, float hh, float r) {
    float qx = std::fabs(px - cx) - hw + r, qy = std::fabs(py - cy) - hh + r;
    float outside = std::hypot(std::max(qx, 0.0f), std::max(qy, 0.0f));
    return outside + std::min(std::max(qx, qy), 0.0f) - r;
}

float sdChamferBox(float px, float py, float cx, float cy, float hw, float hh, float cut) {
    float ax = std::fabs(px - cx), ay = std::fabs(py - cy);
    float box = sdRoundBox(px, py, cx, cy, hw, hh, 0.0f);
    float diag = (ax + ay - (hw + hh - cut)) * 0.70710678f;
    return std::max(box, diag);
}

float sdSegment(float px, float py, float ax, float ay, float bx, float by, float r) {
    float pax = px - ax, pay = py - ay, bax = bx - ax, bay = by - ay;
    float len2 = bax * bax + bay * bay;
    float h = len2 > 0.0f ? clamp01((pax * bax + pay * bay) / len2) : 0.0f;
    return std::hypot(pax - bax * h, pay - bay * h) - r;
}

float sdDiamond(float px, float py, float cx, float cy, float hw, float hh) {
    float ax = std::fabs(px - cx), ay = std::fabs(py - cy);
    // Distance to the edge line x/hw + y/hh = 1, scaled to pixels.
    float len = std::hypot(hh, hw);
    return (ax * hh + ay * hw - hw * hh) / len;
}

float sdTriangle(float px, float py, float ax, float ay, float bx, float by, float cx, float cy) {
    float e0x = bx - ax, e0y = by - ay, e1x = cx - bx, e1y = cy - by, e2x = ax - cx, e2y = ay - cy;
    float v0x = px - ax, v0y = py - ay, v1x = px - bx, v1y = py - by, v2x = px - cx, v2y = py - cy;
    auto proj = [](float vx, float vy, float ex, float ey, float& outX, float& outY) {
        float h = clamp01((vx * ex + vy * ey) / (ex * ex + ey * ey));
        outX = vx - ex * h;
        outY = vy - ey * h;
    };
    float q0x, q0y, q1x, q1y, q2x, q2y;
    proj(v0x, v0y, e0x, e0y, q0x, q0y);
    proj(v1x, v1y, e1x, e1y, q1x, q1y);
    proj(v2x, v2y, e2x, e2y, q2x, q2y);
    float s = (e0x * e2y - e0y * e2x) > 0.0f ? 1.0f : -1.0f;
    float d0 = q0x * q0x + q0y * q0y, d1 = q1x * q1x + q1y * q1y, d2 = q2x * q2x + q2y * q2y;
    float s0 = s * (v0x * e0y - v0y * e0x), s1 = s * (v1x * e1y - v1y * e1x),
          s2 = s * (v2x * e2y - v2y * e2x);
    float d = std::min({d0, d1, d2});
    float sg = std::min({s0, s1, s2});
    return -std::sqrt(d) * (sg > 0.0f ? 1.0f : -1.0f);
}

float coverage(float d) {
    return clamp01(0.5f - d);
}
float strokeCoverage(float d, float w) {
    return clamp01(0.5f - (std::fabs(d) - w * 0.5f));
}

// ---- masks ----

float Mask::sample(float x, float y) const {
    x = std::clamp(x, 0.0f, static_cast<float>(width - 1));
    y = std::clamp(y, 0.0f, static_cast<float>(height - 1));
    int x0 = static_cast<int>(x), y0 = static_cast<int>(y);
    int x1 = std::min(x0 + 1, width - 1), y1 = std::min(y0 + 1, height - 1);
    float tx = x - x0, ty = y - y0;
    float a = mixf((*this)(x0, y0), (*this)(x1, y0), tx);
    float b = mixf((*this)(x0, y1), (*this)(x1, y1), tx);
    return mixf(a, b, ty);
}

static void boxBlurLine(const float* in, float* out, int n, int stride, int r) {
    // Running sum over a clamped window of 2r + 1 samples.
    float sum = 0.0f;
    auto get = [&](int i) { return in[static_cast<size_t>(std::clamp(i, 0, n - 1)) * stride]; };
    for (int i = -r; i <= r; ++i)
        sum += get(i);
    float inv = 1.0f / (2 * r + 1);
    for (int i = 0; i < n; ++i) {
        out[static_cast<size_t>(i) * stride] = sum * inv;
        sum += get(i + r + 1) - get(i - r);
    }
}

Mask boxBlur(const Mask& m, int r) {
    if (r <= 0 || m.width == 0 || m.height == 0) return m;
    Mask tmp(m.width, m.height), out(m.width, m.height);
    for (int y = 0; y < m.height; ++y)
        boxBlurLine(&m.v[static_cast<size_t>(y) * m.width], &tmp.v[static_cast<size_t>(y) * m.width], m.width,
                    1, r);
    for (int x = 0; x < m.width; ++x)
        boxBlurLine(&tmp.v[x], &out.v[x], m.height, m.width, r);
    return out;
}

Mask gaussianBlur(const Mask& m, float sigma) {
    // Three passes of a box of this radius have about the requested variance.
    int r = std::max(
        1, static_cast<int>(std::lround(std::sqrt(12.0f * sigma * sigma / 3.0f + 1.0f) * 0.5f - 0.5f)));
    return boxBlur(boxBlur(boxBlur(m, r), r), r);
}

// Felzenszwalb & Huttenlocher: squared distance transform of a sampled function in 1D.
static void edt1d(const std::vector<float>& f, std::vector<float>& d, int n, std::vector<int>& v,
                  std::vector<float>& z) {
    const float inf = std::numeric_limits<float>::infinity();
    int k = 0;
    v[0] = 0;
    z[0] = -inf;
    z[1] = inf;
    for (int q = 1; q < n; ++q) {
        if (f[q] == inf) continue;
        if (f[v[k]] == inf) {
            v[k] = q;
            continue;
        }
        float s;
        for (;;) {
            s = ((f[q] + q * q) - (f[v[k]] + v[k] * v[k])) / (2.0f * (q - v[k]));
            if (s > z[k] || k == 0) break;
            --k;
        }
        if (s <= z[k]) {
            v[k] = q;
            z[k + 1] = inf;
            continue;
        }
        ++k;
        v[k] = q;
        z[k] = s;
        z[k + 1] = inf;
    }
    k = 0;
    for (int q = 0; q < n; ++q) {
        while (z[k + 1] < q)
            ++k;
        float dq = static_cast<float>(q - v[k]);
        d[q] = f[v[k]] == inf ? inf : dq * dq + f[v[k]];
    }
}

// Squared distance from every pixel to the nearest pixel where `seed` is true.
static std::vector<float> squaredDistance(const std::vector<char>& seed, int w, int h) {
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<float> grid(static_cast<size_t>(w) * h);
    for (size_t i = 0; i < grid.size(); ++i)
        grid[i] = seed[i] ? 0.0f : inf;
    int n = std::max(w, h);
    std::vector<float> f(n), d(n), z(n + 1);
    std::vector<int> v(n);
    for (int x = 0; x < w; ++x) {
        for (int y = 0; y < h; ++y)
            f[y] = grid[static_cast<size_t>(y) * w + x];
        edt1d(f, d, h, v, z);
        for (int y = 0; y < h; ++y)
            grid[static_cast<size_t>(y) * w + x] = d[y];
    }
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x)
            f[x] = grid[static_cast<size_t>(y) * w + x];
        edt1d(f, d, w, v, z);
        for (int x = 0; x < w; ++x)
            grid[static_cast<size_t>(y) * w + x] = d[x];
    }
    return grid;
}

Mask signedDistance(const Mask& m) {
    Mask out(m.width, m.height);
    if (m.width == 0 || m.height == 0) return out;
    std::vector<char> inside(m.v.size()), outside(m.v.size());
    bool anyIn = false, anyOut = false;
    for (size_t i = 0; i < m.v.size(); ++i) {
        inside[i] = m.v[i] >= 0.5f;
        outside[i] = !inside[i];
        anyIn |= static_cast<bool>(inside[i]);
        anyOut |= static_cast<bool>(outside[i]);
    }
    const float far = static_cast<float>(m.width + m.height);
    if (!anyIn || !anyOut) {
        std::fill(out.v.begin(), out.v.end(), anyIn ? -far : far);
        return out;
    }
    std::vector<float> toIn = squaredDistance(inside, m.width, m.height);
    std::vector<float> toOut = squaredDistance(outside, m.width, m.height);
    for (size_t i = 0; i < m.v.size(); ++i) {
        // The edge lies about half a pixel from the centre of the last pixel on either side.
        out.v[i] = inside[i] ? -(std::sqrt(toOut[i]) - 0.5f) : std::sqrt(toIn[i]) - 0.5f;
    }
    return out;
}

// ---- lettering ----

std::vector<uint32_t> decodeUtf8(std::string_view s) {
    std::vector<uint32_t> out;
    for (size_t i = 0; i < s.size();) {
        if (platform::utf8SequenceLength(s, i) == 0) {
            out.push_back(0xFFFD);
            ++i;
        } else {
            out.push_back(platform::nextCodePoint(s, i));
        }
    }
    return out;
}

struct Font::Impl {
    std::vector<unsigned char> bytes;
    stbtt_fontinfo info{};
    bool ready = false;
};

Font::Font() : impl_(new Impl) {}
Font::~Font() {
    delete impl_;
}

bool Font::load(const std::string& path) {
    impl_->ready = false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    impl_->bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (impl_->bytes.size() < 12) return false;
    int offset = stbtt_GetFontOffsetForIndex(impl_->bytes.data(), 0);
    if (offset < 0 || !stbtt_InitFont(&impl_->info, impl_->bytes.data(), offset)) return false;
    impl_->ready = true;
    return true;
}

bool Font::covers(std::string_view utf8) const {
    if (!impl_->ready) return false;
    for (uint32_t cp : decodeUtf8(utf8))
        if (cp != ' ' && stbtt_FindGlyphIndex(&impl_->info, static_cast<int>(cp)) == 0) return false;
    return true;
}

float Font::layoutWidth(std::string_view utf8, float sizePx, float spacing) const {
    if (!impl_->ready) return 0.0f;
    float scale = stbtt_ScaleForPixelHeight(&impl_->info, sizePx);
    std::vector<uint32_t> cps = decodeUtf8(utf8);
    float x = 0.0f;
    for (size_t i = 0; i < cps.size(); ++i) {
        int adv, lsb;
        stbtt_GetCodepointHMetrics(&impl_->info, static_cast<int>(cps[i]), &adv, &lsb);
        x += adv * scale;
        if (i + 1 < cps.size()) {
            x += stbtt_GetCodepointKernAdvance(&impl_->info, static_cast<int>(cps[i]),
                                               static_cast<int>(cps[i + 1])) *
                 scale;
            x += spacing;
        }
    }
    return x;
}

Mask Font::textDistance(std::string_view utf8, float sizePx, float spacing, float x, float baseline,
                        int width, int height, int oversample) const {
    Mask out(width, height, static_cast<float>(width + height));
    if (!impl_->ready || width <= 0 || height <= 0) return out;
    const int ss = std::max(1, oversample);
    Mask hi(width * ss, height * ss);
    float scale = stbtt_ScaleForPixelHeight(&impl_->info, sizePx) * ss;
    std::vector<uint32_t> cps = decodeUtf8(utf8);
    float pen = x * ss;
    float base = baseline * ss;
    std::vector<unsigned char> glyph;
    for (size_t i = 0; i < cps.size(); ++i) {
        int cp = static_cast<int>(cps[i]);
        int adv, lsb;
        stbtt_GetCodepointHMetrics(&impl_->info, cp, &adv, &lsb);
        float fx = std::floor(pen), fy = std::floor(base);
        float shiftX = pen - fx, shiftY = base - fy;
        int x0, y0, x1, y1;
        stbtt_GetCodepointBitmapBoxSubpixel(&impl_->info, cp, scale, scale, shiftX, shiftY, &x0, &y0, &x1,
                                            &y1);
        int gw = x1 - x0, gh = y1 - y0;
        if (gw > 0 && gh > 0) {
            glyph.assign(static_cast<size_t>(gw) * gh, 0);
            stbtt_MakeCodepointBitmapSubpixel(&impl_->info, glyph.data(), gw, gh, gw, scale, scale, shiftX,
                                              shiftY, cp);
            int ox = static_cast<int>(fx) + x0, oy = static_cast<int>(fy) + y0;
            for (int gy = 0; gy < gh; ++gy) {
                int ty = oy + gy;
                if (ty < 0 || ty >= hi.height) continue;
                for (int gx = 0; gx < gw; ++gx) {
                    int tx = ox + gx;
                    if (tx < 0 || tx >= hi.width) continue;
                    float c = glyph[static_cast<size_t>(gy) * gw + gx] / 255.0f;
                    hi(tx, ty) = std::max(hi(tx, ty), c);
                }
            }
        }
        pen += adv * scale;
        if (i + 1 < cps.size()) {
            pen += stbtt_GetCodepointKernAdvance(&impl_->info, cp, static_cast<int>(cps[i + 1])) * scale;
            pen += spacing * ss;
        }
    }
    Mask sd = signedDistance(hi);
    for (int y = 0; y < height; ++y)
        for (int x2 = 0; x2 < width; ++x2)
            out(x2, y) = sd.sample((x2 + 0.5f) * ss - 0.5f, (y + 0.5f) * ss - 0.5f) / ss;
    return out;
}

// ---- output ----

std::vector<uint8_t> toRgba8(const Canvas& c, uint32_t ditherSeed) {
    std::vector<uint8_t> out(static_cast<size_t>(c.width()) * c.height() * 4);
    for (int y = 0; y < c.height(); ++y) {
        for (int x = 0; x < c.width(); ++x) {
            const float* p = c.at(x, y);
            float a = clamp01(p[3]);
            uint8_t* o = &out[(static_cast<size_t>(y) * c.width() + x) * 4];
            // Triangular dither of about one step keeps the long gradients free of bands.
            float dither = (hash01(x, y, ditherSeed) + hash01(x, y, ditherSeed + 1) - 1.0f);
            int alpha = static_cast<int>(std::lround(a * 255.0f));
            o[3] = static_cast<uint8_t>(std::clamp(alpha, 0, 255));
            if (o[3] == 0) {
                o[0] = o[1] = o[2] = 0;
                continue;
            }
            for (int k = 0; k < 3; ++k) {
                float v = clamp01(p[k] / a) * 255.0f + dither;
                o[k] = static_cast<uint8_t>(std::clamp(static_cast<int>(std::lround(v)), 0, 255));
            }
        }
    }
    return out;
}

bool writePng(const Canvas& c, const std::string& path) {
    std::vector<uint8_t> rgba = toRgba8(c, 0xA17u);
    stbi_write_png_compression_level = 9;
    return stbi_write_png(path.c_str(), c.width(), c.height(), 4, rgba.data(), c.width() * 4) != 0;
}

bool writeJpg(const Canvas& c, const std::string& path, int quality) {
    std::vector<uint8_t> rgb(static_cast<size_t>(c.width()) * c.height() * 3);
    for (int y = 0; y < c.height(); ++y) {
        for (int x = 0; x < c.width(); ++x) {
            const float* p = c.at(x, y);
            float dither = (hash01(x, y, 0xB0Bu) + hash01(x, y, 0xB0Cu) - 1.0f);
            uint8_t* o = &rgb[(static_cast<size_t>(y) * c.width() + x) * 3];
            // Premultiplied colour over black is the colour channels themselves.
            for (int k = 0; k < 3; ++k)
                o[k] = static_cast<uint8_t>(
                    std::clamp(static_cast<int>(std::lround(clamp01(p[k]) * 255.0f + dither)), 0, 255));
        }
    }
    return stbi_write_jpg(path.c_str(), c.width(), c.height(), 3, rgb.data(), std::clamp(quality, 1, 100)) !=
           0;
}

// An icon file of PNG entries (Windows Vista and later read PNG at every size): the
// ICONDIR header, one 16-byte entry per image, then the images, all little-endian.
bool writeIco(const std::vector<Canvas>& images, const std::string& path) {
    if (images.empty() || images.size() > 0xFFFF) return false;
    std::vector<std::vector<uint8_t>> pngs;
    stbi_write_png_compression_level = 9;
    for (const Canvas& c : images) {
        if (c.width() < 1 || c.width() > 256 || c.height() < 1 || c.height() > 256) return false;
        std::vector<uint8_t> rgba = toRgba8(c, 0xA17u);
        std::vector<uint8_t> png;
        auto append = [](void* context, void* data, int size) {
            auto* out = static_cast<std::vector<uint8_t>*>(context);
            out->insert(out->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
        };
        if (!stbi_write_png_to_func(append, &png, c.width(), c.height(), 4, rgba.data(), c.width() * 4))
            return false;
        pngs.push_back(std::move(png));
    }
    std::vector<uint8_t> out;
    auto u16 = [&out](uint32_t v) {
        out.push_back(static_cast<uint8_t>(v));
        out.push_back(static_cast<uint8_t>(v >> 8));
    };
    auto u32 = [&](uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    };
    u16(0);
    u16(1); // 1 = icon
    u16(static_cast<uint32_t>(images.size()));
    uint32_t offset = 6 + 16 * static_cast<uint32_t>(images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        out.push_back(static_cast<uint8_t>(images[i].width() & 0xFF)); // 256 is written as 0
        out.push_back(static_cast<uint8_t>(images[i].height() & 0xFF));
        out.push_back(0); // no palette
        out.push_back(0);
        u16(1);  // colour planes
        u16(32); // bits per pixel
        u32(static_cast<uint32_t>(pngs[i].size()));
        u32(offset);
        offset += static_cast<uint32_t>(pngs[i].size());
    }
    for (const auto& png : pngs)
        out.insert(out.end(), png.begin(), png.end());
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    bool ok = std::fwrite(out.data(), 1, out.size(), file) == out.size();
    if (std::fclose(file) != 0) ok = false;
    return ok;
}

} // namespace artgen
