// palette.h - the launcher's colours (0xRRGGBB), named by what they are, and the one
// conversion to the floats OpenGL takes. A colour used by one screen part only stays
// beside that part.
#pragma once

#include <cstdint>

namespace palette {
inline constexpr uint32_t kNight = 0x050609;       // near-black: dimming behind the message box
inline constexpr uint32_t kBlack = 0x000000;       // shadows, the banner caption band
inline constexpr uint32_t kGold = 0xE2C27A;        // accents: caret, news and information titles
inline constexpr uint32_t kGoldHover = 0xFFE2A0;   // a hovered link or headline
inline constexpr uint32_t kParchment = 0xECE6D6;   // running text
inline constexpr uint32_t kMuted = 0xB8AE96;       // greyed labels, tags, placeholders of the news box
inline constexpr uint32_t kButtonLabel = 0xEFE3C4; // labels of the ordinary buttons
inline constexpr uint32_t kError = 0xE07A5F;       // error titles
inline constexpr uint32_t kFieldText = 0xF3EFE6;   // text typed into a field
inline constexpr uint32_t kFieldPlaceholder = 0x8F8778;
} // namespace palette

struct RgbFloat {
    float r, g, b;
};
// 0xRRGGBB -> three channels in 0..1.
constexpr RgbFloat toRgbFloat(uint32_t color) {
    return {static_cast<float>((color >> 16) & 0xFF) / 255.0f,
            static_cast<float>((color >> 8) & 0xFF) / 255.0f, static_cast<float>(color & 0xFF) / 255.0f};
}
