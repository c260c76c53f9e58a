// sha256.h - the launcher's own SHA-256 (FIPS 180-4).
//
// Every listed file is identified by its digest as 64 lowercase hex characters. The
// compression routine is chosen once, at run time, from what the processor has: the x86
// SHA extensions, else scalar rounds with the message schedule in AVX2 or SSSE3 vector
// registers, else portable code. All give the same digests.
#pragma once

#include "platform/text.h" // platform::toHex, the form of every digest

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct Sha256 {
    uint32_t state[8];
    uint64_t total; // message bytes fed so far
    uint8_t block[64];
    uint64_t fill; // bytes of `block` in use, 0..63 between calls

    Sha256() { reset(); }
    void reset();
    void update(const void* data, size_t count);
    // Returns the 32-byte digest; the context is spent afterwards (reset to reuse).
    std::vector<uint8_t> finish();
};

// platform::toHex of the digest of the file's whole content, read in 64 KiB chunks. A file that
// cannot be opened hashes as empty input; a read error ends the input there. Any thread.
std::string sha256File(const std::string& path);

// Which compression routine runs. `Auto` (the default) picks the fastest the processor
// has: ShaExtensions, then Avx2 (which also needs BMI1/BMI2), then Ssse3, then Portable.
// Tests, fuzzing and benchmarks force each one to compare them; not for use while another
// thread hashes.
enum class Sha256Engine { Auto, Portable, Ssse3, Avx2, ShaExtensions };
bool sha256HasShaExtensions();
bool sha256EngineAvailable(Sha256Engine engine); // Auto and Portable always are
// Makes `engine` the routine in use and returns true; an engine this processor lacks
// returns false and leaves the `Auto` choice in use.
bool sha256SetEngine(Sha256Engine engine);
Sha256Engine sha256ActiveEngine();                 // never Auto: the routine actually in use
const char* sha256EngineName(Sha256Engine engine); // "portable", "ssse3", "avx2", ...
