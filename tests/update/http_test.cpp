// http_test.cpp - httpGet against a server started by each test on 127.0.0.1.
#include "support/child_process.h"
#include "support/temp_folder.h"
#include "support/test_server.h"
#include "update/http.h"
#include "update/updater.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <future>

using namespace testsupport;

namespace {

const std::string kUntouched = "untouched";

class HttpGetTest : public ::testing::Test {
  protected:
    void SetUp() override {
        httpGlobalInit();
        updateStatus().stopRequested.store(false);
        httpSetNoDataTimeoutForTests(kNoDataTimeoutSeconds);
    }
    void TearDown() override {
        httpSetNoDataTimeoutForTests(kNoDataTimeoutSeconds);
        updateStatus().stopRequested.store(false);
    }

    // GET into a string; records every chunk size handed to the sink.
    bool get(const std::string& url, std::string& outBody, std::string& outError, size_t cap = kFileListCap) {
        DownloadSink inner = makeStringSink(outBody, cap);
        chunks.clear();
        DownloadSink sink = [&](const uint8_t* bytes, uint32_t count) {
            chunks.push_back(count);
            return inner(bytes, count);
        };
        return httpGet(url, sink, outError);
    }

    TestServer server;
    std::vector<uint32_t> chunks;
};

Route normal(int status, std::string body) {
    Route r;
    r.status = status;
    r.body = std::move(body);
    return r;
}

// ---- answers the server gives on purpose ----

TEST_F(HttpGetTest, OkBodyArrivesWholeWithTheAgentAndNoCacheHeaders) {
    std::string payload = patternBytes(200000, 7);
    server.route("/a.bin", normal(200, payload));
    std::string body, error = kUntouched;
    ASSERT_TRUE(get(server.baseUrl() + "a.bin", body, error));
    EXPECT_EQ(body, payload);
    EXPECT_EQ(error, kUntouched);
    auto seen = server.requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].method, "GET");
    EXPECT_EQ(seen[0].userAgent, "MorlakenLauncher");
    EXPECT_EQ(seen[0].pragma, "no-cache");
    EXPECT_EQ(seen[0].cacheControl, "no-cache");
}

TEST_F(HttpGetTest, ChunksNeverExceed64KiB) {
    std::string payload = patternBytes(3 * 1048576 + 5, 3);
    server.route("/big", normal(200, payload));
    std::string body, error;
    ASSERT_TRUE(get(server.baseUrl() + "big", body, error));
    EXPECT_EQ(body, payload);
    ASSERT_FALSE(chunks.empty());
    EXPECT_LE(*std::max_element(chunks.begin(), chunks.end()), 65536u);
}

TEST_F(HttpGetTest, EmptyBodyIsSuccessForStringAndFile) {
    server.route("/empty", normal(200, ""));
    std::string body, error = kUntouched;
    EXPECT_TRUE(get(server.baseUrl() + "empty", body, error));
    EXPECT_TRUE(body.empty());
    EXPECT_TRUE(chunks.empty());

    TempFolder tmp;
    Sha256 hash;
    int64_t fileBytes = 0;
    {
        std::ofstream out(tmp / "e.bin", std::ios::binary);
        EXPECT_TRUE(httpGet(server.baseUrl() + "empty", makeFileHashSink(hash, fileBytes, out, 0), error));
    }
    EXPECT_EQ(fileBytes, 0);
    EXPECT_TRUE(fileExists(tmp / "e.bin"));
    EXPECT_EQ(readFile(tmp / "e.bin"), "");
    EXPECT_EQ(toHex(hash.finish()), referenceSha256(""));
}

TEST_F(HttpGetTest, NonOkStatusesNameTheStatusAndHandNothingToTheSink) {
    server.route("/missing", normal(404, "no such file, and this text must not reach the sink"));
    server.route("/broken", normal(500, "oops"));
    server.route("/nobody", normal(403, ""));
    struct Case {
        const char* path;
        const char* word;
    } cases[] = {
        {"missing", "sunucu 404 dondu"}, {"broken", "sunucu 500 dondu"}, {"nobody", "sunucu 403 dondu"}};
    for (const auto& c : cases) {
        std::string body, error;
        EXPECT_FALSE(get(server.baseUrl() + c.path, body, error)) << c.path;
        EXPECT_EQ(error, c.word);
        EXPECT_TRUE(chunks.empty()) << c.path;
        EXPECT_TRUE(body.empty()) << c.path;
    }
}

TEST_F(HttpGetTest, UnreadableStatusLineGivesStatusZero) {
    Route r;
    r.behaviour = Behaviour::Garbage;
    server.route("/garbage", r);
    std::string body, error;
    EXPECT_FALSE(get(server.baseUrl() + "garbage", body, error));
    EXPECT_EQ(error, "sunucu 0 dondu");
    EXPECT_TRUE(body.empty());
}

TEST_F(HttpGetTest, RedirectsAreFollowedAndOnlyTheFinalStatusCounts) {
    Route to200;
    to200.behaviour = Behaviour::Redirect;
    to200.status = 302;
    to200.location = server.baseUrl() + "final";
    server.route("/moved", to200);
    Route chain = to200;
    chain.status = 301;
    chain.location = "/moved"; // relative, then a second hop
    server.route("/old", chain);
    Route to404 = to200;
    to404.location = server.baseUrl() + "gone";
    server.route("/moved-gone", to404);
    server.route("/final", normal(200, "final body"));

    std::string body, error;
    EXPECT_TRUE(get(server.baseUrl() + "old", body, error)) << error;
    EXPECT_EQ(body, "final body");
    EXPECT_EQ(server.requestCount("/final"), 1);

    body.clear();
    EXPECT_FALSE(get(server.baseUrl() + "moved-gone", body, error));
    EXPECT_EQ(error, "sunucu 404 dondu");
    EXPECT_TRUE(body.empty());
}

TEST_F(HttpGetTest, RedirectToAnotherProtocolIsRefused) {
    Route r;
    r.behaviour = Behaviour::Redirect;
    r.status = 302;
    r.location = "file:///etc/passwd";
    server.route("/sneaky", r);
    std::string body, error;
    EXPECT_FALSE(get(server.baseUrl() + "sneaky", body, error));
    EXPECT_EQ(error, "sunucuya ulasilamadi");
    EXPECT_TRUE(body.empty());
}

// ---- failures of the connection and the body ----

TEST_F(HttpGetTest, NothingListeningOrBadAddressIsUnreachable) {
    int port = pickFreePort();
    ASSERT_GT(port, 0);
    const std::string urls[] = {"http://127.0.0.1:" + std::to_string(port) + "/dosyalar.txt",
                                "not a url at all", "ftp://127.0.0.1:" + std::to_string(port) + "/x", ""};
    for (const auto& url : urls) {
        std::string body, error;
        EXPECT_FALSE(get(url, body, error)) << url;
        EXPECT_EQ(error, "sunucuya ulasilamadi") << url;
    }
}

TEST_F(HttpGetTest, NoAnswerHeadWithinTheNoDataLimitIsUnreachable) {
    Route r;
    r.behaviour = Behaviour::Silent;
    server.route("/silent", r);
    httpSetNoDataTimeoutForTests(1);
    std::string body, error;
    EXPECT_FALSE(get(server.baseUrl() + "silent", body, error));
    EXPECT_EQ(error, "sunucuya ulasilamadi");
}

TEST_F(HttpGetTest, StalledBodyEndsAsInterrupted) {
    Route r;
    r.behaviour = Behaviour::Stall;
    r.body = patternBytes(100000, 1);
    r.sendBytes = 30000;
    server.route("/stall", r);
    httpSetNoDataTimeoutForTests(1);
    std::string body, error;
    EXPECT_FALSE(get(server.baseUrl() + "stall", body, error));
    EXPECT_EQ(error, "indirme yarida kesildi");
    EXPECT_EQ(body, r.body.substr(0, 30000)); // what did arrive was handed over in order
}

TEST_F(HttpGetTest, BodyShorterThanItsLengthEndsAsInterrupted) {
    Route r;
    r.behaviour = Behaviour::Short;
    r.body = patternBytes(5000, 2);
    r.sendBytes = 5000;
    r.declaredLength = 9000;
    server.route("/short", r);
    std::string body, error;
    EXPECT_FALSE(get(server.baseUrl() + "short", body, error));
    EXPECT_EQ(error, "indirme yarida kesildi");
}

// ---- sinks ----

TEST_F(HttpGetTest, ListCapAcceptsOneByteLessThan64MiBAndRefuses64MiB) {
    server.route("/under", normal(200, std::string(kFileListCap - 1, 'a')));
    server.route("/at", normal(200, std::string(kFileListCap, 'a')));
    std::string body, error = kUntouched;
    EXPECT_TRUE(get(server.baseUrl() + "under", body, error));
    EXPECT_EQ(body.size(), kFileListCap - 1);
    EXPECT_EQ(error, kUntouched);
    std::string().swap(body);
    EXPECT_FALSE(get(server.baseUrl() + "at", body, error));
    EXPECT_EQ(error, "diske yazilamadi");
}

TEST_F(HttpGetTest, NewsCapAcceptsOneByteLessThan1MiBAndRefuses1MiB) {
    server.route("/under", normal(200, std::string(kNewsCap - 1, 'n')));
    server.route("/at", normal(200, std::string(kNewsCap, 'n')));
    server.route("/over", normal(200, std::string(kNewsCap + 70000, 'n')));
    std::string body, error = kUntouched;
    EXPECT_TRUE(get(server.baseUrl() + "under", body, error, kNewsCap));
    EXPECT_EQ(body.size(), kNewsCap - 1);
    for (const char* path : {"at", "over"}) {
        body.clear();
        error = kUntouched;
        EXPECT_FALSE(get(server.baseUrl() + path, body, error, kNewsCap)) << path;
        EXPECT_EQ(error, "diske yazilamadi") << path;
    }
}

TEST_F(HttpGetTest, SinkRefusalIsAWriteFailure) {
    server.route("/a", normal(200, patternBytes(300000, 4)));
    int calls = 0;
    DownloadSink refuseSecond = [&](const uint8_t*, uint32_t) { return ++calls < 2; };
    std::string error;
    EXPECT_FALSE(httpGet(server.baseUrl() + "a", refuseSecond, error));
    EXPECT_EQ(error, "diske yazilamadi");
    EXPECT_EQ(calls, 2); // no chunk is offered after a refusal
}

TEST_F(HttpGetTest, FileHashSinkHashesCountsAndWrites) {
    std::string payload = patternBytes(1000003, 9);
    server.route("/f", normal(200, payload));
    TempFolder tmp;
    Sha256 hash;
    int64_t fileBytes = 0;
    int64_t before = updateStatus().bytesDone.load();
    std::string error;
    {
        std::ofstream out(tmp / "f", std::ios::binary);
        ASSERT_TRUE(httpGet(server.baseUrl() + "f", makeFileHashSink(hash, fileBytes, out, 1000003), error));
    }
    EXPECT_EQ(fileBytes, 1000003);
    EXPECT_EQ(updateStatus().bytesDone.load() - before, 1000003);
    EXPECT_EQ(toHex(hash.finish()), referenceSha256(payload));
    EXPECT_EQ(readFile(tmp / "f"), payload);
}

TEST_F(HttpGetTest, FileHashSinkStopsAnEndlessBodyRightAfterTheListedSize) {
    Route r;
    r.behaviour = Behaviour::Endless;
    server.route("/endless", r);
    TempFolder tmp;
    Sha256 hash;
    int64_t fileBytes = 0;
    std::string error;
    {
        std::ofstream out(tmp / "x", std::ios::binary);
        EXPECT_FALSE(
            httpGet(server.baseUrl() + "endless", makeFileHashSink(hash, fileBytes, out, 100000), error));
    }
    EXPECT_EQ(error, "diske yazilamadi");
    EXPECT_GT(fileBytes, 100000);                   // the excess was seen and counted...
    EXPECT_LE(fileBytes, 100000 + 65536);           // ...within one chunk of the limit
    EXPECT_LE(readFile(tmp / "x").size(), 100000u); // ...but never written
}

TEST_F(HttpGetTest, FileHashSinkOnAFullDiskRefusesAfterCounting) {
    server.route("/f", normal(200, patternBytes(200000, 5)));
    Sha256 hash;
    int64_t fileBytes = 0;
    std::string error;
    std::ofstream out("/dev/full", std::ios::binary);
    ASSERT_TRUE(out.is_open());
    EXPECT_FALSE(httpGet(server.baseUrl() + "f", makeFileHashSink(hash, fileBytes, out, 200000), error));
    EXPECT_EQ(error, "diske yazilamadi");
    EXPECT_GT(fileBytes, 0);
}

// ---- stop requests ----

TEST_F(HttpGetTest, StopAlreadySetGivesFalseWithoutTextOrBytes) {
    server.route("/a", normal(200, "data"));
    updateStatus().stopRequested.store(true);
    std::string body, error = kUntouched;
    EXPECT_FALSE(get(server.baseUrl() + "a", body, error));
    EXPECT_EQ(error, kUntouched);
    EXPECT_TRUE(body.empty());
}

TEST_F(HttpGetTest, StopEndsAStalledTransferPromptly) {
    Route r;
    r.behaviour = Behaviour::Stall;
    r.body = patternBytes(100000, 1);
    r.sendBytes = 1000;
    server.route("/stall", r);
    // Only a stop can end this transfer within the test: the no-data limit is far away.
    httpSetNoDataTimeoutForTests(600);
    std::atomic<bool> stop{false};
    std::string body, error = kUntouched;
    auto result = std::async(std::launch::async, [&] {
        return httpGet(server.baseUrl() + "stall", makeStringSink(body, kFileListCap), error, &stop);
    });
    ASSERT_TRUE(waitUntil([&] { return server.stalledNow() == 1; }, 10));
    stop.store(true);
    ASSERT_EQ(result.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_FALSE(result.get());
    EXPECT_EQ(error, kUntouched);
}

// ---- TLS ----

class HttpsTest : public HttpGetTest {
  protected:
    void TearDown() override {
        unsetenv("SSL_CERT_FILE");
        HttpGetTest::TearDown();
    }
    TestServer tlsServer{true};
};

TEST_F(HttpsTest, UntrustedCertificateIsUnreachableAndTrustedOneWorks) {
    tlsServer.route("/dosyalar.txt", normal(200, "morlaken-liste 1\n"));
    std::string body, error;
    unsetenv("SSL_CERT_FILE");
    EXPECT_FALSE(get(tlsServer.baseUrl() + "dosyalar.txt", body, error));
    EXPECT_EQ(error, "sunucuya ulasilamadi");
    EXPECT_TRUE(body.empty());

    setenv("SSL_CERT_FILE", testCertificate().c_str(), 1);
    error.clear();
    EXPECT_TRUE(get(tlsServer.baseUrl() + "dosyalar.txt", body, error)) << error;
    EXPECT_EQ(body, "morlaken-liste 1\n");
}

} // namespace
