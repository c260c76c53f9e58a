// config.cpp - the two key=value files "launcher.ini" and "varsayilan.ini".
//
// Index
//   ---- the process-wide configuration ----
//   ---- reading ----
//   ---- lookups and changes ----
//   ---- writing ----
#include "app/config.h"

#include "platform/platform.h"

#include <cstdio>

// ---- the process-wide configuration ----

Config& config() {
    static Config instance;
    return instance;
}

// ---- reading ----

namespace {

// One line of either file, without its LF: a trailing CR is dropped, then empty lines,
// '#' lines and lines without '=' are skipped. Nothing is trimmed, so a blank before a
// key or a byte-order mark at the start of the file stays part of the key.
void addLine(std::string& line, std::vector<ConfigEntry>& outList) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') return;
    size_t equals = line.find('=');
    if (equals == std::string::npos) return;
    outList.push_back(ConfigEntry{line.substr(0, equals), line.substr(equals + 1)});
}

} // namespace

void loadConfigFile(const std::string& path, std::vector<ConfigEntry>& outList) {
    outList.clear();
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return;
    std::string line;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        for (size_t i = 0; i < n; ++i) {
            if (buffer[i] == '\n') {
                addLine(line, outList);
                line.clear();
            } else {
                line += buffer[i];
            }
        }
    }
    std::fclose(file);
    if (!line.empty()) addLine(line, outList); // the last line may lack its LF
}

// ---- lookups and changes ----

std::string configGet(const Config& cfg, const std::string& key, const std::string& fallback) {
    for (const ConfigEntry& e : cfg.userEntries)
        if (e.key == key) return e.value;
    for (const ConfigEntry& e : cfg.defaultEntries)
        if (e.key == key) return e.value;
    return fallback;
}

std::string configGet(const std::string& key, const std::string& fallback) {
    return configGet(config(), key, fallback);
}

void configSet(Config& cfg, const std::string& key, const std::string& value) {
    for (ConfigEntry& e : cfg.userEntries) {
        if (e.key == key) {
            e.value = value;
            return;
        }
    }
    cfg.userEntries.push_back(ConfigEntry{key, value});
}

void configSet(const std::string& key, const std::string& value) {
    configSet(config(), key, value);
}

// ---- writing ----

bool saveUserConfig(const Config& cfg, const std::string& path) {
    std::string text;
    for (const ConfigEntry& e : cfg.userEntries) {
        text += e.key;
        text += '=';
        text += e.value;
        text += "\r\n";
    }
    return platform::writeFileAtomically(path, text);
}

bool saveUserConfig() {
    return saveUserConfig(config(), kUserConfigFile);
}
