// sha256_test.cpp - the launcher's SHA-256 against FIPS 180-4 examples, against OpenSSL as
// an independent reference, and its compression routines against each other.
#include "platform/text.h"
#include "support/temp_folder.h"
#include "update/sha256.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr const char* kEmptyDigest = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

std::string digestOf(const std::string& text) {
    Sha256 ctx;
    ctx.update(text.data(), text.size());
    return platform::toHex(ctx.finish());
}

// The independent reference: OpenSSL here, the system's CNG provider on Windows.
std::string opensslDigest(const uint8_t* data, size_t size) {
    return testsupport::referenceSha256(std::string(reinterpret_cast<const char*>(data), size));
}

bool cpuLists(const std::string& flag) {
#ifdef _WIN32
    std::ifstream in("Z:/proc/cpuinfo"); // Wine shows the host's file system as drive Z:
#else
    std::ifstream in("/proc/cpuinfo");
#endif
    std::string word;
    while (in >> word)
        if (word == flag) return true;
    return false;
}

constexpr Sha256Engine kEngines[] = {Sha256Engine::Portable, Sha256Engine::Ssse3, Sha256Engine::Avx2,
                                     Sha256Engine::ShaExtensions};

// Runs each case once per compression routine; a routine the processor lacks is skipped.
class Sha256Engines : public ::testing::TestWithParam<Sha256Engine> {
  protected:
    void SetUp() override {
        if (!sha256EngineAvailable(GetParam()))
            GTEST_SKIP() << "this processor cannot run " << sha256EngineName(GetParam());
        ASSERT_TRUE(sha256SetEngine(GetParam()));
        ASSERT_EQ(sha256ActiveEngine(), GetParam());
    }
    void TearDown() override { sha256SetEngine(Sha256Engine::Auto); }
};

std::string engineName(const ::testing::TestParamInfo<Sha256Engine>& info) {
    std::string name = sha256EngineName(info.param);
    std::erase(name, '-');
    return name;
}

INSTANTIATE_TEST_SUITE_P(Each, Sha256Engines, ::testing::ValuesIn(kEngines), engineName);

// ---- FIPS 180-4 examples ----

TEST_P(Sha256Engines, StandardExamples) {
    EXPECT_EQ(digestOf(""), kEmptyDigest);
    EXPECT_EQ(digestOf("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(digestOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(digestOf(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

// ---- block and padding boundaries ----

// Every length up to 1000 bytes (the padding edges at 55/56/64, and the AVX2 routine's lone
// last block), then large inputs with even and odd block counts: each hashed whole and in
// random pieces that include empty and one-byte updates, by one context reused via reset().
TEST_P(Sha256Engines, WholeAndInPiecesMatchOpenSsl) {
    std::mt19937 rng(20261206);
    std::vector<uint8_t> data(1 << 20);
    for (auto& b : data)
        b = uint8_t(rng());
    std::vector<size_t> lengths;
    for (size_t length = 0; length <= 1000; ++length)
        lengths.push_back(length);
    lengths.insert(lengths.end(), {4095u, 65536u, 65536u + 64u, 70001u, 1u << 20});
    Sha256 ctx;
    ctx.update("left over", 9);
    for (size_t length : lengths) {
        const uint8_t* bytes = data.data() + (length <= 1000 ? length * 7 : 0);
        const std::string expected = opensslDigest(bytes, length);
        ctx.reset();
        ctx.update(bytes, length);
        ASSERT_EQ(platform::toHex(ctx.finish()), expected) << "whole, length " << length;
        ctx.reset();
        for (size_t at = 0; at < length;) {
            size_t n = std::min<size_t>(length - at, rng() % 150);
            ctx.update(bytes + at, n);
            at += n;
        }
        ASSERT_EQ(platform::toHex(ctx.finish()), expected) << "in pieces, length " << length;
    }
}

// ---- choosing a routine ----

TEST(Sha256, AutoPicksTheFastestRoutineTheCpuHas) {
    const bool sha = cpuLists("sha_ni") && cpuLists("sse4_1") && cpuLists("ssse3");
    // AVX2 also needs the operating system to save the wide registers, which cpuinfo hides
    // by not listing avx2 at all.
    const bool avx2 = cpuLists("avx2") && cpuLists("bmi1") && cpuLists("bmi2");
    EXPECT_EQ(sha256HasShaExtensions(), sha);
    EXPECT_EQ(sha256EngineAvailable(Sha256Engine::ShaExtensions), sha);
    EXPECT_EQ(sha256EngineAvailable(Sha256Engine::Avx2), avx2);
    EXPECT_EQ(sha256EngineAvailable(Sha256Engine::Ssse3), cpuLists("ssse3"));
    EXPECT_TRUE(sha256EngineAvailable(Sha256Engine::Portable));

    EXPECT_TRUE(sha256SetEngine(Sha256Engine::Auto));
    const Sha256Engine best = sha                 ? Sha256Engine::ShaExtensions
                              : avx2              ? Sha256Engine::Avx2
                              : cpuLists("ssse3") ? Sha256Engine::Ssse3
                                                  : Sha256Engine::Portable;
    EXPECT_EQ(sha256ActiveEngine(), best);
    // Forcing a routine and going back to Auto restores the choice.
    EXPECT_TRUE(sha256SetEngine(Sha256Engine::Portable));
    EXPECT_EQ(sha256ActiveEngine(), Sha256Engine::Portable);
    EXPECT_TRUE(sha256SetEngine(Sha256Engine::Auto));
    EXPECT_EQ(sha256ActiveEngine(), best);
}

// ---- files ----

// Read in 64 KiB chunks; what cannot be read (a missing file, a folder) hashes as empty.
TEST(Sha256Files, WholeContentAcrossChunksAndNothingForWhatCannotBeRead) {
    testsupport::TempFolder folder;
    for (size_t length : {0, 1, 65535, 65536, 65537, 200001}) {
        const std::string data = testsupport::patternBytes(length, static_cast<uint32_t>(length));
        testsupport::writeFile(folder / "f", data);
        EXPECT_EQ(sha256File(folder / "f"), testsupport::referenceSha256(data)) << "length " << length;
    }
    for (const std::string& path : {folder / "missing", std::string(), folder.path()})
        EXPECT_EQ(sha256File(path), kEmptyDigest) << path;
}

} // namespace
