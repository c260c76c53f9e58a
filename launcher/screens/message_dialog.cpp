// message_dialog.cpp - the in-window message box.
//
// Index
//   ---- record and raising ----  messageDialog, showError, showInfo, showMessage, hideMessage
//   ---- drawing ----             drawMessageDialog
#include "screens/message_dialog.h"

#include "app/ui_state.h"
#include "gfx/font.h"
#include "gfx/texture.h"
#include "gfx/widgets.h"

#include <GL/gl.h>

// ---- tunables ----
namespace {
constexpr int kPanelWidth = 460;
constexpr int kPanelHeight = 290;
constexpr float kDimOpacity = 0.35f;
constexpr uint32_t kDimColor = 0x050609;
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
constexpr uint32_t kTextColor = 0xECE6D6;
constexpr float kButtonLeft = 170;
constexpr float kButtonTop = 203;
constexpr float kButtonWidth = 120;
constexpr float kButtonHeight = 28;
constexpr float kButtonFontSize = 12;
constexpr uint32_t kButtonLabelColor = 0xEFE3C4;
constexpr int kMessageLayer = 2;
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
    showMessage("HATA", message, kErrorAccent);
}
void showInfo(const std::string& message) {
    showMessage("BİLGİ", message, kInfoAccent);
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
    const UiState& s = ui();
    const float w = static_cast<float>(s.windowWidth);
    const float h = static_cast<float>(s.windowHeight);
    fillRect(0, 0, w, h, kDimColor, kDimOpacity, kDimOpacity);

    // The difference is taken in integers and halved in floating point, so an odd
    // difference puts the panel on a half pixel, as the layout has always done.
    const float x0 = static_cast<float>(s.windowWidth - kPanelWidth) * 0.5f;
    const float y0 = static_cast<float>(s.windowHeight - kPanelHeight) * 0.5f;
    drawTexture(images().box, x0, y0, kPanelWidth, kPanelHeight, 1.0f);

    const FontAtlas& titleFont = getFont(0, kTitleSize);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, titleFont.texture);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    const uint32_t c = d.accentColor;
    drawGlyphRun(titleFont, x0 + kTextLeft, y0 + kTitleTop + titleFont.ascent, d.title,
                 static_cast<float>((c >> 16) & 0xFF) / 255.0f, static_cast<float>((c >> 8) & 0xFF) / 255.0f,
                 static_cast<float>(c & 0xFF) / 255.0f, 1.0f, kTitleSpacing);

    setClip(x0 + kTextLeft, y0 + kClipTop, kClipWidth, kClipHeight);
    drawParagraph(getFont(1, kTextSize), x0 + kTextLeft, y0 + kFirstLineTop, kClipWidth, kLineAdvance,
                  d.messageText, kTextColor, 0);
    glDisable(GL_SCISSOR_TEST);

    if (button("tamam", kMessageLayer, x0 + kButtonLeft, y0 + kButtonTop, kButtonWidth, kButtonHeight,
               ordinaryButtonSkin(), "TAMAM", getFont(0, kButtonFontSize), kButtonLabelColor, 0.0f, false)) {
        hideMessage();
    }
}
