// cache_fuzz.cpp - the update cache "guncelleme.cache".
//
// Properties: every cached element has a path of at least one byte, a hash without white
// space and a time; the text the launcher would save for it reads back to the same cache,
// and saving that gives the very same bytes again. The pass's table finds every record the
// parser reads, in file order and in reverse, writes the same bytes, and holds the file
// unchanged exactly when those bytes are the input.
#include "fuzz_check.h"
#include "update/filelist.h"

#include <cstdint>
#include <string>

namespace {

bool sameCache(const UpdateCache& a, const UpdateCache& b) {
    if (a.entries.size() != b.entries.size() || a.mtimes != b.mtimes) return false;
    for (auto ia = a.entries.begin(), ib = b.entries.begin(); ia != a.entries.end(); ++ia, ++ib) {
        if (ia->first != ib->first || ia->second.path != ib->second.path ||
            ia->second.hash != ib->second.hash || ia->second.size != ib->second.size)
            return false;
    }
    return true;
}

bool hasWhiteSpace(const std::string& text) {
    return text.find_first_of(" \t\n\v\f\r") != std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    UpdateCache cache = parseUpdateCache(text);
    FUZZ_CHECK(cache.entries.size() == cache.mtimes.size());
    for (const auto& [path, entry] : cache.entries) {
        FUZZ_CHECK(!path.empty());
        FUZZ_CHECK(entry.path == path);
        FUZZ_CHECK(!entry.hash.empty() && !hasWhiteSpace(entry.hash));
        FUZZ_CHECK(path.find('\n') == std::string::npos);
        FUZZ_CHECK(cache.mtimes.count(path) == 1);
    }

    const std::string saved = updateCacheText(cache);
    UpdateCache reread = parseUpdateCache(saved);
    FUZZ_CHECK(sameCache(cache, reread));
    FUZZ_CHECK(updateCacheText(reread) == saved);

    for (const bool reversed : {false, true}) {
        CacheTable table;
        table.adopt(std::string(text));
        FUZZ_CHECK(table.unchangedOnDisk() == (saved == text));
        auto check = [&](const std::string& path, const FileEntry& entry) {
            CacheTable::Record r;
            FUZZ_CHECK(table.find(path, r));
            FUZZ_CHECK(r.hash == entry.hash && r.size == entry.size && r.time == cache.mtimes.at(path));
        };
        if (reversed) {
            for (auto it = cache.entries.rbegin(); it != cache.entries.rend(); ++it)
                check(it->first, it->second);
        } else {
            for (const auto& [path, entry] : cache.entries)
                check(path, entry);
        }
        FUZZ_CHECK(table.text() == saved);
    }
    return 0;
}
