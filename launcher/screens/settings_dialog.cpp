// settings_dialog.cpp - the settings dialog (see settings_dialog.h).
#include "screens/settings_dialog.h"

#include "config/config.h"
#include "gfx/font.h"
#include "gfx/palette.h"
#include "gfx/texture.h"
#include "gfx/widgets.h"
#include "login/gameserver.h"
#include "screens/dialogs.h"
#include "screens/main_screen.h"
#include "screens/ui_state.h"

// ---- tunables ----
namespace {
constexpr InputLayer kLayer = InputLayer::Dialog;
constexpr float kDimOpacity = 0.6f;
constexpr float kPanelX = 160, kPanelY = 130, kPanelWidth = 480, kPanelHeight = 330;
constexpr float kCentreX = 400;
constexpr float kTitleSize = 18, kTitleSpacing = 3.0f, kTitleCentreY = 202.5f;
constexpr float kLabelSize = 14, kLabelCentreY = 235;
constexpr uint32_t kLabelColor = 0xD6CDB8;
constexpr float kFieldX = 260, kFieldY = 248;
constexpr float kHintSize = 13, kHintCentreY = 312.5f;
constexpr const char* kHint = "Bu bilgisayar: 127.0.0.1  ·  tünel: adres:port";
constexpr ButtonStyle kCancelStyle = {ordinaryButtonSkin, FontFamily::Display, 12, palette::kButtonLabel,
                                      0.0f};
constexpr ButtonStyle kSaveStyle = {mainButtonSkin, FontFamily::Display, 14, 0xFBE3C2, 1.0f};

// A text centred on x = 400 (left edge rounded, as the other dialogs place theirs) and on
// y = centreY.
void centredText(FontFamily family, float size, float spacing, float centreY, const char* text,
                 uint32_t color) {
    const FontAtlas& font = getFont(family, size);
    const float w = textWidth(font, text, spacing);
    const float baseline = centreY + (font.ascent + font.descent) * 0.5f;
    drawText(font, nearest(kCentreX - w * 0.5f), baseline, text, color, spacing, Shadow::None, 1.0f);
}
} // namespace

// ---- drawing ----

void drawSettingsDialog() {
    const FrameContext& s = frameContext();
    fillRect(0, 0, static_cast<float>(s.windowWidth), static_cast<float>(s.windowHeight), palette::kNight,
             kDimOpacity, kDimOpacity);
    drawTexture(images().box, kPanelX, kPanelY, kPanelWidth, kPanelHeight, 1.0f);
    centredText(FontFamily::Display, kTitleSize, kTitleSpacing, kTitleCentreY, "AYARLAR", palette::kGold);
    centredText(FontFamily::Body, kLabelSize, 0.0f, kLabelCentreY, "Sunucu adresi", kLabelColor);
    textField("sunucu", kLayer, kFieldX, kFieldY, serverAddressField());
    centredText(FontFamily::Body, kHintSize, 0.0f, kHintCentreY, kHint, palette::kMuted);
    if (button("aiptal", kLayer, 272, 361, 120, 28, "İPTAL", kCancelStyle)) closeSettingsDialog();
    if (button("kaydet", kLayer, 408, 355, 120, 40, "KAYDET", kSaveStyle)) saveSettings();
}

// ---- saving ----

void saveSettings() {
    const std::string& typed = serverAddressField().text;
    configSet("sunucu", typed.empty() ? std::string(kDefaultServerAddress) : typed);
    saveUserConfig();
    closeSettingsDialog();
    serverStatus() = ServerStatus::Connecting;
    connectToGameServer(LinkMode::Probe);
}
