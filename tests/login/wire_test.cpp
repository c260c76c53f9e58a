// wire_test.cpp - the game server's messages at their limits, and the server address rule.
#include "login/gameserver.h"
#include "login/wire.h"

#include <gtest/gtest.h>

namespace {

using namespace wire;

std::string bytes(std::initializer_list<int> values) {
    return {values.begin(), values.end()};
}

TEST(Wire, LoginRequestIsLaidOutByteForByteWithTextsCutAt64AndMalformedOnesAreRefused) {
    EXPECT_EQ(encodeProbeRequest(), bytes({0x0D}));
    EXPECT_EQ(encodeLoginRequest("ab", "x"), bytes({0x0A, 5, 0, 0, 0, 2, 'a', 'b', 1, 'x', 0}));
    EXPECT_EQ(encodeLoginRequest("", ""), bytes({0x0A, 5, 0, 0, 0, 0, 0, 0}));

    const std::string longUser(100, 'u'), longPassword(70, 'p');
    const std::string request = encodeLoginRequest(longUser, longPassword);
    ASSERT_EQ(request.size(), 8u + 64 + 64);
    EXPECT_EQ(static_cast<uint8_t>(request[5]), 64);
    EXPECT_EQ(request.substr(6, 64), std::string(64, 'u'));
    EXPECT_EQ(static_cast<uint8_t>(request[70]), 64);
    EXPECT_EQ(request.back(), '\0');

    LoginRequest decoded;
    std::string reason;
    ASSERT_TRUE(decodeLoginRequest(request, decoded, reason)) << reason;
    EXPECT_EQ(decoded.version, kLauncherVersion);
    EXPECT_EQ(decoded.user, std::string(64, 'u'));
    EXPECT_EQ(decoded.password, std::string(64, 'p'));

    const std::string good = encodeLoginRequest("ab", "x");
    const std::string over = bytes({0x0A, 5, 0, 0, 0, 65}) + std::string(65, 'u') + bytes({0, 0});
    const std::string cases[] = {
        "",
        bytes({0x0D}),
        good.substr(0, good.size() - 1), // no end byte
        good.substr(0, 7),               // user cut
        good + "x",                      // trailing byte
        good.substr(0, good.size() - 1) + bytes({1}),
        over,
    };
    for (const std::string& c : cases) {
        reason.clear();
        EXPECT_FALSE(decodeLoginRequest(c, decoded, reason)) << c.size();
        EXPECT_FALSE(reason.empty());
    }
}

TEST(Wire, NewsAnswerRoundTripsAtItsLimitsAndRefusesOverlongOrCutItems) {
    const std::vector<NewsItem> items = {
        {std::string(65, 't'), std::string(90, 'b'), std::string(2001, 'g')}, // encoded cut
        {"", "", ""},
        {"Duyuru", "Başlık", "İçerik çğıöşü"},
    };
    const std::string encoded = encodeNewsAnswer(items);
    NewsAnswer decoded = decodeNewsAnswer(encoded);
    ASSERT_TRUE(decoded.hasCount && decoded.ok);
    ASSERT_EQ(decoded.items.size(), 3u);
    EXPECT_EQ(decoded.items[0].tag, std::string(64, 't'));
    EXPECT_EQ(decoded.items[0].title, std::string(64, 'b'));
    EXPECT_EQ(decoded.items[0].body, std::string(2000, 'g'));
    EXPECT_EQ(decoded.items[2].title, "Başlık");
    EXPECT_EQ(decoded.consumed, encoded.size());

    struct Case {
        std::string message;
        bool hasCount, ok;
        size_t items;
    } cases[] = {
        {bytes({0x0E}), false, false, 0},
        {bytes({0x0E, 0}), true, true, 0},
        {bytes({0x0E, 1}), true, false, 0},
        {bytes({0x0E, 1, 1, 'a', 0, 0xD1, 0x07}) + std::string(2001, 'g'), true, false, 0}, // body 2001
        {bytes({0x0E, 1, 65}) + std::string(65, 'a') + bytes({0, 0, 0}), true, false, 0},
        {bytes({0x0E, 1, 1, 'a', 0, 3, 0, 'x'}), true, false, 0}, // body cut
        {bytes({0x0E, 1, 1, 'a', 0, 0}), true, false, 0},         // half a str16 length
        {bytes({0x0E, 2, 0, 0, 0, 0}), true, false, 0},           // second item missing
        {bytes({0x0E, 1, 0, 0, 1, 0, 'z'}), true, true, 1},
    };
    for (const Case& c : cases) {
        const NewsAnswer answer = decodeNewsAnswer(c.message);
        EXPECT_EQ(answer.hasCount, c.hasCount) << c.message.size();
        EXPECT_EQ(answer.ok, c.ok) << c.message.size();
        EXPECT_EQ(answer.items.size(), c.items) << c.message.size();
    }
}

TEST(Wire, AnswersDecodeAtTheirLimitsAndFailOnCutOrOverlongTexts) {
    const LoginAccepted accepted = decodeLoginAccepted(encodeLoginAccepted("hesap", std::string(80, 'k')));
    EXPECT_TRUE(accepted.ok);
    EXPECT_EQ(accepted.account, "hesap");
    EXPECT_EQ(accepted.ticket, std::string(64, 'k'));

    const Rejected yasak = decodeRejected(encodeRejected("yasak"));
    EXPECT_TRUE(yasak.ok);
    EXPECT_EQ(yasak.reason, "yasak");
    EXPECT_EQ(encodeRejected(std::string(64, 'r')).size(), 66u);
    struct Case {
        std::string message;
        bool ok;
    } okCases[] = {
        {bytes({0x0B}), false},
        {bytes({0x0B, 0, 0}), false}, // empty ticket
        {bytes({0x0B, 0, 1, 'T'}), true},
        {bytes({0x0B, 0, 2, 'T'}), false},
        {bytes({0x0B, 0, 65}) + std::string(65, 'T'), false},
        {bytes({0x07}), false},
        {bytes({0x07, 66}) + std::string(66, 'r'), false},
        {"", false},
    };
    for (const Case& c : okCases)
        EXPECT_EQ(c.message.starts_with('\x0B') ? decodeLoginAccepted(c.message).ok
                                                : decodeRejected(c.message).ok,
                  c.ok)
            << c.message.size();

    struct Refused {
        std::string message;
        uint8_t reason;
        std::string text;
        bool ok;
    } refusedCases[] = {
        {encodeLoginRefused(3, "bekle"), 3, "bekle", true},
        {encodeLoginRefused(9, std::string(70, 'm')), 9, std::string(64, 'm'), true},
        {bytes({0x0C}), 0, "", false},
        {bytes({0x0C, 2}), 2, "", false},
        {bytes({0x0C, 2, 5, 'a'}), 2, "", false},
    };
    for (const Refused& c : refusedCases) {
        const LoginRefused refused = decodeLoginRefused(c.message);
        EXPECT_EQ(refused.reason, c.reason);
        EXPECT_EQ(refused.message, c.text);
        EXPECT_EQ(refused.ok, c.ok);
    }
}

TEST(ServerAddress, AcceptsHostAndPortAndRefusesEveryBadForm) {
    struct Case {
        std::string text;
        bool ok;
        std::string host;
        uint16_t port;
    } cases[] = {
        {"  oyun.example\t ", true, "oyun.example", 27015},
        {"1.2.3.4:7777", true, "1.2.3.4", 7777},
        {"\t127.0.0.1:65535 ", true, "127.0.0.1", 65535},
        {"h:1", true, "h", 1},
        {"h:00080", true, "h", 80},
        {"host:70000", false, "", 0},
        {"host:65536", false, "", 0},
        {"host:", false, "", 0},
        {":7000", false, "", 0},
        {"a:b:c", false, "", 0},
        {"host:0", false, "", 0},
        {"host:12a", false, "", 0},
        {"host:+12", false, "", 0},
        {"host:000080", false, "", 0},
        {"", false, "", 0},
        {" \t ", false, "", 0},
    };
    for (const Case& c : cases) {
        std::string host;
        uint16_t port = 0;
        EXPECT_EQ(parseServerAddress(c.text, host, port), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(host, c.host) << c.text;
            EXPECT_EQ(port, c.port) << c.text;
        }
    }
}

} // namespace
