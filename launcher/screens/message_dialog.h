// message_dialog.h - the one in-window message box: dimmed window, panel, coloured title,
// wrapped text and a "TAMAM" button on the Message input layer. There is no queue: a new message
// replaces the shown one. Main thread only.
#pragma once

#include "gfx/palette.h"

#include <cstdint>
#include <string>

struct MessageDialog {
    bool visible = false;
    std::string title;
    std::string messageText;  // may hold "\n" line breaks
    uint32_t accentColor = 0; // title colour 0xRRGGBB
};

// The process-wide record; read by the frame loop (input layer, drawing) and the key
// routing (Escape / Enter close it).
MessageDialog& messageDialog();

void showError(const std::string& message); // "HATA", palette::kError
void showInfo(const std::string& message);  // "BİLGİ", palette::kGold
// Copies both strings; the caller keeps its own.
void showMessage(const std::string& title, const std::string& message, uint32_t accentColor);

// Hides the box (the "TAMAM" click and the key routing's Escape / Enter / keypad Enter).
void hideMessage();
bool messageVisible();

// Called by the frame loop while visible, after everything else is drawn; centred in the
// the frame context's window.
void drawMessageDialog();
