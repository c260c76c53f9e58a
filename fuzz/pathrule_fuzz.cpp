// pathrule_fuzz.cpp - the rule for paths in the file list (isSafeRelativePath).
//
// Property: an accepted path never leaves the game folder. Read with '/' and '\' both as
// separators (as Windows reads them), every prefix stays inside the folder, the path is
// not absolute or drive-relative, holds no NUL, and fits the length bounds; and the
// standard library's own lexical normalisation of folder/path stays under the folder.
#include "fuzz_check.h"
#include "update/filelist.h"

#include <cstdint>
#include <filesystem>
#include <string>

namespace {

// Depth below the folder after each segment; false as soon as it would climb above it.
bool staysInside(std::string_view path) {
    long depth = 0;
    size_t start = 0;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '/' && path[i] != '\\') continue;
        std::string_view segment = path.substr(start, i - start);
        start = i + 1;
        if (segment == "..") {
            if (--depth < 0) return false;
        } else if (!segment.empty() && segment != ".") {
            ++depth;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view path(reinterpret_cast<const char*>(data), size);
    if (!isSafeRelativePath(path)) return 0;

    FUZZ_CHECK(!path.empty() && path.size() <= 4096);
    FUZZ_CHECK(path[0] != '/' && path[0] != '\\');
    FUZZ_CHECK(path.find(':') == std::string_view::npos); // no "c:x", no stream names
    FUZZ_CHECK(path.find('\0') == std::string_view::npos);
    FUZZ_CHECK(staysInside(path));
    size_t start = 0;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '/' && path[i] != '\\') continue;
        FUZZ_CHECK(i - start <= 255);
        FUZZ_CHECK(i == path.size() || i > start); // no empty segment but a trailing one
        start = i + 1;
    }

    std::string slashed(path);
    for (char& c : slashed)
        if (c == '\\') c = '/';
    const std::filesystem::path root = "/spiel/ordner";
    const std::string joined = (root / slashed).lexically_normal().generic_string();
    FUZZ_CHECK(joined.rfind("/spiel/ordner/", 0) == 0);
    FUZZ_CHECK(joined.size() > std::string("/spiel/ordner/").size());
    return 0;
}
