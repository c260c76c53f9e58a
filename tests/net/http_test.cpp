// http_test.cpp - httpGet against a server started by each test on 127.0.0.1.
#include "net/http.h"
#include "support/child_process.h"
#include "support/temp_folder.h"
#include "support/test_server.h"
#include "update/download.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <optional>

using namespace testsupport;

namespace {

const std::string kUntouched = "untouched";

class HttpGetTest : public ::testing::Test {
  protected:
    void SetUp() override {
        httpGlobalInit();
        httpSetNoDataTimeoutForTests(kNoDataTimeoutSeconds);
    }
    void TearDown() override { httpSetNoDataTimeoutForTests(kNoDataTimeoutSeconds); }

    // GET into a string; records every chunk size handed to the sink.
    bool get(const std::string& url, std::string& outBody, std::string& outError, size_t cap = kFileListCap) {
        DownloadSink inner = makeStringSink(outBody, cap);
        chunks.clear();
        DownloadSink sink = [&](const uint8_t* bytes, uint32_t count) {
            chunks.push_back(count);
            return inner(bytes, count);
        };
        return httpGet(url, sink, outError, stop);
    }

    std::atomic<bool> stop{false};
    std::atomic<int64_t> counted{0}; // the byte counter file sinks add to

    TestServer server;
    std::vector<uint32_t> chunks;
};

// ---- answers the server gives on purpose ----

TEST_F(HttpGetTest, OkBodyArrivesWholeInChunksOfAtMost64KiBWithTheAgentAndNoCacheHeaders) {
    std::string payload = patternBytes(3 * 1048576 + 5, 3);
    server.route("/a.bin", answer(200, payload));
    std::string body, error = kUntouched;
    ASSERT_TRUE(get(server.baseUrl() + "a.bin", body, error));
    EXPECT_EQ(body, payload);
    EXPECT_EQ(error, kUntouched);
    ASSERT_FALSE(chunks.empty());
    EXPECT_LE(*std::max_element(chunks.begin(), chunks.end()), 65536u);
    auto seen = server.requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].method, "GET");
    EXPECT_EQ(seen[0].userAgent, "MorlakenLauncher");
    EXPECT_EQ(seen[0].pragma, "no-cache");
    EXPECT_EQ(seen[0].cacheControl, "no-cache");
}

// (Files written through the hashing sink, empty ones included, are checked byte for byte
// by the update pass tests.)
TEST_F(HttpGetTest, EmptyBodyIsSuccess) {
    server.route("/empty", answer(200, ""));
    std::string body, error = kUntouched;
    EXPECT_TRUE(get(server.baseUrl() + "empty", body, error));
    EXPECT_TRUE(body.empty());
    EXPECT_TRUE(chunks.empty());
}

TEST_F(HttpGetTest, NonOkStatusesNameTheStatusAndHandNothingToTheSink) {
    server.route("/missing", answer(404, "no such file, and this text must not reach the sink"));
    server.route("/broken", answer(500, "oops"));
    server.route("/nobody", answer(403, ""));
    server.route("/garbage", misbehave(Behaviour::Garbage)); // no readable status line: status 0
    for (auto [path, word] : {std::pair{"missing", "sunucu 404 dondu"},
                              {"broken", "sunucu 500 dondu"},
                              {"nobody", "sunucu 403 dondu"},
                              {"garbage", "sunucu 0 dondu"}}) {
        std::string body, error;
        EXPECT_FALSE(get(server.baseUrl() + path, body, error)) << path;
        EXPECT_EQ(error, word);
        EXPECT_TRUE(chunks.empty()) << path;
        EXPECT_TRUE(body.empty()) << path;
    }
}

TEST_F(HttpGetTest, RedirectsAreFollowedAndOnlyTheFinalStatusCounts) {
    server.route("/moved", redirect(302, server.baseUrl() + "final"));
    server.route("/old", redirect(301, "/moved")); // relative, then a second hop
    server.route("/moved-gone", redirect(302, server.baseUrl() + "gone"));
    server.route("/final", answer(200, "final body"));

    std::string body, error;
    EXPECT_TRUE(get(server.baseUrl() + "old", body, error)) << error;
    EXPECT_EQ(body, "final body");
    EXPECT_EQ(server.requestCount("/final"), 1);

    body.clear();
    EXPECT_FALSE(get(server.baseUrl() + "moved-gone", body, error));
    EXPECT_EQ(error, "sunucu 404 dondu");
    EXPECT_TRUE(body.empty());
}

// ---- failures of the connection and the body ----

TEST_F(HttpGetTest, NothingListeningBadAddressForeignRedirectOrNoAnswerIsUnreachable) {
    int port = pickFreePort();
    ASSERT_GT(port, 0);
    server.route("/sneaky", redirect(302, "file:///etc/passwd"));
    server.route("/silent", misbehave(Behaviour::Silent)); // no answer head within the no-data limit
    httpSetNoDataTimeoutForTests(1);
    const std::string urls[] = {"http://127.0.0.1:" + std::to_string(port) + "/dosyalar.txt",
                                "not a url at all",
                                "ftp://127.0.0.1:" + std::to_string(port) + "/x",
                                "",
                                server.baseUrl() + "sneaky",
                                server.baseUrl() + "silent"};
    for (const auto& url : urls) {
        std::string body, error;
        EXPECT_FALSE(get(url, body, error)) << url;
        EXPECT_EQ(error, "sunucuya ulasilamadi") << url;
        EXPECT_TRUE(body.empty()) << url;
    }
}

// (A stalled or short body ends as "indirme yarida kesildi": UpdaterTest.
// DownloadFailuresKeepEarlierFilesAndOldContentAndSaveTheCache; the bytes that did arrive
// reach the sink: Resume continues from them.)

// ---- sinks ----

TEST_F(HttpGetTest, CapsAcceptOneByteLessAndRefuseTheCap) {
    // The list cap is 64 MiB, the news cap 1 MiB; only the smaller one is also tried well over.
    for (size_t cap : {kFileListCap, kNewsCap}) {
        SCOPED_TRACE(cap);
        server.route("/under", answer(200, std::string(cap - 1, 'a')));
        server.route("/at", answer(200, std::string(cap, 'a')));
        std::vector<std::string> refused = {"at"};
        if (cap == kNewsCap) {
            server.route("/over", answer(200, std::string(cap + 70000, 'a')));
            refused.push_back("over");
        }
        std::string body, error = kUntouched;
        EXPECT_TRUE(get(server.baseUrl() + "under", body, error, cap));
        EXPECT_EQ(body.size(), cap - 1);
        EXPECT_EQ(error, kUntouched);
        for (const std::string& path : refused) {
            std::string().swap(body);
            error = kUntouched;
            EXPECT_FALSE(get(server.baseUrl() + path, body, error, cap)) << path;
            EXPECT_EQ(error, "diske yazilamadi") << path;
        }
    }
}

TEST_F(HttpGetTest, SinkRefusalIsAWriteFailure) {
    server.route("/a", answer(200, patternBytes(300000, 4)));
    int calls = 0;
    DownloadSink refuseSecond = [&](const uint8_t*, uint32_t) { return ++calls < 2; };
    std::string error;
    EXPECT_FALSE(httpGet(server.baseUrl() + "a", refuseSecond, error, stop));
    EXPECT_EQ(error, "diske yazilamadi");
    EXPECT_EQ(calls, 2); // no chunk is offered after a refusal
}

TEST_F(HttpGetTest, FileHashSinkStopsAnEndlessBodyRightAfterTheListedSize) {
    server.route("/endless", misbehave(Behaviour::Endless));
    TempFolder tmp;
    Sha256 hash;
    int64_t fileBytes = 0;
    std::string error;
    {
        std::ofstream out(tmp / "x", std::ios::binary);
        EXPECT_FALSE(httpGet(server.baseUrl() + "endless",
                             makeFileHashSink(hash, fileBytes, out, 100000, counted), error, stop));
    }
    EXPECT_EQ(error, "diske yazilamadi");
    EXPECT_GT(fileBytes, 100000);                   // the excess was seen and counted...
    EXPECT_LE(fileBytes, 100000 + 65536);           // ...within one chunk of the limit
    EXPECT_LE(readFile(tmp / "x").size(), 100000u); // ...but never written
}

TEST_F(HttpGetTest, FileHashSinkOnAFullDiskRefusesAfterCounting) {
    server.route("/f", answer(200, patternBytes(200000, 5)));
    Sha256 hash;
    int64_t fileBytes = 0;
    std::string error;
    std::ofstream out("/dev/full", std::ios::binary);
    ASSERT_TRUE(out.is_open());
    EXPECT_FALSE(httpGet(server.baseUrl() + "f", makeFileHashSink(hash, fileBytes, out, 200000, counted),
                         error, stop));
    EXPECT_EQ(error, "diske yazilamadi");
    EXPECT_GT(fileBytes, 0);
}

// ---- stop requests ----

TEST_F(HttpGetTest, StopAlreadySetGivesFalseWithoutTextOrBytes) {
    server.route("/a", answer(200, "data"));
    stop.store(true);
    std::string body, error = kUntouched;
    EXPECT_FALSE(get(server.baseUrl() + "a", body, error));
    EXPECT_EQ(error, kUntouched);
    EXPECT_TRUE(body.empty());
}

// (A stop during a stalled transfer ends it promptly: NewsFetch.
// StopEndsAStalledDownloadPromptly and UpdaterTest.StopDuringADownloadLeavesNoPartialFile...)

// ---- TLS ----

TEST_F(HttpGetTest, UntrustedCertificateIsUnreachableAndTrustedOneWorks) {
    TestServer tlsServer{true};
    tlsServer.route("/dosyalar.txt", answer(200, "morlaken-liste 1\n"));
    std::string body, error;
    std::optional<ScopedEnv> certificate;
    certificate.emplace("SSL_CERT_FILE", nullptr);
    EXPECT_FALSE(get(tlsServer.baseUrl() + "dosyalar.txt", body, error));
    EXPECT_EQ(error, "sunucuya ulasilamadi");
    EXPECT_TRUE(body.empty());

    certificate.reset();
    certificate.emplace("SSL_CERT_FILE", testCertificate().c_str());
    error.clear();
    EXPECT_TRUE(get(tlsServer.baseUrl() + "dosyalar.txt", body, error)) << error;
    EXPECT_EQ(body, "morlaken-liste 1\n");
}

} // namespace
