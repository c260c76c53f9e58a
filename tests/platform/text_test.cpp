// text_test.cpp - the shared text helpers (platform/text.h), the same on every system: this
// file runs in the native and the Windows test program alike. (The encoder's surrogate
// pairs: JsonRead in tests/login/json_test.cpp; hex digests: Sha256 in tests/update.)
#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// "ğ" is two bytes, "€" three, "𝄞" four.
const std::string kTwo = "\xC4\x9F", kThree = "\xE2\x82\xAC", kFour = "\xF0\x9D\x84\x9E";

TEST(Text, CaseHexSlashesAndWiping) {
    EXPECT_TRUE(platform::equalsIgnoringCase("Location", "lOCATION"));
    EXPECT_FALSE(platform::equalsIgnoringCase("[", "{")); // 0x5B and 0x7B differ by 0x20 too
    EXPECT_FALSE(platform::equalsIgnoringCase("\xC4\xB0", "i"));
    EXPECT_TRUE(platform::startsWithIgnoringCase("HTTPS://x", "https:"));
    EXPECT_FALSE(platform::startsWithIgnoringCase("http", "https"));

    const uint8_t bytes[] = {0x00, 0x0F, 0xA5, 0xFF};
    EXPECT_EQ(platform::toHex(bytes, sizeof bytes), "000fa5ff");
    std::string escaped = "%";
    platform::appendHex(escaped, bytes + 2, 2, platform::HexDigits::Upper);
    EXPECT_EQ(escaped, "%A5FF");

    EXPECT_EQ(platform::forwardSlashes("..\\build\\morlaken_server.exe"), "../build/morlaken_server.exe");

    std::string secret(100, 's');
    secret.resize(3); // 97 bytes of the old content stay in the buffer behind size()
    const size_t capacity = secret.capacity();
    platform::wipeText(secret);
    EXPECT_TRUE(secret.empty());
    EXPECT_EQ(secret.capacity(), capacity);
    EXPECT_EQ(std::string(secret.data(), capacity), std::string(capacity, '\0'));
}

// The decoding rule of drawing: no validation, and never past the text.
TEST(Text, CodePointsDecodeLikeDrawingWithoutValidation) {
    const struct {
        std::string text;
        std::vector<uint32_t> codePoints;
    } cases[] = {
        {"a" + std::string("\xC5\x9F") + kThree + "\xF0\x9F\x98\x80", {'a', 0x15F, 0x20AC, 0x1F600}},
        {"\xC5", {0x05}},                // cut short: the lead's bits only
        {"\xBFz", {0x7FA}},              // a stray continuation byte leads a pair
        {"\xF9\x80\x80\x81", {0x40001}}, // no five-byte forms: three bytes follow
        {"\xE0\x80\x80", {0}},           // overlong forms are not refused
        {"", {}},
    };
    for (const auto& c : cases) {
        std::vector<uint32_t> got;
        for (size_t pos = 0; pos < c.text.size();)
            got.push_back(platform::nextCodePoint(c.text, pos));
        EXPECT_EQ(got, c.codePoints) << c.text;
    }
    std::string out;
    for (uint32_t c : {0x7Fu, 0x80u, 0x7FFu, 0x800u, 0xFFFFu, 0x10000u, 0x10FFFFu})
        platform::appendUtf8(out, c);
    EXPECT_EQ(out, "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF");
    EXPECT_EQ(platform::codePointCount(out), 7u);
    EXPECT_EQ(platform::codePointCount("\x80\x80"), 0u); // continuation bytes only
}

TEST(Text, WellFormedSequencesOnly) {
    const struct {
        std::string text;
        size_t length;
    } cases[] = {
        {"a", 1},
        {kTwo, 2},
        {kThree, 3},
        {kFour, 4},
        {"\xF4\x8F\xBF\xBF", 4}, // U+10FFFF
        {"\xC1\xBF", 0},         // overlong two bytes
        {"\xE0\x9F\xBF", 0},     // overlong three
        {"\xF0\x8F\xBF\xBF", 0}, // overlong four
        {"\xED\xA0\x80", 0},     // a surrogate
        {"\xF4\x90\x80\x80", 0}, // past U+10FFFF
        {"\xE2\x82", 0},         // cut short
        {"\xE2\x82\x41", 0},     // a letter where a continuation byte belongs
        {"\x80", 0},
        {"\xF8\x80\x80\x80", 0},
        {"", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::utf8SequenceLength(c.text, 0), c.length) << c.text;
    EXPECT_EQ(platform::utf8SequenceLength("a" + kThree, 1), 3u);
}

TEST(Text, CutsNeverSplitACharacter) {
    const struct {
        std::string text;
        size_t max;
        std::string kept;
    } cases[] = {
        {"abcdef", 6, "abcdef"},
        {"abcdef", 4, "abcd"},
        {"ab" + kTwo, 3, "ab"},
        {"ab" + kTwo, 4, "ab" + kTwo},
        {"a" + kThree + "b", 2, "a"},
        {"a" + kThree + "b", 3, "a"},
        {"a" + kThree + "b", 4, "a" + kThree},
        {"a" + kFour, 4, "a"},
        {"a" + kFour + "z", 5, "a" + kFour},
        {"", 0, ""},
        {"x", 0, ""},
        {std::string(8, '\x80'), 5, std::string(5, '\x80')}, // no UTF-8: cut where it is
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::cutAtCharBoundary(c.text, c.max), c.kept) << c.text << " at " << c.max;
}

} // namespace
