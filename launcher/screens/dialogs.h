// dialogs.h - opening and closing the login and settings dialogs. Main thread only.
#pragma once

// activeModal = 1; focus the password field when a username is filled, else the
// username field; restart the caret.
void openLoginDialog();
void closeLoginDialog();
void openSettingsDialog();
void closeSettingsDialog();
