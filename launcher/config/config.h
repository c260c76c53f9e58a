// config.h - the two key=value files: "launcher.ini" (the player's own, rewritten when
// a setting changes) and "varsayilan.ini" (shipped defaults, only read).
//
// A lookup asks the user file first, the defaults file second, then the key's default
// (keys.h). Keys and values are uninterpreted bytes: nothing is trimmed, duplicates stay
// in file order and the first one wins. The caller owns the Config (the app's Launcher);
// main thread only.
#pragma once

#include "config/keys.h"

#include <string>
#include <string_view>
#include <vector>

struct ConfigEntry {
    std::string key;
    std::string value;
};

struct Config {
    std::vector<ConfigEntry> userEntries;    // from "launcher.ini", file order
    std::vector<ConfigEntry> defaultEntries; // from "varsayilan.ini", file order
};

inline constexpr const char* kUserConfigFile = "launcher.ini";
inline constexpr const char* kDefaultConfigFile = "varsayilan.ini";

// Start-up: "launcher.ini" into userEntries, then "varsayilan.ini" into defaultEntries,
// both relative to the working folder (the executable's folder).
void loadConfig(Config& cfg);

// Clears `outList`, then reads `path` into it. A file that cannot be opened leaves the
// list empty; nothing is reported.
void loadConfigFile(const std::string& path, std::vector<ConfigEntry>& outList);

// The reading rules on a whole file's bytes: lines end at LF, one trailing CR is dropped,
// empty lines, '#' lines and lines without '=' are skipped, the rest splits at the first
// '='. A UTF-8 byte-order mark at the very start (Windows editors write one) is skipped.
// Clears `outList` first. Pure; any thread.
void parseConfigText(std::string_view text, std::vector<ConfigEntry>& outList);

// The bytes saveUserConfig writes for `entries`: "key=value" CR LF each, in order (after
// one empty line when the first key starts with a byte-order mark, so that a read gives
// back the same entries).
std::string configText(const std::vector<ConfigEntry>& entries);

// First user entry with this key, else first default entry, else `fallback`.
// An entry with an empty value is found like any other.
std::string configGet(const Config& cfg, std::string_view key, std::string_view fallback);
// The same with the key's own default.
std::string configGet(const Config& cfg, const ConfigKey& key);

// Replaces the value of the first user entry with this key, or appends a new entry.
// The file is not written.
void configSet(Config& cfg, std::string_view key, std::string_view value);
inline void configSet(Config& cfg, const ConfigKey& key, std::string_view value) {
    configSet(cfg, key.name, value);
}

// Rewrites the user file from `userEntries`: "key=value" CR LF per entry, in list order.
// The text goes to a temporary file that is then renamed over the old one, so a crash
// never leaves the player's settings cut. Returns false when the save failed (the
// in-memory lists keep their values either way).
bool saveUserConfig(const Config& cfg, const std::string& path = kUserConfigFile);

// True exactly when the value is the one-character text "1".
inline bool isSwitchOn(std::string_view value) {
    return value == "1";
}
inline bool isSwitchOn(const Config& cfg, const ConfigKey& key) {
    return isSwitchOn(configGet(cfg, key));
}
