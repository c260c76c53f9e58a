// dialogs.cpp - opening and closing the modal dialogs; the key-routing hooks.
#include "screens/dialogs.h"

#include "app/config.h"
#include "app/ui_state.h"
#include "gfx/widgets.h"
#include "screens/message_dialog.h"

void openLoginDialog() {
    ui().activeModal = 1;
    focusedField() = usernameField().text.empty() ? &usernameField() : &passwordField();
    caretStart() = now();
}

void closeLoginDialog() {
    ui().activeModal = 0;
    focusedField() = nullptr;
}

void openSettingsDialog() {
    ui().activeModal = 2;
    serverAddressField().text = configGet("sunucu", "127.0.0.1");
    focusedField() = &serverAddressField();
    caretStart() = now();
}

void closeSettingsDialog() {
    ui().activeModal = 0;
    focusedField() = nullptr;
}

void installScreenKeyHooks() {
    KeyRoutingHooks& h = keyHooks();
    h.messageVisible = messageVisible;
    h.hideMessage = hideMessage;
    h.openLoginDialog = openLoginDialog;
    h.closeLoginDialog = closeLoginDialog;
    h.closeSettingsDialog = closeSettingsDialog;
}
