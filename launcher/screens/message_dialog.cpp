// message_dialog.cpp - the in-window message box.
//
// Index
//   ---- raising ----  showError, showInfo, showMessage, hideMessage
//   ---- frame ----    drawMessageDialog, messageDialogKey
#include "screens/message_dialog.h"

#include "gfx/font.h"
#include "gfx/palette.h"
#include "gfx/texture.h"
#include "gfx/widgets.h"
#include "screens/skin.h"

#include <GLFW/glfw3.h>

// ---- tunables ----
namespace {
constexpr int kPanelWidth = 460;
constexpr int kPanelHeight = 290;
constexpr float kDimOpacity = 0.35f;
// Relative to the panel's corner.
constexpr float kTextLeft = 52;
constexpr float kTitleTop = 73; // the title's ascent starts here
constexpr Rect kTextClip = {kTextLeft, 93, 356, 112};
constexpr Rect kFirstLine = {kTextLeft, 99, 356, 26}; // then one line every 26 px
constexpr Rect kButton = {170, 203, 120, 28};
constexpr FontRequest kTitleFont = {FontFamily::Display, 13};
constexpr float kTitleSpacing = 2.0f;
constexpr TextStyle kTextStyle = {{FontFamily::Body, 18}, palette::kParchment};

Rect offset(const Rect& r, float x, float y) {
    return {x + r.x, y + r.y, r.w, r.h};
}
} // namespace

// ---- raising ----

void showMessage(MessageDialog& d, const std::string& title, const std::string& message,
                 uint32_t accentColor) {
    d.visible = true;
    d.title = title;
    d.messageText = message;
    d.accentColor = accentColor;
}

void showError(MessageDialog& d, const std::string& message) {
    showMessage(d, "HATA", message, palette::kError);
}
void showInfo(MessageDialog& d, const std::string& message) {
    showMessage(d, "BİLGİ", message, palette::kGold);
}

void hideMessage(MessageDialog& d) {
    d.visible = false;
}

// ---- frame ----

void drawMessageDialog(Ui& ui, const Skin& skin, MessageDialog& d) {
    beginLayer(ui, InputLayer::Message);
    const FrameContext& s = ui.frame;
    fillRect(windowRect(s), palette::kNight, kDimOpacity);

    // The difference is taken in integers and halved in floating point, so an odd
    // difference puts the panel on a half pixel, as the layout has always done.
    const float x0 = static_cast<float>(s.windowWidth - kPanelWidth) * 0.5f;
    const float y0 = static_cast<float>(s.windowHeight - kPanelHeight) * 0.5f;
    drawTexture(skin.images.box, {x0, y0, kPanelWidth, kPanelHeight});

    const FontAtlas& titleFont = getFont(ui, kTitleFont);
    drawText(ui, {kTitleFont, d.accentColor, kTitleSpacing}, x0 + kTextLeft,
             y0 + kTitleTop + titleFont.ascent, d.title);

    setClip(ui.frame, offset(kTextClip, x0, y0));
    drawParagraph(ui, kTextStyle, offset(kFirstLine, x0, y0), d.messageText);
    endClip();

    if (button(ui, "tamam", offset(kButton, x0, y0), "TAMAM", buttonStyle(skin, ButtonKind::Cancel)))
        hideMessage(d);
}

void messageDialogKey(MessageDialog& d, const InputEvent& event) {
    if (event.kind == InputEvent::Kind::Key && event.action != GLFW_RELEASE &&
        (event.key == GLFW_KEY_ESCAPE || isEnter(event.key)))
        hideMessage(d);
}
