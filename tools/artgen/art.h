// art.h - every image of the launcher's veri/ folder, painted procedurally.
//
// Index
//   ---- materials ----     goldRamp, bevelLight, sdfNormal (shared by the painters)
//   ---- interface art ---- logo, close button, panel, bar frame and fill, text field,
//                           check boxes, the two button sets   (ui_art.cpp)
//   ---- scenes ----        background, news banner, closing screen   (scenes.cpp)
//
// Each painter returns a canvas of exactly the size the launcher draws the image at.
// Painters are pure functions of their arguments: the same call always gives the same
// pixels. Straight alpha is produced by the writers in paint.h.
#pragma once

#include "paint.h"

#include <cmath>

namespace artgen {

// ---- materials ----

// Gold from dark bronze (0) through 0xE2C27A (about 0.8) to a pale highlight (1).
Rgb goldRamp(float light);
// Light falling on a rounded metal band: t runs from -1 (inner edge) to 1 (outer edge),
// (nx, ny) is the shape's outward unit normal. The light comes from the upper left.
float bevelLight(float t, float nx, float ny);

// Outward unit normal of a distance function at (x, y), by central differences.
template <class Sdf> void sdfNormal(const Sdf& sdf, float x, float y, float& outNx, float& outNy) {
    const float e = 0.5f;
    float gx = sdf(x + e, y) - sdf(x - e, y);
    float gy = sdf(x, y + e) - sdf(x, y - e);
    float len = gx * gx + gy * gy;
    if (len < 1e-12f) {
        outNx = 0.0f;
        outNy = -1.0f;
        return;
    }
    float inv = 1.0f / std::sqrt(len);
    outNx = gx * inv;
    outNy = gy * inv;
}

// ---- interface art ----

enum class ButtonLook { Normal, Hover, Pressed };

struct Fonts {
    Font display; // Cinzel Bold
    Font body;    // EB Garamond Regular
};

Canvas paintLogo(const Fonts& fonts);    // 320 x 168, transparent
Canvas paintCloseButton();               // 36 x 36
Canvas paintPanel();                     // 480 x 330
Canvas paintBarFrame();                  // 420 x 70, fill window (52, 24, 316 x 22) clear
Canvas paintBarFill();                   // 316 x 22, opaque
Canvas paintTextField();                 // 280 x 50
Canvas paintCheckBox(bool checked);      // 18 x 18
Canvas paintMainButton(ButtonLook look); // 136 x 45
Canvas paintButton(ButtonLook look);     // 136 x 32
// The program icon at size x size: a gold-framed night-blue tile with a gold "M".
Canvas paintIcon(const Fonts& fonts, int size);
// The icon's sizes, smallest first, as the icon group carries them.
inline constexpr int kIconSizes[] = {16, 24, 32, 48, 64, 128, 256};

// ---- scenes ----

Canvas paintBackground();                // 800 x 610, opaque
Canvas paintBanner();                    // 346 x 176, opaque
Canvas paintClosing(const Fonts& fonts); // 1280 x 640, opaque

} // namespace artgen
