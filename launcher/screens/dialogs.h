// dialogs.h - opening and closing the login and settings dialogs, and the key-routing
// hooks that tie the screens to gfx/widgets. Main thread only.
#pragma once

// activeModal = 1; focus the password field when a username is filled, else the
// username field; restart the caret. START, Enter on the bare main screen.
void openLoginDialog();
// activeModal = 0, no focused field (a later login module cancels a running login first).
void closeLoginDialog();
// activeModal = 2; the server-address field gets configGet("sunucu", "127.0.0.1") and
// the focus.
void openSettingsDialog();
// activeModal = 0, no focused field; nothing is saved.
void closeSettingsDialog();

// Points keyHooks() (gfx/widgets.h) at the message dialog and the functions above:
// messageVisible, hideMessage, openLoginDialog, closeLoginDialog, closeSettingsDialog.
// Hooks that belong to later dialogs (submit, save, two-step) are left as they are.
void installScreenKeyHooks();
