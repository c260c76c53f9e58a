// settings_dialog.h - the settings dialog: the game-server address ("sunucu").
//
// Opened by AYARLAR, closed without saving by İPTAL and Escape; KAYDET and Enter save,
// which writes launcher.ini and probes the new address. Main thread only.
//
// Index
//   ---- state ----      SettingsDialog
//   ---- the dialog ---- SettingsAction, drawSettingsDialog, settingsDialogKey
//   ---- rules ----      openSettingsDialog, closeSettingsDialog, saveSettings
#pragma once

#include "config/config.h"
#include "gfx/ui.h"
#include "gfx/widgets.h"
#include "login/gameserver.h"
#include "screens/screen_state.h"

struct Skin;

// ---- state ----

// The dialog's one field; owned by the app's Launcher.
struct SettingsDialog {
    TextField address = makeTextField(FieldKind::ServerAddress, 64, keys::kServer.fallback);
};

// ---- the dialog ----

enum class SettingsAction { None, Save, Cancel };

// Draws and hit-tests the dialog over the main screen; its field's focus is its own.
SettingsAction drawSettingsDialog(Ui& ui, const Skin& skin, SettingsDialog& dialog);

// A key or character while the dialog is on top: Enter saves, Escape cancels; the field
// takes characters, Backspace and Ctrl+V (Tab does nothing: there is one field).
SettingsAction settingsDialogKey(Ui& ui, const InputEvent& event);

// ---- rules ----

// AYARLAR: the field gets the "sunucu" value and the focus.
void openSettingsDialog(ScreenState& state, SettingsDialog& dialog, Ui& ui, const Config& cfg);
// İPTAL, Escape: closed with no field focused; nothing is saved.
void closeSettingsDialog(ScreenState& state, Ui& ui);
// KAYDET, Enter: "sunucu" = the field's text (the default address when empty; no other
// check, a bad address is reported by the connection), launcher.ini rewritten, the dialog
// closed, the server status back to Connecting and a Probe connection to the new address.
void saveSettings(ScreenState& state, SettingsDialog& dialog, Ui& ui, Config& cfg, ServerLink& link);
