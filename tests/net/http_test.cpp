// http_test.cpp - httpGet against one server per test on 127.0.0.1, and the sinks' rules on
// their own. (The POST: PostJson in tests/login/account_test.cpp; a stalled or cut body:
// UpdaterTest.DownloadFailuresKeepEarlierFilesAndOldContentAndSaveTheCache; a stop during a
// stalled transfer: UpdaterTest.StopDuringADownloadLeavesNoPartialFileAndNoCache.)
#include "net/http.h"
#include "support/child_process.h"
#include "support/temp_folder.h"
#include "support/test_server.h"
#include "update/download.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <optional>

using namespace testsupport;

namespace {

const std::string kUntouched = "untouched";

class HttpGetTest : public ::testing::Test {
  protected:
    // GET into a string; records every chunk size handed to the sink.
    bool get(const std::string& url, std::string& outBody, std::string& outError,
             HttpSession* session = nullptr) {
        DownloadSink inner = makeStringSink(outBody, kFileListCap);
        chunks.clear();
        DownloadSink sink = [&](const uint8_t* bytes, uint32_t count) {
            chunks.push_back(count);
            return inner(bytes, count);
        };
        return httpGet(url, sink, outError, stop, session);
    }
    std::atomic<bool> stop{false};
    TestServer server;
    std::vector<uint32_t> chunks;
};

// ---- answers ----

TEST_F(HttpGetTest, OnlyTheFinalStatus200CountsAndOtherAnswersGiveTheirWords) {
    const std::string big = patternBytes(3 * 1048576 + 5, 3);
    const std::string base = server.baseUrl();
    const int closedPort = pickFreePort();
    server.route("/a.bin", answer(200, big));
    server.route("/empty", answer(200, ""));
    server.route("/missing", answer(404, "no such file, and this text must not reach the sink"));
    server.route("/broken", answer(500, "oops"));
    server.route("/garbage", misbehave(Behaviour::Garbage)); // no readable status line: status 0
    server.route("/old", redirect(301, "/moved"));           // relative, then a second hop
    server.route("/moved", redirect(302, base + "final"));
    server.route("/final", answer(200, "final body"));
    server.route("/moved-gone", redirect(302, base + "gone"));
    server.route("/sneaky", redirect(302, "file:///etc/passwd"));
    server.route("/silent", misbehave(Behaviour::Silent)); // no answer head within the no-data limit
    const struct {
        std::string url;
        const char* error; // "" = success
        std::string body;
    } cases[] = {
        {base + "a.bin", "", big},
        {base + "empty", "", ""},
        {base + "old", "", "final body"},
        {base + "missing", "sunucu 404 dondu", ""},
        {base + "broken", "sunucu 500 dondu", ""},
        {base + "garbage", "sunucu 0 dondu", ""},
        {base + "moved-gone", "sunucu 404 dondu", ""},
        {base + "sneaky", kErrConnect, ""},
        {base + "silent", kErrConnect, ""},
        {"http://127.0.0.1:" + std::to_string(closedPort) + "/dosyalar.txt", kErrConnect, ""},
        {"ftp://127.0.0.1:" + std::to_string(closedPort) + "/x", kErrConnect, ""},
        {"not a url at all", kErrConnect, ""},
        {"", kErrConnect, ""},
    };
    HttpSession shortWait({.noDataTimeoutSeconds = 1});
    for (const auto& c : cases) {
        std::string body, error = kUntouched;
        EXPECT_EQ(get(c.url, body, error, &shortWait), *c.error == '\0') << c.url;
        EXPECT_EQ(error, *c.error ? c.error : kUntouched) << c.url;
        EXPECT_TRUE(body == c.body) << c.url << ": " << body.size() << " bytes";
        EXPECT_TRUE(
            std::all_of(chunks.begin(), chunks.end(), [](uint32_t n) { return n > 0 && n <= 65536; }));
    }
    EXPECT_EQ(server.requestCount("/final"), 1);
    const SeenRequest first = server.requests().at(0);
    EXPECT_EQ(first.method, "GET");
    EXPECT_EQ(first.userAgent, "MorlakenLauncher");
    EXPECT_EQ(first.pragma, "no-cache");
    EXPECT_EQ(first.cacheControl, "no-cache");
}

TEST_F(HttpGetTest, ARefusedChunkEndsTheTransferAndAStopLeavesNoWord) {
    server.route("/a", answer(200, patternBytes(300000, 4)));
    int calls = 0;
    std::string error;
    EXPECT_FALSE(httpGet(
        server.baseUrl() + "a", [&](const uint8_t*, uint32_t) { return ++calls < 2; }, error, stop));
    EXPECT_EQ(error, "diske yazilamadi");
    EXPECT_EQ(calls, 2); // no chunk is offered after a refusal

    stop.store(true);
    std::string body;
    error = kUntouched;
    EXPECT_FALSE(get(server.baseUrl() + "a", body, error));
    EXPECT_EQ(error, kUntouched);
    EXPECT_TRUE(body.empty());
}

TEST(HttpTls, UntrustedCertificateIsUnreachableAndTrustedOneWorks) {
    TestServer tlsServer{true};
    tlsServer.route("/dosyalar.txt", answer(200, "morlaken-liste 1\n"));
    for (const bool trusted : {false, true}) {
        ScopedEnv certificate("SSL_CERT_FILE", trusted ? testCertificate().c_str() : nullptr);
        std::string body, error;
        EXPECT_EQ(
            httpGet(tlsServer.baseUrl() + "dosyalar.txt", makeStringSink(body, kNewsCap), error, neverStop()),
            trusted);
        EXPECT_EQ(error, trusted ? "" : kErrConnect);
        EXPECT_EQ(body, trusted ? "morlaken-liste 1\n" : "");
    }
}

// ---- sinks (no server: the chunks are handed over directly) ----

bool feed(const DownloadSink& sink, size_t bytes) {
    const std::string chunk(bytes, 'a');
    return sink(reinterpret_cast<const uint8_t*>(chunk.data()), static_cast<uint32_t>(chunk.size()));
}

TEST(Sinks, StringSinkRefusesTheChunkThatReachesItsCap) {
    for (size_t cap : {kFileListCap, kNewsCap}) {
        std::string body;
        const DownloadSink sink = makeStringSink(body, cap);
        EXPECT_TRUE(feed(sink, cap - 2)) << cap;
        EXPECT_TRUE(feed(sink, 1)) << cap; // one byte below the cap
        EXPECT_FALSE(feed(sink, 1)) << cap;
        EXPECT_EQ(body.size(), cap);
    }
}

TEST(Sinks, FileHashSinkCountsEveryByteButWritesNoneBeyondTheListedSize) {
    TempFolder tmp;
    Sha256 hash;
    int64_t fileBytes = 0;
    std::atomic<int64_t> counted{0};
    {
        std::ofstream out(tmp / "x", std::ios::binary);
        const DownloadSink sink = makeFileHashSink(hash, fileBytes, out, 100000, counted);
        EXPECT_TRUE(feed(sink, 65536));
        EXPECT_FALSE(feed(sink, 65536)); // past the listed size
    }
    EXPECT_EQ(fileBytes, 131072);
    EXPECT_EQ(counted.load(), 131072);
    EXPECT_EQ(readFile(tmp / "x").size(), 65536u);

    // A full disk: the chunk is counted, then refused.
    std::ofstream full("/dev/full", std::ios::binary);
    ASSERT_TRUE(full.is_open());
    fileBytes = 0;
    EXPECT_FALSE(feed(makeFileHashSink(hash, fileBytes, full, 200000, counted), 200000));
    EXPECT_EQ(fileBytes, 200000);
}

} // namespace
