// news_fuzz.cpp - the news feed, one "tag|title|body" item per line.
//
// Properties: no field is longer than its bound; no tag or title holds a bar and no field
// a line feed; a feed of well-formed UTF-8 gives fields of well-formed UTF-8 (cuts never
// split a character); each field is the start of what the feed had there; the items
// written back as a feed parse to the same items.
#include "fuzz_check.h"
#include "news/news.h"

#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<NewsItem> items = parseNewsFeed(text);
    const bool validInput = fuzzcheck::isValidUtf8(text);
    FUZZ_CHECK(items.size() <= size / 2 + 1); // every item needs two bars
    for (const NewsItem& item : items) {
        FUZZ_CHECK(item.tag.size() <= kNewsTagMaxBytes);
        FUZZ_CHECK(item.title.size() <= kNewsTitleMaxBytes);
        FUZZ_CHECK(item.body.size() <= kNewsBodyMaxBytes);
        FUZZ_CHECK(item.tag.find_first_of("|\n") == std::string::npos);
        FUZZ_CHECK(item.title.find_first_of("|\n") == std::string::npos);
        FUZZ_CHECK(item.body.find('\n') == std::string::npos);
        if (validInput) {
            FUZZ_CHECK(fuzzcheck::isValidUtf8(item.tag));
            FUZZ_CHECK(fuzzcheck::isValidUtf8(item.title));
            FUZZ_CHECK(fuzzcheck::isValidUtf8(item.body));
        }
    }

    std::string again;
    for (const NewsItem& item : items)
        again += item.tag + "|" + item.title + "|" + item.body + "\r\n";
    const std::vector<NewsItem> reread = parseNewsFeed(again);
    FUZZ_CHECK(reread.size() == items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        FUZZ_CHECK(reread[i].tag == items[i].tag);
        FUZZ_CHECK(reread[i].title == items[i].title);
        FUZZ_CHECK(reread[i].body == items[i].body);
    }

    // Cutting is a prefix, never longer than asked, and never shorter than needed: at most
    // three bytes go beyond the bound's last whole character.
    const size_t bound = size ? data[0] : 0;
    const std::string_view cut = platform::cutAtCharBoundary(text, bound);
    FUZZ_CHECK(text.substr(0, cut.size()) == cut);
    FUZZ_CHECK(cut.size() <= bound || cut.size() == text.size());
    if (text.size() <= bound)
        FUZZ_CHECK(cut.size() == text.size());
    else
        FUZZ_CHECK(cut.size() + 3 >= bound);
    if (validInput) FUZZ_CHECK(fuzzcheck::isValidUtf8(cut));
    return 0;
}
