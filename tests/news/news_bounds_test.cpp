// news_bounds_test.cpp - feed fields are cut to their bounds at a character boundary.
#include "news/news.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// "ğ" is two bytes, "€" three.
const std::string kTwo = "\xC4\x9F", kThree = "\xE2\x82\xAC";

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
