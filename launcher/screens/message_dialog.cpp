// message_dialog.cpp - the in-window message box.
//
// Index
//   ---- record and raising ----  messageDialog, showError, showInfo, showMessage, hideMessage
//   ---- drawing ----             drawMessageDialog
#include "screens/message_dialog.h"

#include "gfx/font.h"
#include "gfx/texture.h"
#include "gfx/widgets.h"

// ---- tunables ----
namespace {
constexpr int kPanelWidth = 460;
constexpr int kPanelHeight = 290;
constexpr float kDimOpacity = 0.35f;
constexpr float kTitleSize = 13;
constexpr float kTitleSpacing = 2.0f;
constexpr float kTextSize = 18;
constexpr float kTextLeft = 52;
constexpr float kTitleTop = 73;
constexpr float kClipTop = 93;
constexpr float kClipWidth = 356;
constexpr float kClipHeight = 112;
constexpr float kFirstLineTop = 99;
constexpr float kLineAdvance = 26;
constexpr float kButtonLeft = 170;
constexpr float kButtonTop = 203;
constexpr float kButtonWidth = 120;
constexpr float kButtonHeight = 28;
constexpr ButtonStyle kButtonStyle = {ordinaryButtonSkin, FontFamily::Display, 12, palette::kButtonLabel,
                                      0.0f};
} // namespace

// ---- record and raising ----

MessageDialog& messageDialog() {
    static MessageDialog dialog;
    return dialog;
}

void showMessage(const std::string& title, const std::string& message, uint32_t accentColor) {
    MessageDialog& d = messageDialog();
    d.visible = true;
    d.title = title;
    d.messageText = message;
    d.accentColor = accentColor;
}

void showError(const std::string& message) {
    showMessage("HATA", message, palette::kError);
}
void showInfo(const std::string& message) {
    showMessage("BİLGİ", message, palette::kGold);
}

void hideMessage() {
    messageDialog().visible = false;
}
bool messageVisible() {
    return messageDialog().visible;
}

// ---- drawing ----

void drawMessageDialog() {
    MessageDialog& d = messageDialog();
    const FrameContext& s = frameContext();
    const float w = static_cast<float>(s.windowWidth);
    const float h = static_cast<float>(s.windowHeight);
    fillRect(0, 0, w, h, palette::kNight, kDimOpacity, kDimOpacity);

    // The difference is taken in integers and halved in floating point, so an odd
    // difference puts the panel on a half pixel, as the layout has always done.
    const float x0 = static_cast<float>(s.windowWidth - kPanelWidth) * 0.5f;
    const float y0 = static_cast<float>(s.windowHeight - kPanelHeight) * 0.5f;
    drawTexture(images().box, x0, y0, kPanelWidth, kPanelHeight, 1.0f);

    const FontAtlas& titleFont = getFont(FontFamily::Display, kTitleSize);
    bindFontAtlas(titleFont);
    drawGlyphRun(titleFont, x0 + kTextLeft, y0 + kTitleTop + titleFont.ascent, d.title, d.accentColor, 1.0f,
                 kTitleSpacing);

    setClip(x0 + kTextLeft, y0 + kClipTop, kClipWidth, kClipHeight);
    drawParagraph(getFont(FontFamily::Body, kTextSize), x0 + kTextLeft, y0 + kFirstLineTop, kClipWidth,
                  kLineAdvance, d.messageText, palette::kParchment, Align::Left);
    endClip();

    if (button("tamam", InputLayer::Message, x0 + kButtonLeft, y0 + kButtonTop, kButtonWidth, kButtonHeight,
               "TAMAM", kButtonStyle)) {
        hideMessage();
    }
}
