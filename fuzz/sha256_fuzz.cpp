// sha256_fuzz.cpp - the SHA-256 compression routines (portable, SSSE3, AVX2, SHA
// extensions) on arbitrary input.
//
// Properties: every routine this processor runs gives the same digest of the input fed in
// one piece; fed in pieces split at points taken from the input itself (including empty
// pieces), each gives that digest again, and `total` counts every byte; the digest is 64
// lower-case hex characters.
#include "fuzz_check.h"
#include "update/sha256.h"

#include <cstdint>
#include <string>

namespace {

constexpr Sha256Engine kEngines[] = {Sha256Engine::Portable, Sha256Engine::Ssse3, Sha256Engine::Avx2,
                                     Sha256Engine::ShaExtensions};

bool isLowerHex(const std::string& text) {
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string first;
    for (Sha256Engine engine : kEngines) {
        if (!sha256SetEngine(engine)) continue;

        Sha256 whole;
        whole.update(data, size);
        const std::string digest = platform::toHex(whole.finish());
        FUZZ_CHECK(digest.size() == 64 && isLowerHex(digest));
        if (first.empty()) first = digest;
        FUZZ_CHECK(digest == first);

        // Piece lengths come from the input bytes in turn, so the fuzzer steers the split
        // points: 0..255 bytes, times 3 to reach past several blocks.
        Sha256 pieces;
        size_t at = 0, next = 0;
        while (at < size) {
            const size_t piece = size_t(data[next++ % size]) * 3 % (size - at + 1);
            pieces.update(data + at, piece);
            at += piece;
            if (piece == 0 && next % 7 == 0) { // an empty update now and then, then progress
                pieces.update(data + at, 1);
                at += 1;
            }
        }
        FUZZ_CHECK(pieces.total == size);
        FUZZ_CHECK(platform::toHex(pieces.finish()) == first);
    }
    sha256SetEngine(Sha256Engine::Auto);
    return 0;
}
