// sha256_bench.cpp - sha256File throughput against OpenSSL's EVP SHA-256 on the same file,
// read the same way (64 KiB chunks), in the same run.
//
//   bench_sha256_bench [MiB [REPEATS]]   default 1024 and 5: a 1 GiB file of pseudo-random
//                                        bytes, made once and kept under $TMPDIR/morlaken-bench/
//
// Each compression routine this processor has is set against OpenSSL running with the
// same processor features: the SHA-extension routine against OpenSSL as it is, the AVX2
// one against OpenSSL with its SHA code masked (it then runs its AVX2 code), the SSSE3 one
// against OpenSSL with SHA and AVX masked, and the portable one, for reference, against
// OpenSSL with SHA masked. Each repeat times the two back to back, the order alternated;
// the ratio printed is the median of the repeats' ratios (a burst of load on the shared
// machine then slows both sides of one repeat, not a best time picked from another
// moment), the speeds the best of the repeats.
// The file is read once before timing, so every run hashes from the page cache.
#include "common/bench_file.h"
#include "platform/text.h"
#include "update/sha256.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

// ---- tunables ----

constexpr size_t kChunkBytes = 64 * 1024; // the launcher's read size
constexpr int kRepeats = 5;               // the machine is shared: best of several, order alternated
constexpr double kTargetRatio = 0.9;

namespace fs = std::filesystem;

using benchfile::benchFile;
using benchfile::makeFile;

std::string opensslFile(const fs::path& path) {
    std::FILE* in = std::fopen(path.c_str(), "rb");
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr);
    if (in) {
        std::setvbuf(in, nullptr, _IONBF, 0);
        std::unique_ptr<uint8_t[]> buffer(new uint8_t[kChunkBytes]);
        for (;;) {
            size_t n = std::fread(buffer.get(), 1, kChunkBytes, in);
            if (n > 0) EVP_DigestUpdate(ctx, buffer.get(), n);
            if (n < kChunkBytes) break;
        }
        std::fclose(in);
    }
    uint8_t digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    EVP_DigestFinal_ex(ctx, digest, &length);
    EVP_MD_CTX_free(ctx);
    return platform::toHex(digest, length);
}

// OpenSSL with some of its code paths switched off: OPENSSL_ia32cap masks CPUID bits
// (before the colon leaf 1, ECX in the high half; after it leaf 7, EBX in the low half),
// and OpenSSL reads it when it loads, so this runs one hash in a child of this program.
// Returns the child's time for that hash, 0 when it could not run.
constexpr const char* kMaskSha = ":~0x20000000";                       // SHA
constexpr const char* kMaskShaAvx = "~0x1000000000000000:~0x20000020"; // SHA, AVX, AVX2

double opensslMaskedSeconds(const fs::path& path, const char* mask) {
    auto quote = [](const std::string& text) {
        std::string out = "'";
        for (char c : text)
            out += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return out + "'";
    };
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return 0;
    std::string command = "OPENSSL_ia32cap='" + std::string(mask) + "' " + quote(self.string()) +
                          " --openssl-seconds " + quote(path.string());
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return 0;
    double seconds = 0;
    if (std::fscanf(pipe, "%lf", &seconds) != 1) seconds = 0;
    pclose(pipe);
    return seconds;
}

// Processor time of this process, not wall time: the machine is shared, and time spent
// waiting for a core would otherwise count against whichever routine met the crowd.
double cpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

template <typename F> double timeSeconds(F&& f, std::string& outDigest) {
    const double start = cpuSeconds();
    outDigest = f();
    return cpuSeconds() - start;
}

double oursSeconds(const fs::path& path, Sha256Engine engine, std::string& digest) {
    sha256SetEngine(engine);
    const double seconds = timeSeconds([&] { return sha256File(path.string()); }, digest);
    sha256SetEngine(Sha256Engine::Auto);
    return seconds;
}

// One comparison: a routine of ours against an OpenSSL configuration, each timed once per
// repeat, the order alternating, best kept.
struct Pair {
    const char* reference; // what OpenSSL runs
    const char* mask;      // nullptr: in this process, unmasked
    Sha256Engine engine;
    double bestReference = 1e30;
    double bestOurs = 1e30;
    std::vector<double> ratios; // reference time / our time, one per repeat
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--openssl-seconds") {
        std::string digest;
        std::printf("%.6f\n", timeSeconds([&] { return opensslFile(argv[2]); }, digest));
        return 0;
    }
    size_t mebibytes = 1024;
    int repeats = kRepeats;
    if (argc > 1) {
        long v = std::atol(argv[1]);
        if (v <= 0 || argc > 3) {
            std::fprintf(stderr, "usage: %s [MiB [REPEATS]]\n", argv[0]);
            return 2;
        }
        mebibytes = size_t(v);
        if (argc > 2) repeats = std::max(1, std::atoi(argv[2]));
    }
    const size_t bytes = mebibytes << 20;
    const fs::path path = benchFile(mebibytes);
    if (!makeFile(path, bytes)) {
        std::fprintf(stderr, "cannot make %s\n", path.c_str());
        return 1;
    }
    std::string expected;
    timeSeconds([&] { return opensslFile(path); }, expected); // page cache, and the digest

    std::vector<Pair> pairs;
    pairs.push_back({"OpenSSL", nullptr, Sha256Engine::ShaExtensions, 1e30, 1e30, {}});
    pairs.push_back({"OpenSSL, SHA masked", kMaskSha, Sha256Engine::Avx2, 1e30, 1e30, {}});
    pairs.push_back({"OpenSSL, SHA+AVX masked", kMaskShaAvx, Sha256Engine::Ssse3, 1e30, 1e30, {}});
    pairs.push_back({"OpenSSL, SHA masked", kMaskSha, Sha256Engine::Portable, 1e30, 1e30, {}});
    std::erase_if(pairs, [](const Pair& p) { return !sha256EngineAvailable(p.engine); });

    for (int rep = 0; rep < repeats; ++rep) {
        for (Pair& p : pairs) {
            std::string digest;
            double reference = 0, ours = 0;
            auto runReference = [&] {
                reference = p.mask ? opensslMaskedSeconds(path, p.mask)
                                   : timeSeconds([&] { return opensslFile(path); }, digest);
                if (reference > 0) p.bestReference = std::min(p.bestReference, reference);
            };
            auto runOurs = [&] {
                ours = oursSeconds(path, p.engine, digest);
                p.bestOurs = std::min(p.bestOurs, ours);
                if (digest != expected) {
                    std::fprintf(stderr, "digests differ: openssl %s, %s %s\n", expected.c_str(),
                                 sha256EngineName(p.engine), digest.c_str());
                    std::exit(1);
                }
            };
            // Alternate which of the two goes first, so neither always meets a warmer machine.
            if (rep % 2 == 0) {
                runReference();
                runOurs();
            } else {
                runOurs();
                runReference();
            }
            if (reference > 0 && ours > 0) p.ratios.push_back(reference / ours);
        }
    }

    sha256SetEngine(Sha256Engine::Auto);
    const Sha256Engine chosen = sha256ActiveEngine();
    const double mb = double(bytes) / (1024.0 * 1024.0);
    std::printf(
        "sha256: %zu MiB file, 64 KiB reads, %d runs, alternating (speeds: best; ratio: median of "
        "the runs' ratios); sha256File picks %s here\n",
        mebibytes, repeats, sha256EngineName(chosen));
    std::printf("  %-16s %8s   %-24s %8s   %s\n", "sha256File", "MiB/s", "reference", "MiB/s", "ratio");
    for (const Pair& p : pairs) {
        if (p.bestReference >= 1e30) {
            std::printf("  %-16s %8.0f   %-24s (could not run)\n", sha256EngineName(p.engine),
                        mb / p.bestOurs, p.reference);
            continue;
        }
        const double ratio = median(p.ratios);
        // The portable routine is the fallback of processors without SSSE3: shown for reference.
        const bool judged = p.engine != Sha256Engine::Portable;
        std::printf("  %-16s %8.0f   %-24s %8.0f   %.2f%s\n", sha256EngineName(p.engine), mb / p.bestOurs,
                    p.reference, mb / p.bestReference, ratio,
                    !judged                 ? "  (reference only)"
                    : ratio >= kTargetRatio ? "  OK"
                                            : "  BELOW TARGET");
    }
    std::printf("  target: each routine >= %.2f of OpenSSL with the same processor features\n", kTargetRatio);
    return 0;
}
