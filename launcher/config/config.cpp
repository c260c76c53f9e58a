// config.cpp - the two key=value files "launcher.ini" and "varsayilan.ini".
//
// Index
//   ---- reading ----
//   ---- lookups and changes ----
//   ---- writing ----
#include "config/config.h"

#include "platform/lines.h"
#include "platform/platform.h"

#include <cstdio>

// ---- reading ----

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// One line of either file, without its LF: a trailing CR is dropped, then empty lines,
// '#' lines and lines without '=' are skipped. Nothing is trimmed, so a blank before a
// key stays part of the key.
void addLine(std::string_view line, std::vector<ConfigEntry>& outList) {
    if (line.empty() || line[0] == '#') return;
    size_t equals = line.find('=');
    if (equals == std::string_view::npos) return;
    outList.push_back(ConfigEntry{std::string(line.substr(0, equals)), std::string(line.substr(equals + 1))});
}

} // namespace

void parseConfigText(std::string_view text, std::vector<ConfigEntry>& outList) {
    outList.clear();
    // Notepad and other Windows editors save UTF-8 with a byte-order mark; kept, it would
    // become part of the first key and hide it (an unseen "guncelleme" switches updates off).
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) text.remove_prefix(kByteOrderMark.size());
    platform::LineReader lines(text);
    std::string_view line;
    while (lines.next(line))
        addLine(line, outList);
}

void loadConfigFile(const std::string& path, std::vector<ConfigEntry>& outList) {
    outList.clear();
    std::string text;
    platform::readWholeFile(path, text); // a missing file reads as empty; a torn read keeps what it got
    parseConfigText(text, outList);
}

void loadConfig(Config& cfg) {
    loadConfigFile(kUserConfigFile, cfg.userEntries);
    loadConfigFile(kDefaultConfigFile, cfg.defaultEntries);
}

// ---- lookups and changes ----

std::string configGet(const Config& cfg, std::string_view key, std::string_view fallback) {
    for (const ConfigEntry& e : cfg.userEntries)
        if (e.key == key) return e.value;
    for (const ConfigEntry& e : cfg.defaultEntries)
        if (e.key == key) return e.value;
    return std::string(fallback);
}

std::string configGet(const Config& cfg, const ConfigKey& key) {
    return configGet(cfg, key.name, key.fallback);
}

void configSet(Config& cfg, std::string_view key, std::string_view value) {
    for (ConfigEntry& e : cfg.userEntries) {
        if (e.key == key) {
            e.value = value;
            return;
        }
    }
    cfg.userEntries.push_back(ConfigEntry{std::string(key), std::string(value)});
}

// ---- writing ----

std::string configText(const std::vector<ConfigEntry>& entries) {
    std::string text;
    // A first key that itself begins with a byte-order mark (a file that had two) would
    // lose it on the next read: an empty line first keeps it away from the file's start.
    if (!entries.empty() && entries[0].key.compare(0, kByteOrderMark.size(), kByteOrderMark) == 0)
        text += "\r\n";
    for (const ConfigEntry& e : entries) {
        text += e.key;
        text += '=';
        text += e.value;
        text += "\r\n";
    }
    return text;
}

bool saveUserConfig(const Config& cfg, const std::string& path) {
    return platform::writeFileAtomically(path, configText(cfg.userEntries));
}
