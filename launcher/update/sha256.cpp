// sha256.cpp - the launcher's own SHA-256 (FIPS 180-4), with four compression routines:
// the x86 SHA extensions when the processor has them, else scalar rounds fed by a message
// schedule computed in AVX2 (two blocks at once) or SSSE3 registers, else portable
// unrolled code.
//
// Index
//   ---- tunables ----
//   ---- constants ----
//   ---- portable compression ----
//   ---- vectorised schedule compression ----
//   ---- SHA extensions compression ----
//   ---- engine choice ----
//   ---- streaming context ----
//   ---- hex and files ----
#include "update/sha256.h"

#include "platform/platform.h"
#include "platform/text.h"

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

// ---- vectorised schedule compression ----
//
// Without the SHA extensions the rounds stay scalar, but the message schedule (W[t] + K[t]
// for all 64 rounds) is computed four words at a time in vector registers, interleaved
// with the rounds of the same block, so the schedule costs almost nothing next to the
// rounds' dependency chain. The AVX2 routine schedules two blocks at once (one per
// 128-bit lane) and runs the second block's rounds from the stored words; its rounds use
// the BMI2 rotate, which leaves the flags alone.

#if MORLAKEN_SHA_X86

// One round reading W[t] + K[t] from `wk`, renaming the working variables as above; each
// routine brings its own bigSigma0/1 (the best form depends on the rotate instruction).
// Maj(a, b, c) = ((a ^ b) & (b ^ c)) ^ b, and this round's b ^ c is the previous round's
// a ^ b, carried in `bc`.
#define MORLAKEN_SHA_ROUND_WK(a, b, c, d, e, f, g, h, i)                                                     \
    do {                                                                                                     \
        uint32_t t1 = h + wk[kWkIndex(i)] + bigSigma1(e) + MORLAKEN_SHA_CH(e, f, g);                         \
        const uint32_t ab = a ^ b;                                                                           \
        uint32_t t2 = bigSigma0(a) + ((ab & bc) ^ b);                                                        \
        bc = ab;                                                                                             \
        d += t1;                                                                                             \
        h = t1 + t2;                                                                                         \
    } while (0)

// Four rounds starting at round i; "even" groups start with the letters in order, "odd"
// ones four letters on, so two groups bring them back.
#define MORLAKEN_SHA_ROUNDS4_EVEN(i)                                                                         \
    do {                                                                                                     \
        MORLAKEN_SHA_ROUND_WK(a, b, c, d, e, f, g, h, (i) + 0);                                              \
        MORLAKEN_SHA_ROUND_WK(h, a, b, c, d, e, f, g, (i) + 1);                                              \
        MORLAKEN_SHA_ROUND_WK(g, h, a, b, c, d, e, f, (i) + 2);                                              \
        MORLAKEN_SHA_ROUND_WK(f, g, h, a, b, c, d, e, (i) + 3);                                              \
    } while (0)
#define MORLAKEN_SHA_ROUNDS4_ODD(i)                                                                          \
    do {                                                                                                     \
        MORLAKEN_SHA_ROUND_WK(e, f, g, h, a, b, c, d, (i) + 0);                                              \
        MORLAKEN_SHA_ROUND_WK(d, e, f, g, h, a, b, c, (i) + 1);                                              \
        MORLAKEN_SHA_ROUND_WK(c, d, e, f, g, h, a, b, (i) + 2);                                              \
        MORLAKEN_SHA_ROUND_WK(b, c, d, e, f, g, h, a, (i) + 3);                                              \
    } while (0)

// All 64 rounds of one block whose W + K words are already stored.
#define MORLAKEN_SHA_ROUNDS64()                                                                              \
    do {                                                                                                     \
        MORLAKEN_SHA_ROUNDS4_EVEN(0);                                                                        \
        MORLAKEN_SHA_ROUNDS4_ODD(4);                                                                         \
        MORLAKEN_SHA_ROUNDS4_EVEN(8);                                                                        \
        MORLAKEN_SHA_ROUNDS4_ODD(12);                                                                        \
        MORLAKEN_SHA_ROUNDS4_EVEN(16);                                                                       \
        MORLAKEN_SHA_ROUNDS4_ODD(20);                                                                        \
        MORLAKEN_SHA_ROUNDS4_EVEN(24);                                                                       \
        MORLAKEN_SHA_ROUNDS4_ODD(28);                                                                        \
        MORLAKEN_SHA_ROUNDS4_EVEN(32);                                                                       \
        MORLAKEN_SHA_ROUNDS4_ODD(36);                                                                        \
        MORLAKEN_SHA_ROUNDS4_EVEN(40);                                                                       \
        MORLAKEN_SHA_ROUNDS4_ODD(44);                                                                        \
        MORLAKEN_SHA_ROUNDS4_EVEN(48);                                                                       \
        MORLAKEN_SHA_ROUNDS4_ODD(52);                                                                        \
        MORLAKEN_SHA_ROUNDS4_EVEN(56);                                                                       \
        MORLAKEN_SHA_ROUNDS4_ODD(60);                                                                        \
    } while (0)

// Schedule group `g` (4..15) computes W[4g..4g+3] into x0 from the previous sixteen words
// x0..x3 and stores them plus K; then the rounds of group g - 4, whose words are ready.
// The callers rotate the register names, as the rounds rotate the letters.
#define MORLAKEN_SHA_GROUP(g, x0, x1, x2, x3)                                                                \
    do {                                                                                                     \
        x0 = scheduleNext(x0, x1, x2, x3);                                                                   \
        storeWk(wkAll, g, x0);                                                                               \
        if ((g) % 2 == 0)                                                                                    \
            MORLAKEN_SHA_ROUNDS4_EVEN(4 * ((g)-4));                                                          \
        else                                                                                                 \
            MORLAKEN_SHA_ROUNDS4_ODD(4 * ((g)-4));                                                           \
    } while (0)

#define MORLAKEN_SHA_BLOCK_WITH_SCHEDULE()                                                                   \
    do {                                                                                                     \
        MORLAKEN_SHA_GROUP(4, x0, x1, x2, x3);                                                               \
        MORLAKEN_SHA_GROUP(5, x1, x2, x3, x0);                                                               \
        MORLAKEN_SHA_GROUP(6, x2, x3, x0, x1);                                                               \
        MORLAKEN_SHA_GROUP(7, x3, x0, x1, x2);                                                               \
        MORLAKEN_SHA_GROUP(8, x0, x1, x2, x3);                                                               \
        MORLAKEN_SHA_GROUP(9, x1, x2, x3, x0);                                                               \
        MORLAKEN_SHA_GROUP(10, x2, x3, x0, x1);                                                              \
        MORLAKEN_SHA_GROUP(11, x3, x0, x1, x2);                                                              \
        MORLAKEN_SHA_GROUP(12, x0, x1, x2, x3);                                                              \
        MORLAKEN_SHA_GROUP(13, x1, x2, x3, x0);                                                              \
        MORLAKEN_SHA_GROUP(14, x2, x3, x0, x1);                                                              \
        MORLAKEN_SHA_GROUP(15, x3, x0, x1, x2);                                                              \
        MORLAKEN_SHA_ROUNDS4_EVEN(48);                                                                       \
        MORLAKEN_SHA_ROUNDS4_ODD(52);                                                                        \
        MORLAKEN_SHA_ROUNDS4_EVEN(56);                                                                       \
        MORLAKEN_SHA_ROUNDS4_ODD(60);                                                                        \
    } while (0)

#define MORLAKEN_SHA_LOAD_STATE()                                                                            \
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];                                         \
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];                                         \
    uint32_t bc = b ^ c

#define MORLAKEN_SHA_ADD_STATE()                                                                             \
    do {                                                                                                     \
        state[0] += a;                                                                                       \
        state[1] += b;                                                                                       \
        state[2] += c;                                                                                       \
        state[3] += d;                                                                                       \
        state[4] += e;                                                                                       \
        state[5] += f;                                                                                       \
        state[6] += g;                                                                                       \
        state[7] += h;                                                                                       \
    } while (0)

namespace ssse3 {

// W + K of one block, four words per group.
constexpr int kWkIndex(int i) {
    return i;
}

#define MORLAKEN_SSSE3 __attribute__((target("ssse3"), always_inline)) inline

// Sigma0 and Sigma1 as three independent rotations: the copies the two-operand rotate
// needs are free register renames on current processors, and the short chain matters more
// than the instruction count (the nested form ror(ror(ror(e, 14) ^ e, 5) ^ e, 6) measured
// slower here).
MORLAKEN_SSSE3 uint32_t bigSigma0(uint32_t a) {
    return rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22);
}
MORLAKEN_SSSE3 uint32_t bigSigma1(uint32_t e) {
    return rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25);
}
// Ch(e, f, g) in three operations without a separate not (written out in the round: as
// an inline function it measured slower here).
#define MORLAKEN_SHA_CH(e, f, g) (((f ^ g) & e) ^ g)

// The message schedule on four words at a time, written once for both vector widths (the
// AVX2 routine runs it on each 128-bit lane, one block per lane: its byte shifts and
// alignr work within lanes). sigma0 and sigma1 of FIPS 180-4: there is no vector rotate,
// so each rotation is two shifts whose halves are folded into the exclusive or.
// scheduleNext: W[t..t+3] from x0 = W[t-16..t-13] .. x3 = W[t-4..t-1]. sigma1 needs
// W[t-2], W[t-1]: the first two new words come from x3, the last two from the first two
// (sigma1(0) = 0 keeps the lanes that are not yet due unchanged).
#define MORLAKEN_SHA_VECTOR_SCHEDULE(ATTR, V, XOR, SRL, SLL, ADD, ALIGNR, BYTES_RIGHT, BYTES_LEFT)           \
    ATTR V sigma0(V x) {                                                                                     \
        V r = XOR(SRL(x, 7), SLL(x, 25));                                                                    \
        r = XOR(r, XOR(SRL(x, 18), SLL(x, 14)));                                                             \
        return XOR(r, SRL(x, 3));                                                                            \
    }                                                                                                        \
    ATTR V sigma1(V x) {                                                                                     \
        V r = XOR(SRL(x, 17), SLL(x, 15));                                                                   \
        r = XOR(r, XOR(SRL(x, 19), SLL(x, 13)));                                                             \
        return XOR(r, SRL(x, 10));                                                                           \
    }                                                                                                        \
    ATTR V scheduleNext(V x0, V x1, V x2, V x3) {                                                            \
        V t = ADD(x0, sigma0(ALIGNR(x1, x0, 4)));                                                            \
        t = ADD(t, ALIGNR(x3, x2, 4));                                                                       \
        t = ADD(t, sigma1(BYTES_RIGHT(x3, 8)));                                                              \
        return ADD(t, sigma1(BYTES_LEFT(t, 8)));                                                             \
    }

MORLAKEN_SHA_VECTOR_SCHEDULE(MORLAKEN_SSSE3, __m128i, _mm_xor_si128, _mm_srli_epi32, _mm_slli_epi32,
                             _mm_add_epi32, _mm_alignr_epi8, _mm_srli_si128, _mm_slli_si128)

MORLAKEN_SSSE3 void storeWk(uint32_t* wk, int group, __m128i words) {
    const __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(&kRound[4 * group]));
    _mm_store_si128(reinterpret_cast<__m128i*>(&wk[4 * group]), _mm_add_epi32(words, k));
    // The rounds are to read these words back from memory, as an operand of their add, and
    // not have the compiler move each lane out of the vector register.
    __asm__ volatile("" ::: "memory");
}

MORLAKEN_SSSE3 __m128i loadWords(const uint8_t* p, __m128i byteSwap) {
    return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), byteSwap);
}

__attribute__((target("ssse3"))) void compress(uint32_t state[8], const uint8_t* data, size_t blocks) {
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    alignas(16) uint32_t wkAll[64];
    const uint32_t* wk = wkAll;
    while (blocks--) {
        __m128i x0 = loadWords(data, byteSwap), x1 = loadWords(data + 16, byteSwap);
        __m128i x2 = loadWords(data + 32, byteSwap), x3 = loadWords(data + 48, byteSwap);
        storeWk(wkAll, 0, x0);
        storeWk(wkAll, 1, x1);
        storeWk(wkAll, 2, x2);
        storeWk(wkAll, 3, x3);
        MORLAKEN_SHA_LOAD_STATE();
        MORLAKEN_SHA_BLOCK_WITH_SCHEDULE();
        MORLAKEN_SHA_ADD_STATE();
        data += kBlockBytes;
    }
}

#undef MORLAKEN_SSSE3
#undef MORLAKEN_SHA_CH

} // namespace ssse3

namespace avx2 {

// W + K of two blocks: group g holds the first block's four words, then the second's.
constexpr int kWkIndex(int i) {
    return (i >> 2) * 8 + (i & 3);
}

#define MORLAKEN_AVX2 __attribute__((target("avx2,bmi,bmi2"), always_inline)) inline

// As in the SSSE3 routine; BMI2's rotate writes a separate register, so no copies at all.
MORLAKEN_AVX2 uint32_t bigSigma0(uint32_t a) {
    return rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22);
}
MORLAKEN_AVX2 uint32_t bigSigma1(uint32_t e) {
    return rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25);
}
// Ch(e, f, g): the two halves never share a set bit, so they may be added, each on its
// own (BMI's andn), and the adds of the round reordered around them.
MORLAKEN_AVX2 uint32_t choose(uint32_t e, uint32_t f, uint32_t g) {
    return (e & f) + (~e & g);
}
#define MORLAKEN_SHA_CH(e, f, g) choose(e, f, g)

MORLAKEN_SHA_VECTOR_SCHEDULE(MORLAKEN_AVX2, __m256i, _mm256_xor_si256, _mm256_srli_epi32, _mm256_slli_epi32,
                             _mm256_add_epi32, _mm256_alignr_epi8, _mm256_bsrli_epi128, _mm256_bslli_epi128)

MORLAKEN_AVX2 void storeWk(uint32_t* wk, int group, __m256i words) {
    const __m256i k =
        _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(&kRound[4 * group])));
    _mm256_store_si256(reinterpret_cast<__m256i*>(&wk[8 * group]), _mm256_add_epi32(words, k));
    __asm__ volatile("" ::: "memory"); // as in the SSSE3 routine
}

// Words 4i..4i+3 of `first` in the low lane and of `second` in the high lane.
MORLAKEN_AVX2 __m256i loadWords(const uint8_t* first, const uint8_t* second, int i, __m256i byteSwap) {
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(first + 16 * i));
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(second + 16 * i));
    return _mm256_shuffle_epi8(_mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1), byteSwap);
}

__attribute__((target("avx2,bmi,bmi2"))) void compress(uint32_t state[8], const uint8_t* data,
                                                       size_t blocks) {
    const __m256i byteSwap = _mm256_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL,
                                               0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    alignas(32) uint32_t wkAll[128];
    while (blocks > 0) {
        // A lone last block is scheduled in both lanes and the second copy ignored.
        const bool pair = blocks >= 2;
        const uint8_t* second = pair ? data + kBlockBytes : data;
        __m256i x0 = loadWords(data, second, 0, byteSwap), x1 = loadWords(data, second, 1, byteSwap);
        __m256i x2 = loadWords(data, second, 2, byteSwap), x3 = loadWords(data, second, 3, byteSwap);
        storeWk(wkAll, 0, x0);
        storeWk(wkAll, 1, x1);
        storeWk(wkAll, 2, x2);
        storeWk(wkAll, 3, x3);
        {
            const uint32_t* wk = wkAll;
            MORLAKEN_SHA_LOAD_STATE();
            MORLAKEN_SHA_BLOCK_WITH_SCHEDULE();
            MORLAKEN_SHA_ADD_STATE();
        }
        if (pair) {
            const uint32_t* wk = wkAll + 4;
            MORLAKEN_SHA_LOAD_STATE();
            MORLAKEN_SHA_ROUNDS64();
            MORLAKEN_SHA_ADD_STATE();
        }
        data += pair ? 2 * kBlockBytes : kBlockBytes;
        blocks -= pair ? 2 : 1;
    }
}

#undef MORLAKEN_AVX2
#undef MORLAKEN_SHA_CH

} // namespace avx2

#undef MORLAKEN_SHA_VECTOR_SCHEDULE
#undef MORLAKEN_SHA_ROUND_WK
#undef MORLAKEN_SHA_ROUNDS4_EVEN
#undef MORLAKEN_SHA_ROUNDS4_ODD
#undef MORLAKEN_SHA_ROUNDS64
#undef MORLAKEN_SHA_GROUP
#undef MORLAKEN_SHA_BLOCK_WITH_SCHEDULE
#undef MORLAKEN_SHA_LOAD_STATE
#undef MORLAKEN_SHA_ADD_STATE

#endif

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

// What the processor (and, for AVX2, the operating system's saving of the wide
// registers) allows, read once with CPUID.
struct CpuFeatures {
    bool ssse3 = false;
    bool avx2 = false; // with BMI1 and BMI2, which the AVX2 routine's rounds use
    bool sha = false;  // with SSSE3 and SSE4.1, which the SHA-extension routine uses
};

CpuFeatures detectCpuFeatures() {
    CpuFeatures out;
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return out;
    const bool ssse3 = (c & (1u << 9)) != 0;
    const bool sse41 = (c & (1u << 19)) != 0;
    const bool osSavesAvx = (c & (1u << 27)) != 0 && (c & (1u << 28)) != 0; // OSXSAVE, AVX
    out.ssse3 = ssse3;
    bool ymmEnabled = false;
    if (osSavesAvx) {
        unsigned lo = 0, hi = 0;
        __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
        ymmEnabled = (lo & 6u) == 6u; // XMM and YMM state
    }
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return out;
    const bool avx2 = (b & (1u << 5)) != 0, bmi1 = (b & (1u << 3)) != 0, bmi2 = (b & (1u << 8)) != 0;
    out.avx2 = ymmEnabled && avx2 && bmi1 && bmi2;
    out.sha = ssse3 && sse41 && (b & (1u << 29)) != 0;
    return out;
}

#else

struct CpuFeatures {
    bool ssse3 = false, avx2 = false, sha = false;
};
CpuFeatures detectCpuFeatures() {
    return {};
}

#endif

// ---- engine choice ----

using CompressFn = void (*)(uint32_t*, const uint8_t*, size_t);

// The processor's features and the routine in use: the one writable static of the hash,
// because every Sha256 in the process must use the same routine and the features are
// read once. The engine is written only by sha256SetEngine (tests, benchmarks).
struct Dispatch {
    CpuFeatures cpu = detectCpuFeatures();
    std::atomic<Sha256Engine> engine{Sha256Engine::Auto}; // Auto until first chosen
};
Dispatch dispatch;

bool available(Sha256Engine engine) {
    switch (engine) {
    case Sha256Engine::Auto:
    case Sha256Engine::Portable:
        return true;
    case Sha256Engine::Ssse3:
        return dispatch.cpu.ssse3;
    case Sha256Engine::Avx2:
        return dispatch.cpu.avx2;
    case Sha256Engine::ShaExtensions:
        return dispatch.cpu.sha;
    }
    return false;
}

// The fastest routine this processor runs.
Sha256Engine bestEngine() {
    if (dispatch.cpu.sha) return Sha256Engine::ShaExtensions;
    if (dispatch.cpu.avx2) return Sha256Engine::Avx2;
    if (dispatch.cpu.ssse3) return Sha256Engine::Ssse3;
    return Sha256Engine::Portable;
}

CompressFn routineOf(Sha256Engine engine) {
    switch (engine) {
#if MORLAKEN_SHA_X86
    case Sha256Engine::Ssse3:
        return ssse3::compress;
    case Sha256Engine::Avx2:
        return avx2::compress;
    case Sha256Engine::ShaExtensions:
        return compressShaExtensions;
#endif
    default:
        return compressPortable;
    }
}

Sha256Engine activeEngine() {
    Sha256Engine engine = dispatch.engine.load(std::memory_order_relaxed);
    if (engine == Sha256Engine::Auto) {
        engine = bestEngine();
        dispatch.engine.store(engine, std::memory_order_relaxed);
    }
    return engine;
}

inline void compress(uint32_t state[8], const uint8_t* data, size_t blocks) {
    routineOf(activeEngine())(state, data, blocks);
}

} // namespace

bool sha256HasShaExtensions() {
    return dispatch.cpu.sha;
}

bool sha256EngineAvailable(Sha256Engine engine) {
    return available(engine);
}

bool sha256SetEngine(Sha256Engine engine) {
    const bool ok = available(engine);
    const Sha256Engine chosen = ok && engine != Sha256Engine::Auto ? engine : bestEngine();
    dispatch.engine.store(chosen);
    return ok;
}

Sha256Engine sha256ActiveEngine() {
    return activeEngine();
}

const char* sha256EngineName(Sha256Engine engine) {
    switch (engine) {
    case Sha256Engine::Auto:
        return "auto";
    case Sha256Engine::Portable:
        return "portable";
    case Sha256Engine::Ssse3:
        return "ssse3";
    case Sha256Engine::Avx2:
        return "avx2";
    case Sha256Engine::ShaExtensions:
        return "sha-extensions";
    }
    return "?";
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

// ---- files ----

std::string sha256File(const std::string& path) {
    Sha256 ctx;
    std::FILE* file = platform::openForReading(path);
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
    return platform::toHex(ctx.finish());
}
