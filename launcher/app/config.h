// config.h - the two key=value files: "launcher.ini" (the player's own, rewritten when
// a setting changes) and "varsayilan.ini" (shipped defaults, only read).
//
// A lookup asks the user file first, the defaults file second, then the caller's
// fallback. Keys and values are uninterpreted bytes: nothing is trimmed, duplicates stay
// in file order and the first one wins. Main thread only.
#pragma once

#include <string>
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

// The process-wide configuration, owned by the application core.
Config& config();

// Clears `outList`, then reads `path` into it. A file that cannot be opened leaves the
// list empty; nothing is reported.
void loadConfigFile(const std::string& path, std::vector<ConfigEntry>& outList);

// First user entry with this key, else first default entry, else `fallback`.
// An entry with an empty value is found like any other.
std::string configGet(const Config& cfg, const std::string& key, const std::string& fallback);
std::string configGet(const std::string& key, const std::string& fallback = "");

// Replaces the value of the first user entry with this key, or appends a new entry.
// The file is not written.
void configSet(Config& cfg, const std::string& key, const std::string& value);
void configSet(const std::string& key, const std::string& value);

// Rewrites the user file from `userEntries`: "key=value" CR LF per entry, in list order.
// The text goes to a temporary file that is then renamed over the old one, so a crash
// never leaves the player's settings cut. Returns false when the save failed (the
// in-memory lists keep their values either way).
bool saveUserConfig(const Config& cfg, const std::string& path);
bool saveUserConfig();

// True exactly when the value is the one-character text "1".
inline bool isSwitchOn(const std::string& value) { return value == "1"; }
