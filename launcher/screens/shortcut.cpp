// shortcut.cpp - the desktop shortcut (see shortcut.h).
#include "screens/shortcut.h"

#include "app/config.h"
#include "platform/platform.h"

#include <string_view>

namespace {

// A string value of a desktop entry: '\' and control characters escaped.
std::string entryValue(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

// One Exec argument: in double quotes when it holds a reserved character, with '"', '`',
// '$' and '\' escaped inside; '%' doubled (field codes). The result is then a string value,
// so its backslashes are escaped once more by entryValue.
std::string execArgument(std::string_view path) {
    static constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
    std::string arg;
    bool quote = false;
    for (char c : path) {
        if (kReserved.find(c) != std::string_view::npos) quote = true;
        if (c == '"' || c == '`' || c == '$' || c == '\\') arg += '\\';
        if (c == '%') arg += '%';
        arg += c;
    }
    if (!quote) {
        // No reserved character: nothing was escaped except '%'.
        return arg;
    }
    return "\"" + arg + "\"";
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(0, slash);
}

} // namespace

std::string desktopEntryText(const std::string& executable) {
    const std::string folder = folderOf(executable);
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Morlaken Online\n"
           "Comment=Morlaken Online\n"
           "Exec=" +
           entryValue(execArgument(executable)) + "\nPath=" + entryValue(folder) +
           "\nIcon=" + entryValue(folder + "/" + kShortcutIcon) + "\nTerminal=false\nCategories=Game;\n";
}

void ensureDesktopShortcut() {
    if (configGet("kisayol") == "1") return;
    const std::string executable = platform::executablePath();
    if (executable.empty()) return;
    const std::string desktop = platform::desktopFolder();
    if (desktop.empty()) return;
    const std::string path = desktop + "/" + kShortcutFileName;
    if (!platform::writeFileAtomically(path, desktopEntryText(executable))) return;
    if (!platform::makeExecutable(path)) return;
    configSet("kisayol", "1");
    saveUserConfig();
}
