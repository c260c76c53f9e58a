// shortcut.cpp - the desktop shortcut (see shortcut.h).
#include "app/shortcut.h"

#include "platform/platform.h"

#include <string>

namespace {

// The executable's folder: up to its last '/' or '\', or the whole path without either.
std::string folderOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(0, slash);
}

} // namespace

void ensureDesktopShortcut(Config& cfg) {
    if (isSwitchOn(cfg, keys::kShortcutDone)) return;
    const std::string executable = platform::executablePath();
    if (executable.empty()) return;
    const std::string folder = folderOf(executable);
    const platform::DesktopShortcut shortcut{kShortcutName, executable, folder, folder + "/" + kShortcutIcon,
                                             kShortcutName};
    if (!platform::saveDesktopShortcut(shortcut)) return;
    configSet(cfg, keys::kShortcutDone, "1");
    saveUserConfig(cfg);
}
