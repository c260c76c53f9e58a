// filelist_fuzz.cpp - the update server's file list "dosyalar.txt".
//
// Properties: an accepted list holds only 64-byte hashes, sizes that are not negative and
// paths the path rule accepts; written back out as a list it parses to the same entries
// and the same version texts; a rejected list hands back no entry and one of the two
// rejection messages.
#include "fuzz_check.h"
#include "update/filelist.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

// A list in the server's format for `entries`. CR LF line ends, so a path that itself
// ends in a carriage return keeps it when read back (one CR before the LF is dropped).
std::string listText(const FileList& entries, const std::vector<std::string>& versions) {
    std::string text = "morlaken-liste 1\r\n";
    for (const std::string& v : versions)
        text += "surum " + v + "\r\n";
    for (const FileEntry& e : entries)
        text += e.hash + " " + std::to_string(e.size) + " " + e.path + "\r\n";
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    FileList list{FileEntry{"left", 1, "over"}};
    std::string error = "left over";
    std::vector<std::string> versions;
    const bool ok = parseFileList(body, list, error, [&](const std::string& v) { versions.push_back(v); });
    if (!ok) {
        FUZZ_CHECK(list.empty());
        FUZZ_CHECK(error == kListRejectedHeader || error == kListRejectedLine);
        return 0;
    }
    FUZZ_CHECK(error.empty());
    for (const FileEntry& e : list) {
        FUZZ_CHECK(e.hash.size() == 64);
        FUZZ_CHECK(e.size >= 0);
        FUZZ_CHECK(isSafeRelativePath(e.path));
        FUZZ_CHECK(e.path.find('\n') == std::string::npos);
    }
    for (const std::string& v : versions)
        FUZZ_CHECK(v.find('\n') == std::string::npos);

    const std::string again = listText(list, versions);
    FileList reread;
    std::vector<std::string> rereadVersions;
    FUZZ_CHECK(
        parseFileList(again, reread, error, [&](const std::string& v) { rereadVersions.push_back(v); }));
    FUZZ_CHECK(rereadVersions == versions);
    FUZZ_CHECK(reread.size() == list.size());
    for (size_t i = 0; i < list.size(); ++i) {
        FUZZ_CHECK(reread[i].hash == list[i].hash);
        FUZZ_CHECK(reread[i].size == list[i].size);
        FUZZ_CHECK(reread[i].path == list[i].path);
    }
    return 0;
}
