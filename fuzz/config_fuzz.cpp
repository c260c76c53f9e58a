// config_fuzz.cpp - the key=value files "launcher.ini" and "varsayilan.ini".
//
// Properties: no key holds '=' or a line feed and none starts with '#'; the text the
// launcher saves for the entries reads back to the very same entries in the same order,
// so a save never changes what the next start sees; lookups find the first entry.
#include "config/config.h"
#include "fuzz_check.h"

#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<ConfigEntry> entries{{"left", "over"}};
    parseConfigText(text, entries);
    for (const ConfigEntry& e : entries) {
        FUZZ_CHECK(e.key.find('=') == std::string::npos);
        FUZZ_CHECK(e.key.find('\n') == std::string::npos && e.value.find('\n') == std::string::npos);
        FUZZ_CHECK(e.key.empty() || e.key[0] != '#');
    }

    std::vector<ConfigEntry> reread;
    parseConfigText(configText(entries), reread);
    FUZZ_CHECK(reread.size() == entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        FUZZ_CHECK(reread[i].key == entries[i].key);
        FUZZ_CHECK(reread[i].value == entries[i].value);
    }

    Config cfg;
    cfg.defaultEntries = entries;
    for (size_t i = 0; i < entries.size() && i < 32; ++i) { // lookups are linear: a sample will do
        const ConfigEntry& e = entries[i];
        size_t first = 0;
        while (entries[first].key != e.key)
            ++first;
        FUZZ_CHECK(configGet(cfg, e.key, "\x01") == entries[first].value);
    }
    return 0;
}
