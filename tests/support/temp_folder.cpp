// temp_folder.cpp - temporary folders and file helpers for tests.
#include "support/temp_folder.h"

#include "platform/text.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace testsupport {

TempFolder::TempFolder() {
    static std::atomic<int> counter{0};
    const char* tmp = std::getenv("TMPDIR");
    const fs::path base = tmp && *tmp ? fs::path(tmp) : fs::temp_directory_path();
    std::error_code ec;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        const fs::path candidate = base / ("morlaken-test-" + std::to_string(std::random_device{}()) + "-" +
                                           std::to_string(counter++));
        if (fs::create_directory(candidate, ec)) path_ = candidate.string();
    }
    if (path_.empty()) ADD_FAILURE() << "cannot create a temporary folder under " << base;
}

TempFolder::~TempFolder() {
    if (path_.empty()) return;
    std::error_code ec;
    // Tests may leave read-only folders behind; make everything writable before removing.
    for (auto it = fs::recursive_directory_iterator(path_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code ignored;
        if (it->is_directory(ignored) && !it->is_symlink(ignored))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(path_, ec);
}

void writeFile(const std::string& path, const std::string& data) {
    fs::path p(path);
    std::error_code ec;
    if (p.has_parent_path()) fs::create_directories(p.parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    out.close();
    if (out.fail()) ADD_FAILURE() << "cannot write " << path;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

bool fileExists(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

std::string patternBytes(size_t size, uint32_t seed) {
    std::string out(size, '\0');
    uint64_t x = 0x9E3779B97F4A7C15ull ^ seed;
    for (size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        out[i] = static_cast<char>(x >> 24);
    }
    return out;
}

std::string referenceSha256(const std::string& data) {
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(data.data()), data.size());
    return platform::toHex(digest, sizeof digest);
}

bool permissionBitsIgnored() {
    TempFolder probe;
    fs::permissions(probe.path(), fs::perms::owner_read | fs::perms::owner_exec);
    std::ofstream out(probe / "x");
    return out.good();
}

std::string listTree(const std::string& root) {
    std::set<std::string> names;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code ignored;
        if (!it->is_directory(ignored))
            names.insert(fs::relative(it->path(), root, ignored).generic_string());
    }
    std::string out;
    for (const auto& n : names)
        out += n + "\n";
    return out;
}

} // namespace testsupport
