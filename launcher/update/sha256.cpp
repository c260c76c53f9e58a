// sha256.cpp - the launcher's own SHA-256 (FIPS 180-4), with two compression routines:
// the x86 SHA extensions when the processor has them, and portable unrolled code.
//
// Index
//   ---- tunables ----
//   ---- constants ----
//   ---- portable compression ----
//   ---- SHA extensions compression ----
//   ---- engine choice ----
//   ---- streaming context ----
//   ---- hex and files ----
#include "update/sha256.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>

#if defined(__x86_64__) || defined(__i386__)
#define MORLAKEN_SHA_X86 1
#include <cpuid.h>
#include <immintrin.h>
#else
#define MORLAKEN_SHA_X86 0
#endif

// ---- tunables ----

namespace {

constexpr size_t kFileChunkBytes = 64 * 1024; // one buffer of this size per sha256File call
constexpr size_t kBlockBytes = 64;

// ---- constants ----

constexpr uint32_t kInitialState[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

alignas(16) constexpr uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

// ---- portable compression ----

inline uint32_t rotr(uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

inline uint32_t loadBigEndian(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

inline void storeBigEndian(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

// One round with the working variables renamed instead of moved: the macro is expanded
// eight times per group with the letters rotated, so no register shuffling is needed.
#define MORLAKEN_SHA_ROUND(a, b, c, d, e, f, g, h, k, w)                                                     \
    do {                                                                                                     \
        uint32_t t1 = h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + (g ^ (e & (f ^ g))) + (k) + (w);        \
        uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) | (c & (a | b)));                  \
        d += t1;                                                                                             \
        h = t1 + t2;                                                                                         \
    } while (0)

// Message schedule word i (i >= 16) in a 16-word ring.
#define MORLAKEN_SHA_SCHEDULE(w, i)                                                                          \
    (w[(i)&15] += (rotr(w[((i)-2) & 15], 17) ^ rotr(w[((i)-2) & 15], 19) ^ (w[((i)-2) & 15] >> 10)) +        \
                  w[((i)-7) & 15] +                                                                          \
                  (rotr(w[((i)-15) & 15], 7) ^ rotr(w[((i)-15) & 15], 18) ^ (w[((i)-15) & 15] >> 3)))

void compressPortable(uint32_t state[8], const uint8_t* data, size_t blocks) {
    uint32_t w[16];
    while (blocks--) {
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
        for (int i = 0; i < 16; ++i)
            w[i] = loadBigEndian(data + 4 * i);
        for (int i = 0; i < 16; i += 8) {
            MORLAKEN_SHA_ROUND(a, b, c, d, e, f, g, h, kRound[i + 0], w[i + 0]);
            MORLAKEN_SHA_ROUND(h, a, b, c, d, e, f, g, kRound[i + 1], w[i + 1]);
            MORLAKEN_SHA_ROUND(g, h, a, b, c, d, e, f, kRound[i + 2], w[i + 2]);
            MORLAKEN_SHA_ROUND(f, g, h, a, b, c, d, e, kRound[i + 3], w[i + 3]);
            MORLAKEN_SHA_ROUND(e, f, g, h, a, b, c, d, kRound[i + 4], w[i + 4]);
            MORLAKEN_SHA_ROUND(d, e, f, g, h, a, b, c, kRound[i + 5], w[i + 5]);
            MORLAKEN_SHA_ROUND(c, d, e, f, g, h, a, b, kRound[i + 6], w[i + 6]);
            MORLAKEN_SHA_ROUND(b, c, d, e, f, g, h, a, kRound[i + 7], w[i + 7]);
        }
        for (int i = 16; i < 64; i += 8) {
            MORLAKEN_SHA_ROUND(a, b, c, d, e, f, g, h, kRound[i + 0], MORLAKEN_SHA_SCHEDULE(w, i + 0));
            MORLAKEN_SHA_ROUND(h, a, b, c, d, e, f, g, kRound[i + 1], MORLAKEN_SHA_SCHEDULE(w, i + 1));
            MORLAKEN_SHA_ROUND(g, h, a, b, c, d, e, f, kRound[i + 2], MORLAKEN_SHA_SCHEDULE(w, i + 2));
            MORLAKEN_SHA_ROUND(f, g, h, a, b, c, d, e, kRound[i + 3], MORLAKEN_SHA_SCHEDULE(w, i + 3));
            MORLAKEN_SHA_ROUND(e, f, g, h, a, b, c, d, kRound[i + 4], MORLAKEN_SHA_SCHEDULE(w, i + 4));
            MORLAKEN_SHA_ROUND(d, e, f, g, h, a, b, c, kRound[i + 5], MORLAKEN_SHA_SCHEDULE(w, i + 5));
            MORLAKEN_SHA_ROUND(c, d, e, f, g, h, a, b, kRound[i + 6], MORLAKEN_SHA_SCHEDULE(w, i + 6));
            MORLAKEN_SHA_ROUND(b, c, d, e, f, g, h, a, kRound[i + 7], MORLAKEN_SHA_SCHEDULE(w, i + 7));
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        state[5] += f;
        state[6] += g;
        state[7] += h;
        data += kBlockBytes;
    }
}

#undef MORLAKEN_SHA_ROUND
#undef MORLAKEN_SHA_SCHEDULE

// ---- SHA extensions compression ----

#if MORLAKEN_SHA_X86

// Sixteen groups of four rounds. The message words live in four registers that are
// recycled: group g consumes m[g % 4], finishes the schedule of m[(g + 1) % 4] and starts
// the one of m[(g - 1) % 4]. The state is kept in the ABEF / CDGH order the instructions
// want and converted back at the end.
__attribute__((target("sha,sse4.1"))) void compressShaExtensions(uint32_t state[8], const uint8_t* data,
                                                                 size_t blocks) {
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    __m128i tmp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0]));
    __m128i state1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4]));
    tmp = _mm_shuffle_epi32(tmp, 0xB1);               // CDAB
    state1 = _mm_shuffle_epi32(state1, 0x1B);         // EFGH
    __m128i state0 = _mm_alignr_epi8(tmp, state1, 8); // ABEF
    state1 = _mm_blend_epi16(state1, tmp, 0xF0);      // CDGH

    while (blocks--) {
        const __m128i saveAbef = state0;
        const __m128i saveCdgh = state1;
        __m128i m0 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 0)), byteSwap);
        __m128i m1 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16)), byteSwap);
        __m128i m2 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 32)), byteSwap);
        __m128i m3 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 48)), byteSwap);

#define MORLAKEN_SHA_GROUP(g, cur, prev, next)                                                               \
    do {                                                                                                     \
        __m128i msg =                                                                                        \
            _mm_add_epi32(cur, _mm_load_si128(reinterpret_cast<const __m128i*>(&kRound[4 * (g)])));          \
        state1 = _mm_sha256rnds2_epu32(state1, state0, msg);                                                 \
        if ((g) >= 3 && (g) <= 14) {                                                                         \
            next = _mm_add_epi32(next, _mm_alignr_epi8(cur, prev, 4));                                       \
            next = _mm_sha256msg2_epu32(next, cur);                                                          \
        }                                                                                                    \
        msg = _mm_shuffle_epi32(msg, 0x0E);                                                                  \
        state0 = _mm_sha256rnds2_epu32(state0, state1, msg);                                                 \
        if ((g) >= 1 && (g) <= 12) prev = _mm_sha256msg1_epu32(prev, cur);                                   \
    } while (0)

        // group g: cur = m[g%4], prev = m[(g-1)%4] (its schedule is started), next = m[(g+1)%4]
        MORLAKEN_SHA_GROUP(0, m0, m3, m1);
        MORLAKEN_SHA_GROUP(1, m1, m0, m2);
        MORLAKEN_SHA_GROUP(2, m2, m1, m3);
        MORLAKEN_SHA_GROUP(3, m3, m2, m0);
        MORLAKEN_SHA_GROUP(4, m0, m3, m1);
        MORLAKEN_SHA_GROUP(5, m1, m0, m2);
        MORLAKEN_SHA_GROUP(6, m2, m1, m3);
        MORLAKEN_SHA_GROUP(7, m3, m2, m0);
        MORLAKEN_SHA_GROUP(8, m0, m3, m1);
        MORLAKEN_SHA_GROUP(9, m1, m0, m2);
        MORLAKEN_SHA_GROUP(10, m2, m1, m3);
        MORLAKEN_SHA_GROUP(11, m3, m2, m0);
        MORLAKEN_SHA_GROUP(12, m0, m3, m1);
        MORLAKEN_SHA_GROUP(13, m1, m0, m2);
        MORLAKEN_SHA_GROUP(14, m2, m1, m3);
        MORLAKEN_SHA_GROUP(15, m3, m2, m0);
#undef MORLAKEN_SHA_GROUP

        state0 = _mm_add_epi32(state0, saveAbef);
        state1 = _mm_add_epi32(state1, saveCdgh);
        data += kBlockBytes;
    }

    tmp = _mm_shuffle_epi32(state0, 0x1B);       // FEBA
    state1 = _mm_shuffle_epi32(state1, 0xB1);    // DCHG
    state0 = _mm_blend_epi16(tmp, state1, 0xF0); // DCBA
    state1 = _mm_alignr_epi8(state1, tmp, 8);    // HGFE
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), state0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), state1);
}

bool detectShaExtensions() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    const bool ssse3 = (c & (1u << 9)) != 0;
    const bool sse41 = (c & (1u << 19)) != 0;
    if (!ssse3 || !sse41) return false;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
    return (b & (1u << 29)) != 0; // SHA
}

#else

void compressShaExtensions(uint32_t state[8], const uint8_t* data, size_t blocks) {
    compressPortable(state, data, blocks);
}
bool detectShaExtensions() {
    return false;
}

#endif

// ---- engine choice ----

using CompressFn = void (*)(uint32_t*, const uint8_t*, size_t);

const bool hasShaExtensions = detectShaExtensions();

// Written only by sha256SetEngine (tests, benchmarks); read by every compression.
std::atomic<CompressFn> activeCompress{hasShaExtensions ? compressShaExtensions : compressPortable};

inline void compress(uint32_t state[8], const uint8_t* data, size_t blocks) {
    activeCompress.load(std::memory_order_relaxed)(state, data, blocks);
}

} // namespace

bool sha256HasShaExtensions() {
    return hasShaExtensions;
}

void sha256SetEngine(Sha256Engine engine) {
    bool useExtensions = hasShaExtensions && engine != Sha256Engine::Portable;
    activeCompress.store(useExtensions ? compressShaExtensions : compressPortable);
}

Sha256Engine sha256ActiveEngine() {
    return activeCompress.load() == compressPortable ? Sha256Engine::Portable : Sha256Engine::ShaExtensions;
}

// ---- streaming context ----

void Sha256::reset() {
    std::memcpy(state, kInitialState, sizeof state);
    total = 0;
    fill = 0;
}

// Same result as feeding the bytes one by one into `block`, but whole blocks are
// compressed straight from the caller's memory.
void Sha256::update(const void* data, size_t count) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    total += count;
    if (fill > 0) {
        size_t take = kBlockBytes - fill;
        if (take > count) take = count;
        std::memcpy(block + fill, p, take);
        fill += take;
        p += take;
        count -= take;
        if (fill < kBlockBytes) return;
        compress(state, block, 1);
        fill = 0;
    }
    size_t whole = count / kBlockBytes;
    if (whole > 0) {
        compress(state, p, whole);
        p += whole * kBlockBytes;
        count -= whole * kBlockBytes;
    }
    if (count > 0) {
        std::memcpy(block, p, count);
        fill = count;
    }
}

std::vector<uint8_t> Sha256::finish() {
    const uint64_t bits = total * 8;
    block[fill++] = 0x80;
    if (fill > 56) {
        std::memset(block + fill, 0, kBlockBytes - fill);
        compress(state, block, 1);
        fill = 0;
    }
    std::memset(block + fill, 0, 56 - fill);
    for (int i = 0; i < 8; ++i)
        block[56 + i] = uint8_t(bits >> (56 - 8 * i));
    compress(state, block, 1);
    fill = 0;
    std::vector<uint8_t> digest(32);
    for (int i = 0; i < 8; ++i)
        storeBigEndian(digest.data() + 4 * i, state[i]);
    return digest;
}

// ---- hex and files ----

std::string toHex(const uint8_t* bytes, size_t count) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out(count * 2, '\0');
    for (size_t i = 0; i < count; ++i) {
        out[2 * i] = kDigits[bytes[i] >> 4];
        out[2 * i + 1] = kDigits[bytes[i] & 15];
    }
    return out;
}

std::string toHex(const std::vector<uint8_t>& bytes) {
    return toHex(bytes.data(), bytes.size());
}

std::string sha256File(const std::string& path) {
    Sha256 ctx;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file) {
        std::setvbuf(file, nullptr, _IONBF, 0); // our buffer is the only one
        std::unique_ptr<uint8_t[]> buffer(new uint8_t[kFileChunkBytes]);
        for (;;) {
            size_t n = std::fread(buffer.get(), 1, kFileChunkBytes, file);
            if (n > 0) ctx.update(buffer.get(), n);
            if (n < kFileChunkBytes) break; // end of file or a read error: what was read counts
        }
        std::fclose(file);
    }
    return toHex(ctx.finish());
}
