// settings_dialog.h - the settings dialog: the game-server address ("sunucu").
//
// Opened by AYARLAR (openSettingsDialog, dialogs.h), closed without saving by İPTAL and
// Escape (closeSettingsDialog). Saving writes launcher.ini and probes the new address.
// Main thread only.
#pragma once

// Every frame while activeModal is Settings, after the main screen, before the message box.
void drawSettingsDialog();

// KAYDET, Enter: "sunucu" = the field's text ("127.0.0.1" when empty; no other check, a bad
// address is reported by the connection), launcher.ini rewritten, the dialog closed, the
// server status back to Connecting and a Probe connection to the new address.
void saveSettings();
