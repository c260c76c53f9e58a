// shortcut.h - the desktop shortcut, put on the player's desktop once.
//
// "Morlaken Online" plus the platform's ending (a desktop entry here, a shell link on
// Windows) in the player's desktop folder, pointing at the launcher's own executable and
// starting in its folder. Once saved, "kisayol=1" goes to launcher.ini, so a shortcut the
// player deleted is not made again. Every failure is silent and leaves "kisayol" unset, so
// the next start tries again. Main thread, start-up, before the window exists.
#pragma once

#include "config/config.h"

inline constexpr const char* kShortcutName = "Morlaken Online";
inline constexpr const char* kShortcutIcon = "veri/logo.png"; // beside the executable

// Nothing when "kisayol" is "1" (either file, the user's first); nothing is saved when
// the desktop folder does not exist or the executable's path is unknown.
void ensureDesktopShortcut(Config& cfg);
