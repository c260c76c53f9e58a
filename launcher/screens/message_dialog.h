// message_dialog.h - the one in-window message box (no queue: a new message replaces
// the shown one). Main thread only.
#pragma once

#include <cstdint>
#include <string>

struct MessageDialog {
    bool visible = false;
    std::string title;
    std::string messageText;
    uint32_t accentColor = 0;
};

MessageDialog& messageDialog();

void showError(const std::string& message);  // "HATA", 0xE07A5F
void showInfo(const std::string& message);   // "BİLGİ", 0xE2C27A
void showMessage(const std::string& title, const std::string& message, uint32_t accentColor);

// Called by the frame loop while visible, after everything else is drawn.
void drawMessageDialog();
