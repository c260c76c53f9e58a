// news_bounds_test.cpp - feed fields are cut to their bounds at a character boundary.
#include "news/news.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// "ğ" is two bytes, "€" three, "𝄞" four.
const std::string kTwo = "\xC4\x9F", kThree = "\xE2\x82\xAC", kFour = "\xF0\x9D\x84\x9E";

TEST(NewsBounds, CutsNeverSplitACharacter) {
    struct Case {
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
    for (const Case& c : cases)
        EXPECT_EQ(cutAtCharBoundary(c.text, c.max), c.kept) << c.text << " at " << c.max;
}

TEST(NewsBounds, FeedFieldsAreCutToTheirBoundsAndShorterOnesKeptWhole) {
    // A megabyte headline, a tag one byte over, and a body whose last character straddles
    // its bound.
    const std::string hugeTitle(1000000, 'T');
    const std::string longTag = std::string(255, 'g') + kTwo; // 257 bytes, "ğ" straddles 256
    const std::string longBody = std::string(3998, 'b') + kThree + "tail";
    const std::string feed = longTag + "|" + hugeTitle + "|" + longBody + "\n" + std::string(256, 't') + "|" +
                             std::string(256, 'h') + "|" + std::string(4000, 'y') + "\r\n";

    const std::vector<NewsItem> items = parseNewsFeed(feed);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].tag, std::string(255, 'g'));
    EXPECT_EQ(items[0].title, std::string(kNewsTitleMaxBytes, 'T'));
    EXPECT_EQ(items[0].body, std::string(3998, 'b'));
    EXPECT_EQ(items[1].tag, std::string(256, 't'));
    EXPECT_EQ(items[1].title, std::string(256, 'h'));
    EXPECT_EQ(items[1].body, std::string(4000, 'y'));
}

} // namespace
