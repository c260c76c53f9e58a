// settings_dialog.cpp - the settings dialog (see settings_dialog.h).
//
// Index
//   ---- layout and texts ----
//   ---- the dialog ----
//   ---- rules ----
#include "screens/settings_dialog.h"

#include "gfx/font.h"
#include "gfx/palette.h"
#include "screens/skin.h"

#include <GLFW/glfw3.h>

// ---- layout and texts ----
namespace {
// Every text is centred on x = 400: boxes of no width there.
constexpr Rect kTitleBox = {kDialogCentreX, 190, 0, 25};
constexpr Rect kLabelBox = {kDialogCentreX, 225, 0, 20};
constexpr Rect kHintBox = {kDialogCentreX, 302.5f, 0, 20};
constexpr float kFieldY = 248;
constexpr TextStyle kLabelStyle = {{FontFamily::Body, 14}, 0xD6CDB8, 0, Shadow::None, Align::Centre};
constexpr TextStyle kHintStyle = {{FontFamily::Body, 13}, palette::kMuted, 0, Shadow::None, Align::Centre};
constexpr const char* kHint = "Bu bilgisayar: 127.0.0.1  ·  tünel: adres:port";
} // namespace

// ---- the dialog ----

SettingsAction drawSettingsDialog(Ui& ui, const Skin& skin, SettingsDialog& dialog) {
    SettingsAction action = SettingsAction::None;
    drawDialogFrame(ui, skin, "AYARLAR", kTitleBox);
    drawTextInBox(ui, kLabelStyle, kLabelBox, "Sunucu adresi");
    textField(ui, "sunucu", kDialogFieldX, kFieldY, dialog.address, skin.images.fieldBackground);
    drawTextInBox(ui, kHintStyle, kHintBox, kHint);
    if (button(ui, "aiptal", kDialogCancel, "İPTAL", buttonStyle(skin, ButtonKind::Cancel)))
        action = SettingsAction::Cancel;
    if (button(ui, "kaydet", kDialogConfirm, "KAYDET", buttonStyle(skin, ButtonKind::Confirm)))
        action = SettingsAction::Save;
    return action;
}

SettingsAction settingsDialogKey(Ui& ui, const InputEvent& event) {
    if (editFocusedField(ui, event)) return SettingsAction::None;
    if (event.kind != InputEvent::Kind::Key || event.action == GLFW_RELEASE) return SettingsAction::None;
    if (event.key == GLFW_KEY_ESCAPE) return SettingsAction::Cancel;
    if (isEnter(event.key)) return SettingsAction::Save;
    return SettingsAction::None;
}

// ---- rules ----

void openSettingsDialog(ScreenState& state, SettingsDialog& dialog, Ui& ui, const Config& cfg) {
    state.activeModal = Modal::Settings;
    dialog.address.text = configGet(cfg, keys::kServer);
    focusField(ui, &dialog.address);
}

void closeSettingsDialog(ScreenState& state, Ui& ui) {
    state.activeModal = Modal::None;
    focusField(ui, nullptr);
}

void saveSettings(ScreenState& state, SettingsDialog& dialog, Ui& ui, Config& cfg, ServerLink& link) {
    const std::string& typed = dialog.address.text;
    configSet(cfg, keys::kServer, typed.empty() ? std::string(keys::kServer.fallback) : typed);
    saveUserConfig(cfg);
    closeSettingsDialog(state, ui);
    link.serverStatus = ServerStatus::Connecting;
    connectToGameServer(link, LinkMode::Probe, configGet(cfg, keys::kServer));
}
