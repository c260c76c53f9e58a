// site.cpp - published update folders for tests.
#include "support/site.h"

#include "support/temp_folder.h"

namespace testsupport {

std::string siteList(const SiteFiles& files, const std::string& version) {
    std::string list = "morlaken-liste 1\nsurum " + version + "\n";
    for (const auto& [path, content] : files)
        list += referenceSha256(content) + " " + std::to_string(content.size()) + " " + path + "\n";
    return list;
}

void publishSite(const std::string& root, const SiteFiles& files, const std::string& version) {
    for (const auto& [path, content] : files)
        writeFile(root + "/" + path, content);
    writeFile(root + "/dosyalar.txt", siteList(files, version));
}

::testing::AssertionResult folderMatches(const std::string& root, const SiteFiles& files) {
    for (const auto& [path, content] : files) {
        std::string found = readFile(root + "/" + path);
        if (found != content)
            return ::testing::AssertionFailure()
                   << path << " differs (" << found.size() << " bytes, listed " << content.size() << ")";
    }
    return ::testing::AssertionSuccess();
}

} // namespace testsupport
