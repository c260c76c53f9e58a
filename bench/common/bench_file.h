// bench_file.h - the 1 GiB (or smaller) file the hashing benchmarks share: xorshift64*
// bytes, cheap to make and incompressible for any file system, made once under
// $TMPDIR/morlaken-bench/ and kept for later runs.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace benchfile {

// Where the file of `mebibytes` MiB lives.
inline std::filesystem::path benchFile(size_t mebibytes) {
    const char* tmp = std::getenv("TMPDIR");
    std::filesystem::path folder = std::filesystem::path(tmp && *tmp ? tmp : "/tmp") / "morlaken-bench";
    std::filesystem::create_directories(folder);
    return folder /
           (mebibytes == 1024 ? std::string("hash-1g.bin") : "hash-" + std::to_string(mebibytes) + "m.bin");
}

// Makes `path` with `bytes` bytes unless it already has that size; false when it cannot.
inline bool makeFile(const std::filesystem::path& path, size_t bytes) {
    std::error_code ec;
    if (std::filesystem::exists(path, ec) && std::filesystem::file_size(path, ec) == bytes) return true;
    std::printf("making %s (%zu MiB) once...\n", path.c_str(), bytes >> 20);
    std::fflush(stdout);
    std::filesystem::path temp = path;
    temp += ".tmp";
    std::FILE* out = std::fopen(temp.c_str(), "wb");
    if (!out) return false;
    std::vector<uint64_t> buffer(1 << 17); // 1 MiB
    uint64_t x = 0x9E3779B97F4A7C15ULL;
    for (size_t left = bytes; left > 0;) {
        for (uint64_t& w : buffer) {
            x ^= x >> 12;
            x ^= x << 25;
            x ^= x >> 27;
            w = x * 0x2545F4914F6CDD1DULL;
        }
        const size_t n = std::min(left, buffer.size() * sizeof(uint64_t));
        if (std::fwrite(buffer.data(), 1, n, out) != n) {
            std::fclose(out);
            return false;
        }
        left -= n;
    }
    if (std::fclose(out) != 0) return false;
    std::filesystem::rename(temp, path, ec);
    return !ec;
}

} // namespace benchfile
