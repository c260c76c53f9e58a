// skin.cpp - the launcher's images, button kinds and dialog frame (see skin.h).
//
// Index
//   ---- images ----
//   ---- buttons ----
//   ---- dialog frame ----
#include "screens/skin.h"

#include "gfx/font.h"
#include "gfx/palette.h"

#include <iterator>
#include <string>
#include <vector>

// ---- images ----

namespace {

// Start-up order: the ten screen images, then the main and the ordinary button sets. The
// names are held in place (no pointers), so the tables are read-only data. An image gets
// its mip chain only where some screen draws it smaller than its size; the others are
// drawn at their size (or, the logo on the closing screen and the hovered close button,
// larger).
constexpr size_t kNameRoom = 24;
struct ScreenImage {
    char file[kNameRoom];
    Texture LauncherImages::*slot;
    Mipmaps mipmaps;
};
constexpr ScreenImage kScreenImages[] = {
    {"arkaplan.jpg", &LauncherImages::background, Mipmaps::None},
    {"logo.png", &LauncherImages::logo, Mipmaps::None},
    {"buton_kapat.png", &LauncherImages::closeButton, Mipmaps::None},
    {"kutu.png", &LauncherImages::box, Mipmaps::Full}, // 480 x 330: the news box, the message dialog
    {"afis.jpg", &LauncherImages::banner, Mipmaps::None},
    {"bar_cerceve.png", &LauncherImages::barFrame, Mipmaps::None},
    {"bar_dolgu.png", &LauncherImages::barFill, Mipmaps::None}, // clipped, never scaled
    {"alan_yazi.png", &LauncherImages::fieldBackground, Mipmaps::None},
    {"onay_bos.png", &LauncherImages::checkEmpty, Mipmaps::None},
    {"onay_dolu.png", &LauncherImages::checkFull, Mipmaps::None},
};
// Both sets are drawn smaller than their 136 px in the dialogs (120 px wide buttons).
struct ButtonImage {
    char file[kNameRoom];
    ButtonSkin Skin::*set;
    Texture ButtonSkin::*state;
};
constexpr ButtonImage kButtonImages[] = {
    {"buton_ana_normal.png", &Skin::mainButtons, &ButtonSkin::normal},
    {"buton_ana_hover.png", &Skin::mainButtons, &ButtonSkin::hover},
    {"buton_ana_basili.png", &Skin::mainButtons, &ButtonSkin::pressed},
    {"buton_normal.png", &Skin::ordinaryButtons, &ButtonSkin::normal},
    {"buton_hover.png", &Skin::ordinaryButtons, &ButtonSkin::hover},
    {"buton_basili.png", &Skin::ordinaryButtons, &ButtonSkin::pressed},
};

std::vector<ImageFile> skinFiles() {
    std::vector<ImageFile> files;
    for (const ScreenImage& image : kScreenImages)
        files.push_back({image.file, image.mipmaps});
    for (const ButtonImage& image : kButtonImages)
        files.push_back({image.file, Mipmaps::Full});
    return files;
}

} // namespace

void startDecodingSkin(Skin& skin) {
    startDecoding(skin.decoding, skinFiles());
}

void waitForSkinDecoding(const Skin& skin) {
    waitForDecoding(skin.decoding);
}

void loadSkin(Skin& skin) {
    const std::vector<DecodedImage> decoded = takeDecoded(skin.decoding, skinFiles());
    size_t next = 0;
    for (const ScreenImage& image : kScreenImages)
        skin.images.*image.slot = uploadImage(decoded[next++]);
    for (const ButtonImage& image : kButtonImages)
        (skin.*image.set).*image.state = uploadImage(decoded[next++]);
}

void finishSkinDecoding(Skin& skin) {
    finishDecoding(skin.decoding);
}

void loadClosingImage(Skin& skin) {
    // Drawn over the whole closing window, at its size.
    if (skin.images.closingImage.id == 0)
        skin.images.closingImage = loadTexture(kClosingImage, Mipmaps::None);
}

// ---- buttons ----

namespace {
constexpr uint32_t kGoldLabel = 0xFBE3C2; // the main set's labels
struct ButtonLabel {
    bool mainSet;
    FontRequest font;
    uint32_t color;
    float spacing;
};
constexpr ButtonLabel kButtonLabels[] = {
    {true, {FontFamily::Display, 16}, kGoldLabel, 2.0f},             // Start
    {false, {FontFamily::Display, 12}, palette::kButtonLabel, 1.0f}, // Small
    {false, {FontFamily::Display, 12}, palette::kButtonLabel, 0.0f}, // Cancel
    {true, {FontFamily::Display, 14}, kGoldLabel, 1.0f},             // Confirm
};
} // namespace

ButtonStyle buttonStyle(const Skin& skin, ButtonKind kind) {
    const ButtonLabel& label = kButtonLabels[static_cast<int>(kind)];
    return {label.mainSet ? &skin.mainButtons : &skin.ordinaryButtons, label.font, label.color,
            label.spacing};
}

FontRequest buttonFont(ButtonKind kind) {
    return kButtonLabels[static_cast<int>(kind)].font;
}

// ---- dialog frame ----

namespace {
constexpr TextStyle kDialogTitle = {
    {FontFamily::Display, 18}, palette::kGold, 3.0f, Shadow::None, Align::Centre};
} // namespace

void drawDialogFrame(Ui& ui, const Skin& skin, std::string_view title, const Rect& titleBox) {
    beginLayer(ui, InputLayer::Dialog);
    fillRect(windowRect(ui.frame), palette::kNight, kDialogDim);
    drawTexture(skin.images.box, kDialogPanel);
    drawTextInBox(ui, kDialogTitle, titleBox, title);
}
