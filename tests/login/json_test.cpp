// json_test.cpp - the JSON scan and quoting, byte for byte.
#include "login/json.h"

#include <gtest/gtest.h>

namespace {

TEST(JsonQuote, EscapesQuotesBackslashesAndControlBytesOnly) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"", "\"\""},
        {"a\"b", "\"a\\\"b\""},
        {"a\\b", "\"a\\\\b\""},
        {"\t\n\r", "\"\\u0009\\u000a\\u000d\""},
        {std::string("\0\x01\x1f", 3), "\"\\u0000\\u0001\\u001f\""},
        {" \x7f/", "\" \x7f/\""},
        {"çğıöşüÇĞİÖŞÜ", "\"çğıöşüÇĞİÖŞÜ\""},
        {"\xff\x80", "\"\xff\x80\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(jsonQuote(c.in), c.out) << c.in;
}

TEST(JsonReadString, DecodesEscapesAndStopsAtTheClosingQuote) {
    struct Case {
        std::string json;
        std::string value;
        size_t stop;
    } cases[] = {
        {"\"abc\"x", "abc", 4},
        {"\"a\\nb\\tc\\rd\"", "a\nb\tc\rd", 11},
        {"\"x\\by\\fz\"", "xyz", 8},
        {"\"\\\"\\\\\\/\\q\"", "\"\\/q", 9},
        {"\"\\u00e7\\u00C7\"", "çÇ", 13},
        {"\"\\u0041\\u0000\"", std::string("A\0", 2), 13},
        {"\"\\ud83d\\ude00\"", "\xF0\x9F\x98\x80", 13},
        {"\"\\ud83dx\"", "\xED\xA0\xBDx", 8},       // high half alone
        {"\"\\ude00\"", "\xED\xB8\x80", 7},         // low half alone
        {"\"\\ud800\\u0041\"", "\xE2\x91\x81", 13}, // second value not checked: 0x2441
        {"\"\\ud83d\\uzzzz\"", "\xED\xA0\xBDuzzzz", 13},
        {"\"\\u12\"", "u12", 5}, // too few hex digits: the 'u' stays
        {"\"\\u12g4\"", "u12g4", 7},
        {"\"abc", "abc", 4},   // cut: stops at the end
        {"\"ab\\", "ab\\", 4}, // final lone backslash
        {"\"\\u00", "u00", 5},
        {"\"", "", 1},
    };
    for (const auto& c : cases) {
        std::string value = "old";
        EXPECT_EQ(jsonReadString(c.json, 0, value), c.stop) << c.json;
        EXPECT_EQ(value, c.value) << c.json;
    }
}

TEST(JsonGetTopLevelString, FindsOnlyStringMembersOfTheOutermostObject) {
    struct Case {
        std::string json, key;
        bool found;
        std::string value;
    } cases[] = {
        {R"({"message":"TOTP_REQUIRED"})", "message", true, "TOTP_REQUIRED"},
        {" {\r\n\t\"message\" \t:\n \"x\" } ", "message", true, "x"},
        {R"({"a":{"message":"inner"}})", "message", false, ""},
        {R"({"a":{"message":"inner"},"message":"outer"})", "message", true, "outer"},
        {R"({"a":["message",{"message":"no"}],"message":"yes"})", "message", true, "yes"},
        {R"({"message":"first","message":"second"})", "message", true, "first"},
        {R"({"message":5,"message":"later"})", "message", false, ""},
        {R"({"ticket":12345})", "ticket", false, ""},
        {R"({"ticket":null})", "ticket", false, ""},
        {R"({"ticket":{"a":"b"}})", "ticket", false, ""},
        {R"({"x":"message","message":"m"})", "message", true, "m"}, // a value is no key
        {R"({"mess\u0061ge":"esc"})", "message", true, "esc"},
        {R"({"message":"a\"b"})", "message", true, "a\"b"},
        {R"({"message":)", "message", false, ""},
        {R"({"message":"cut)", "message", false, ""}, // no closing quote: no value
        {"{\"ticket\":\"TRUNC\\", "ticket", false, ""},
        {R"({"message")", "message", false, ""},
        {R"({"messa)", "message", false, ""},
        {R"(["message":"array"])", "message", true, "array"}, // depth only, brackets alike
        {R"("message":"top")", "message", false, ""},         // depth 0
        {R"(}{{"message":"d"})", "message", true, "d"},       // depth goes back to 1
        {"not json at all", "message", false, ""},
        {"", "message", false, ""},
        {R"({"Message":"case"})", "message", false, ""},
    };
    for (const auto& c : cases) {
        std::string value;
        EXPECT_EQ(jsonGetTopLevelString(c.json, c.key, value), c.found) << c.json;
        EXPECT_EQ(value, c.value) << c.json;
    }
}

} // namespace
