// temp_folder.h - a fresh folder under $TMPDIR for one test, removed with everything in
// it when the object goes; small whole-file helpers.
#pragma once

#include <cstdint>
#include <string>

namespace testsupport {

class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + relative
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

  private:
    std::string path_;
};

// Writes `data` to `path`, creating parent folders. Fails the test (ADD_FAILURE) on error.
void writeFile(const std::string& path, const std::string& data);
// Whole content of `path`; "" when it cannot be read.
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);
// `size` bytes of deterministic pseudo-random content from `seed`.
std::string patternBytes(size_t size, uint32_t seed);
// Lowercase hex SHA-256 of `data`, computed by libsodium (independent of the launcher's own).
std::string referenceSha256(const std::string& data);
// True when this user writes into a folder without write permission (root).
bool permissionBitsIgnored();
// Every file under `root` (relative paths, '/' separated), sorted.
std::string listTree(const std::string& root);

} // namespace testsupport
