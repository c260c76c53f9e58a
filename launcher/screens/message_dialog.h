// message_dialog.h - the one in-window message box: dimmed window, panel, coloured title,
// wrapped text and a "TAMAM" button on the Message input layer. There is no queue: a new
// message replaces the shown one. Main thread only.
//
// Index
//   ---- state ----    MessageDialog
//   ---- raising ----  showError, showInfo, showMessage, hideMessage
//   ---- frame ----    drawMessageDialog, messageDialogKey
#pragma once

#include "gfx/ui.h"

#include <cstdint>
#include <string>

struct Skin;

// ---- state ----

// Owned by the app's Launcher; every module's messages to the player end here.
struct MessageDialog {
    bool visible = false;
    std::string title;
    std::string messageText;  // may hold "\n" line breaks
    uint32_t accentColor = 0; // title colour 0xRRGGBB
};

// ---- raising ----

void showError(MessageDialog& dialog, const std::string& message); // "HATA", palette::kError
void showInfo(MessageDialog& dialog, const std::string& message);  // "BİLGİ", palette::kGold
// Copies both strings; the caller keeps its own.
void showMessage(MessageDialog& dialog, const std::string& title, const std::string& message,
                 uint32_t accentColor);
void hideMessage(MessageDialog& dialog);

// ---- frame ----

// While visible, after everything else is drawn; centred in the frame's window. "TAMAM"
// hides it.
void drawMessageDialog(Ui& ui, const Skin& skin, MessageDialog& dialog);

// A key while the box is on top: Escape, Enter and the keypad's Enter (pressed or
// repeated) hide it; every other key and character is swallowed.
void messageDialogKey(MessageDialog& dialog, const InputEvent& event);
