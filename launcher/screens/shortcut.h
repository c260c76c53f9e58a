// shortcut.h - the desktop shortcut, put on the player's desktop once.
//
// "Morlaken Online.desktop" in platform::desktopFolder(), executable, pointing at the
// launcher's own executable. Once written, "kisayol=1" goes to launcher.ini, so a shortcut
// the player deleted is not made again. Every failure is silent and leaves "kisayol" unset,
// so the next start tries again. Main thread, start-up, before the window exists.
#pragma once

#include <string>

inline constexpr const char* kShortcutFileName = "Morlaken Online.desktop";
inline constexpr const char* kShortcutIcon = "veri/logo.png"; // beside the executable

// A desktop entry for `executable` (an absolute path): Name, Exec quoted by the desktop
// entry rules (a path with blanks or quotes stays one argument), Path = its folder,
// Icon = kShortcutIcon in that folder, Type=Application.
std::string desktopEntryText(const std::string& executable);

// Nothing when "kisayol" is "1" (either file, the user's first); nothing is written when
// the desktop folder does not exist or the executable's path is unknown.
void ensureDesktopShortcut();
