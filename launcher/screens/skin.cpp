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
// names are held in place (no pointers), so the tables are read-only data.
constexpr size_t kNameRoom = 24;
struct ScreenImage {
    char file[kNameRoom];
    Texture LauncherImages::*slot;
};
constexpr ScreenImage kScreenImages[] = {
    {"arkaplan.jpg", &LauncherImages::background},
    {"logo.png", &LauncherImages::logo},
    {"buton_kapat.png", &LauncherImages::closeButton},
    {"kutu.png", &LauncherImages::box},
    {"afis.jpg", &LauncherImages::banner},
    {"bar_cerceve.png", &LauncherImages::barFrame},
    {"bar_dolgu.png", &LauncherImages::barFill},
    {"alan_yazi.png", &LauncherImages::fieldBackground},
    {"onay_bos.png", &LauncherImages::checkEmpty},
    {"onay_dolu.png", &LauncherImages::checkFull},
};
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

std::vector<std::string> skinFiles() {
    std::vector<std::string> files;
    for (const ScreenImage& image : kScreenImages)
        files.emplace_back(image.file);
    for (const ButtonImage& image : kButtonImages)
        files.emplace_back(image.file);
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
    if (skin.images.closingImage.id == 0) skin.images.closingImage = loadTexture(kClosingImage);
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
