// site.h - a published update folder for tests: files plus their "dosyalar.txt", hashed by
// referenceSha256.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace testsupport {

using SiteFiles = std::map<std::string, std::string>; // list path -> content

// The list text for `files` in map order: header, "surum" line, one line per file.
std::string siteList(const SiteFiles& files, const std::string& version = "1.0");
// Writes every file under `root` and `root`/dosyalar.txt.
void publishSite(const std::string& root, const SiteFiles& files, const std::string& version = "1.0");
// True when every file of `files` has that content under `root`.
::testing::AssertionResult folderMatches(const std::string& root, const SiteFiles& files);

} // namespace testsupport
