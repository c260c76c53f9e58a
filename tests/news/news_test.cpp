// news_test.cpp - the feed parse and its bounds, the list's replacement rules, the
// background fetch against a loopback server (size limit, failures) and a launcher exiting
// while the feed is still downloading.
#include "news/news.h"

#include "platform/platform.h"
#include "support/child_process.h"
#include "support/temp_folder.h"
#include "support/test_server.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace testsupport;

namespace {

// ---- parsing ----

// The cut itself: Text.CutsNeverSplitACharacter (tests/platform). "ğ" is two bytes, "€" three.
const std::string kTwo = "\xC4\x9F", kThree = "\xE2\x82\xAC";

TEST(NewsParse, FieldsLinesLineEndsAndBounds) {
    struct Case {
        const char* what;
        std::string feed;
        std::vector<NewsItem> items;
    };
    const Case cases[] = {
        {"bars after the second belong to the body",
         "Etkinlik|Ejder Avı başlıyor|Kuzey dağlarında|iki kat ödül|",
         {{"Etkinlik", "Ejder Avı başlıyor", "Kuzey dağlarında|iki kat ödül|"}}},
        {"empty fields",
         "Duyuru||gövde\n|başlık|\n||\n",
         {{"Duyuru", "", "gövde"}, {"", "başlık", ""}, {"", "", ""}}},
        {"lines without two bars are skipped",
         "\n\nsadece metin\nsonda|\nor|ta\n|basta\n\r\nA|B|C",
         {{"A", "B", "C"}}},
        {"empty feed", "", {}},
        {"one bar", "|", {}},
        {"blank lines", "\n\n\n", {}},
        {"CR LF ends a line, one CR is dropped, an inner CR stays, the last line needs no LF",
         "a|b|c\r\nd|e\rf|g\r\r\nh|i|j",
         {{"a", "b", "c"}, {"d", "e\rf", "g\r"}, {"h", "i", "j"}}},
        {"a lone CR is no line end", "a|b|c\rd|e|f", {{"a", "b", "c\rd|e|f"}}},
        {"feed order and raw bytes",
         "1|bir|\n2|iki|\n3|üç|\n4|dört|\nx|y|" + std::string("\0z", 2),
         {{"1", "bir", ""},
          {"2", "iki", ""},
          {"3", "üç", ""},
          {"4", "dört", ""},
          {"x", "y", std::string("\0z", 2)}}},
        {"over-long fields are cut at a character boundary, fields at their bounds kept whole",
         std::string(255, 'g') + kTwo + "|" + std::string(1000000, 'T') + "|" + std::string(3998, 'b') +
             kThree + "tail\n" + std::string(256, 't') + "|" + std::string(256, 'h') + "|" +
             std::string(4000, 'y') + "\r\n",
         {{std::string(255, 'g'), std::string(kNewsTitleMaxBytes, 'T'), std::string(3998, 'b')},
          {std::string(256, 't'), std::string(256, 'h'), std::string(4000, 'y')}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto items = parseNewsFeed(c.feed);
        ASSERT_EQ(items.size(), c.items.size());
        for (size_t i = 0; i < items.size(); ++i)
            EXPECT_TRUE(items[i].tag == c.items[i].tag && items[i].title == c.items[i].title &&
                        items[i].body == c.items[i].body)
                << i;
    }
}

// ---- fetching ----

class NewsFetch : public ::testing::Test {
  protected:
    // Runs the per-frame poll until the fetch has been parsed.
    bool pollUntilParsed() {
        return waitFor([&] { return !newsFetchPending(news); }, 20.0, [&] { pollNewsFeed(news); });
    }
    NewsState news;
};

std::string feedOfSize(size_t size) {
    std::string text = "Etkinlik|Hasat Şenliği|Köy meydanında\n";
    text.append(size - text.size() - 1, 'x'); // a long line without bars, skipped by the parse
    text.push_back('\n');
    return text;
}

// A feed with items replaces the game server's list for good; one that fails (an error
// status whose body looks like a feed, nothing valid, 1 MiB or more; every failed transfer
// is alike here, http_test tells them apart) leaves the list to the server.
TEST_F(NewsFetch, AFeedWithItemsReplacesTheListForGoodAFailedOneLeavesIt) {
    TestServer server;
    server.route("/iki.txt", answer(200, "Yama|Sürüm 1.2 yayında|Yenilikler\r\nEtkinlik|Kale|\r\n"));
    server.route("/sinirda.txt", answer(200, feedOfSize(1048575)));
    server.route("/buyuk.txt", answer(200, feedOfSize(1048576)));
    server.route("/yok.txt", answer(404, "Hata|Bulunamadı|404\n"));
    server.route("/bos.txt", answer(200, "yalnızca metin\n"));
    const struct {
        std::string address;
        size_t items;
        std::string firstTitle;
    } cases[] = {
        {server.baseUrl() + "iki.txt", 2, "Sürüm 1.2 yayında"},
        {server.baseUrl() + "sinirda.txt", 1, "Hasat Şenliği"},
        {server.baseUrl() + "buyuk.txt", 1, "sunucu"},
        {server.baseUrl() + "yok.txt", 1, "sunucu"},
        {server.baseUrl() + "bos.txt", 1, "sunucu"},
    };
    for (const auto& c : cases) {
        news = NewsState{};
        replaceNewsFromServer(news, {{"s", "sunucu", "g"}});
        startNewsFetch(news, c.address);
        startNewsFetch(news, c.address); // ignored while one is pending: one request each
        EXPECT_TRUE(newsFetchPending(news));
        ASSERT_TRUE(pollUntilParsed()) << c.address;
        ASSERT_EQ(news.items.size(), c.items) << c.address;
        EXPECT_EQ(news.items[0].title, c.firstTitle) << c.address;
        const bool fed = c.firstTitle != "sunucu";
        EXPECT_EQ(news.fromFeed, fed) << c.address;
        // A later server answer, empty or not, changes the list only when the feed failed.
        replaceNewsFromServer(news, {});
        EXPECT_EQ(news.items.empty(), !fed) << c.address;
    }
    EXPECT_EQ(server.requestCount("/iki.txt"), 1);
    // No address, no fetch.
    news = NewsState{};
    startNewsFetch(news, "");
    EXPECT_FALSE(newsFetchPending(news));
    EXPECT_TRUE(stopNewsFetch(news, 0.0));
}

// ---- exiting during a download ----

// Runs inside a child process started by the test below: begins a fetch against a
// stalling server, waits until the parent says the server holds the request, then leaves
// main while the thread is still inside the HTTP library, or after stopping it.
TEST(NewsExitChild, LeaveWhileDownloading) {
    const char* url = std::getenv("MORLAKEN_NEWS_EXIT_URL");
    const char* mark = std::getenv("MORLAKEN_NEWS_EXIT_MARK");
    const char* stop = std::getenv("MORLAKEN_NEWS_EXIT_STOP");
    if (!url || !mark) GTEST_SKIP() << "only run as the child of NewsExit tests";
    NewsState news; // gone when the test returns, as the launcher's when it closes
    startNewsFetch(news, url);
    ASSERT_TRUE(waitFor([&] { return platform::fileSize(mark) >= 0; }, 20.0));
    pollNewsFeed(news);
    EXPECT_TRUE(newsFetchPending(news));
    if (!stop || std::string(stop) != "1") return;
    EXPECT_TRUE(stopNewsFetch(news, 5.0)); // promptly: the thread has left the HTTP library
    pollNewsFeed(news);
    EXPECT_FALSE(newsFetchPending(news));
    EXPECT_TRUE(news.items.empty());
}

TEST(NewsExit, ClosingDuringASlowFeedExitsCleanlyWithAndWithoutAStop) {
    for (const char* stop : {"0", "1"}) {
        TempFolder folder;
        const std::string mark = folder / "arrived";
        const std::string log = folder / "child.log";
        TestServer server;
        server.route("/haberler.txt", stall(std::string(100000, 'x'), 100));
        ChildOptions options;
        options.extraEnv = {{"MORLAKEN_NEWS_EXIT_URL", server.baseUrl() + "haberler.txt"},
                            {"MORLAKEN_NEWS_EXIT_MARK", mark},
                            {"MORLAKEN_NEWS_EXIT_STOP", stop}};
        options.stdoutFile = log;
        options.stderrFile = folder / "child.err";
        Child child;
        ASSERT_TRUE(child.start(platform::executablePath(),
                                {"--gtest_filter=NewsExitChild.LeaveWhileDownloading"}, options));
        ASSERT_TRUE(waitFor([&] { return server.stalledNow() == 1; }, 20.0));
        writeFile(mark, "1"); // the download is under way: let the child leave
        int rc = -1;
        ASSERT_TRUE(child.wait(30.0, rc));
        const std::string output = readFile(log) + readFile(folder / "child.err");
        EXPECT_EQ(rc, 0) << output;
        EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
        EXPECT_EQ(output.find("Sanitizer"), std::string::npos) << output;
        EXPECT_EQ(server.requestCount("/haberler.txt"), 1);
    }
}

} // namespace
