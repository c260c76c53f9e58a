// site.h - a published update folder for tests: files plus their "dosyalar.txt", hashed by
// referenceSha256.
#pragma once

#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace testsupport {

using SiteFiles = std::map<std::string, std::string>; // list path -> content

// The list text for `files` in map order: header, "surum" line, one line per file.
inline std::string siteList(const SiteFiles& files, const std::string& version = "1.0") {
    std::string list = "morlaken-liste 1\nsurum " + version + "\n";
    for (const auto& [path, content] : files)
        list += referenceSha256(content) + " " + std::to_string(content.size()) + " " + path + "\n";
    return list;
}

// Writes every file under `root` and `root`/dosyalar.txt.
inline void publishSite(const std::string& root, const SiteFiles& files, const std::string& version = "1.0") {
    for (const auto& [path, content] : files)
        writeFile(root + "/" + path, content);
    writeFile(root + "/dosyalar.txt", siteList(files, version));
}

// True when every file of `files` has that content under `root`.
inline ::testing::AssertionResult folderMatches(const std::string& root, const SiteFiles& files) {
    for (const auto& [path, content] : files)
        if (const std::string found = readFile(root + "/" + path); found != content)
            return ::testing::AssertionFailure()
                   << path << " differs (" << found.size() << " bytes, listed " << content.size() << ")";
    return ::testing::AssertionSuccess();
}

} // namespace testsupport
