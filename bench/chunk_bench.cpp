// chunk_bench.cpp - cutting a local copy into content-defined chunks and hashing each
// (chunkFile, what a patch does with the player's old file) against `openssl dgst -sha256`
// of the same file, in the same run.
//
//   bench_chunk_bench [MiB [REPEATS]]   default 1024 and 5: a 1 GiB file of pseudo-random
//                                       bytes, made once and kept under $TMPDIR/morlaken-bench/
//
// Each repeat times the two back to back, the order alternated; the ratio printed is the
// median of the repeats' ratios (openssl's time over chunkFile's, so 1.0 is as fast), the
// times the best of the repeats. The file is read once before timing, so every run reads
// from the page cache. Aim: at least 0.8.
#include "common/bench_file.h"
#include "update/chunks.h"
#include "update/sha256.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// ---- tunables ----

constexpr int kRepeats = 5;
constexpr double kTargetRatio = 0.8;

namespace fs = std::filesystem;

using benchfile::benchFile;
using benchfile::makeFile;

double secondsOf(auto&& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    const size_t mebibytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    const int repeats = argc > 2 ? std::atoi(argv[2]) : kRepeats;
    const fs::path file = benchFile(mebibytes);
    if (mebibytes == 0 || repeats < 1 || !makeFile(file, mebibytes << 20)) {
        std::fprintf(stderr, "usage: bench_chunk_bench [MiB [REPEATS]] (cannot make %s)\n", file.c_str());
        return 2;
    }
    const std::string openssl = "openssl dgst -sha256 '" + file.string() + "' > /dev/null";
    if (std::system(openssl.c_str()) != 0) return 1; // also warms the page cache
    std::vector<double> ratios;
    double bestChunks = 1e9, bestOpenssl = 1e9;
    size_t count = 0;
    const std::atomic<bool> never{false};
    for (int r = 0; r < repeats; ++r) {
        std::vector<Chunk> chunks;
        bool ok = true;
        double tChunks = 0, tOpenssl = 0;
        auto runChunks = [&] { tChunks = secondsOf([&] { ok = chunkFile(file.string(), chunks, never); }); };
        auto runOpenssl = [&] {
            tOpenssl = secondsOf([&] { ok = ok && std::system(openssl.c_str()) == 0; });
        };
        if (r % 2 == 0) {
            runChunks();
            runOpenssl();
        } else {
            runOpenssl();
            runChunks();
        }
        if (!ok) return 1;
        count = chunks.size();
        ratios.push_back(tOpenssl / tChunks);
        bestChunks = std::min(bestChunks, tChunks);
        bestOpenssl = std::min(bestOpenssl, tOpenssl);
    }
    std::sort(ratios.begin(), ratios.end());
    const double ratio = ratios[ratios.size() / 2];
    const double mib = double(mebibytes);
    std::printf("%zu MiB, SHA-256 engine %s, %zu chunks (average %.1f KiB), best of %d\n", mebibytes,
                sha256EngineName(sha256ActiveEngine()), count, mib * 1024.0 / double(count), repeats);
    std::printf("  chunkFile (cut + SHA-256 per chunk)  %6.3f s  %7.0f MiB/s\n", bestChunks,
                mib / bestChunks);
    std::printf("  openssl dgst -sha256                 %6.3f s  %7.0f MiB/s\n", bestOpenssl,
                mib / bestOpenssl);
    std::printf("  speed ratio chunkFile/openssl: %.2f (median; aim >= %.1f)\n", ratio, kTargetRatio);
    return 0;
}
