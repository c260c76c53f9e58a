// screens.h - the screens' state together: what is on screen and every dialog's own
// state. Owned by the app's Launcher, which hands each screen function its part.
#pragma once

#include "screens/login_dialog.h"
#include "screens/main_screen.h"
#include "screens/message_dialog.h"
#include "screens/screen_state.h"
#include "screens/settings_dialog.h"

struct Screens {
    ScreenState state;
    MessageDialog message;
    LoginDialog login;
    SettingsDialog settings;
    MainScreen main;
};
