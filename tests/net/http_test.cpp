// http_test.cpp - httpGet (whole and ranged), the update source's kept connection and
// postJson against servers on 127.0.0.1 (the string sink's cap: the news feed's limits in
// tests/news). (A stalled or cut body:
// UpdaterTest.DownloadFailuresKeepEarlierFilesAndOldContentAndSaveTheCache; a stop during a
// stalled transfer: UpdaterTest.StopDuringADownloadLeavesNoPartialFileAndNoCache.)
#include "net/http.h"
#include "support/child_process.h"
#include "support/temp_folder.h"
#include "support/test_server.h"
#include "update/download.h"
#include "update/source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

using namespace testsupport;

namespace {

const std::string kUntouched = "untouched";

class HttpGetTest : public ::testing::Test {
  protected:
    // GET into a string; records every chunk size handed to the sink.
    bool get(const std::string& url, std::string& outBody, std::string& outError,
             HttpSession* session = nullptr, const HttpRange* range = nullptr) {
        DownloadSink inner = makeStringSink(outBody, kFileListCap);
        chunks.clear();
        DownloadSink sink = [&](const uint8_t* bytes, uint32_t count) {
            chunks.push_back(count);
            return inner(bytes, count);
        };
        return httpGet(url, sink, outError, stop, session, range);
    }
    std::atomic<bool> stop{false};
    TestServer server;
    std::vector<uint32_t> chunks;
};

// ---- answers ----

// A continued file counts only as a 206 with exactly the asked range; nothing else reaches
// the sink.
TEST_F(HttpGetTest, OnlyTheFinalStatus200OrTheAskedRangeCountsAndOtherAnswersGiveTheirWords) {
    const std::string big = patternBytes(3 * 1048576 + 5, 3);
    const std::string base = server.baseUrl();
    const int closedPort = pickFreePort();
    const std::string file = big.substr(0, 100000);
    TestServer ignoring, wrong;
    TempFolder site;
    writeFile(site / "f", file);
    for (TestServer* s : {&server, &ignoring, &wrong})
        s->serveFolder(site.path());
    ignoring.setRangeAnswer(RangeAnswer::Ignore);
    wrong.setRangeAnswer(RangeAnswer::Wrong);
    const HttpRange rest{60000, 100000}, changed{60000, 100500}, past{100000, 100500};
    const HttpRange chunk{60000, 100000, 1000}, changedChunk{60000, 100500, 10}, five{60000, 100000, 5};
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
        const HttpRange* range = nullptr;
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
        {base + "f", "", file.substr(60000), &rest},
        {base + "f", "", file.substr(60000, 1000), &chunk}, // one chunk: bytes=60000-60999
        {base + "f", "sunucu 206 dondu", "", &changed},     // the file changed meanwhile
        {base + "f", "sunucu 206 dondu", "", &changedChunk},
        {base + "f", "sunucu 416 dondu", "", &past},
        {ignoring.baseUrl() + "f", "sunucu 200 dondu", "", &rest},
        {ignoring.baseUrl() + "f", "sunucu 200 dondu", "", &five},
        {wrong.baseUrl() + "f", "sunucu 206 dondu", "", &rest},
        {wrong.baseUrl() + "f", "sunucu 206 dondu", "", &five},
    };
    HttpSession shortWait({.noDataTimeoutSeconds = 1});
    for (const auto& c : cases) {
        std::string body, error = kUntouched;
        EXPECT_EQ(get(c.url, body, error, &shortWait, c.range), *c.error == '\0') << c.url;
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
    EXPECT_EQ(first.range, "");
    EXPECT_EQ(server.requests().back().range, "bytes=100000-");
    EXPECT_EQ(wrong.requests().front().range, "bytes=60000-");
    EXPECT_EQ(wrong.requests().back().range, "bytes=60000-60004");
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

// Verification is on; and a transfer never moves from https to clear text, at any hop.
TEST(HttpTls, UntrustedCertificateIsUnreachableAndNoRedirectLeavesHttps) {
    TestServer tlsServer{true}, plainServer;
    tlsServer.route("/dosyalar.txt", answer(200, "sealed"));
    plainServer.route("/dosyalar.txt", answer(200, "clear text"));
    const std::string plainFile = plainServer.baseUrl() + "dosyalar.txt";
    tlsServer.route("/down", redirect(302, plainFile));
    tlsServer.route(
        "/DOWN", redirect(301, "HTTP://127.0.0.1:" + std::to_string(plainServer.port()) + "/dosyalar.txt"));
    tlsServer.route("/bad", redirect(400, plainFile)); // not a redirect: its Location is no hop
    tlsServer.route("/across", redirect(302, tlsServer.baseUrl() + "dosyalar.txt"));
    plainServer.route("/up", redirect(302, tlsServer.baseUrl() + "dosyalar.txt"));
    plainServer.route("/chain", redirect(302, tlsServer.baseUrl() + "down")); // up, then down again
    const struct {
        std::string url, body, error;
        bool trusted = true;
    } cases[] = {
        {tlsServer.baseUrl() + "dosyalar.txt", "", kErrConnect, false},
        {tlsServer.baseUrl() + "dosyalar.txt", "sealed", ""},
        {tlsServer.baseUrl() + "down", "", kErrConnect},
        {tlsServer.baseUrl() + "DOWN", "", kErrConnect},
        {plainServer.baseUrl() + "chain", "", kErrConnect},
        {tlsServer.baseUrl() + "bad", "", "sunucu 400 dondu"},
        {tlsServer.baseUrl() + "across", "sealed", ""},
        {plainServer.baseUrl() + "up", "sealed", ""},
    };
    for (const auto& c : cases) {
        ScopedEnv certificate("SSL_CERT_FILE", c.trusted ? testCertificate().c_str() : nullptr);
        std::string body, error;
        EXPECT_EQ(httpGet(c.url, makeStringSink(body, kNewsCap), error, neverStop()), c.error.empty())
            << c.url;
        EXPECT_EQ(error, c.error) << c.url;
        EXPECT_EQ(body, c.body) << c.url;
    }
    EXPECT_EQ(plainServer.requestCount("/dosyalar.txt"), 0); // never asked in clear text
}

// ---- one connection per server ----

// A pass's source keeps one session: every file shares one connection per server, over
// http and https (where the files are redirected: the target gets one connection of its
// own), each request on the kept connection still carries the user agent, and a transfer
// cut short costs only its own connection.
TEST(HttpUpdateSourceTest, KeepsOneConnectionPerServer) {
    ScopedEnv certificate("SSL_CERT_FILE", testCertificate().c_str());
    constexpr int kFiles = 50;
    for (const bool tls : {false, true}) {
        TestServer front(tls), mirror(tls);
        front.route("/bozuk", cutShort("bozuk-dosya", 3, 11));
        for (int i = 0; i < kFiles; ++i) {
            const std::string name = "parca" + std::to_string(i);
            mirror.route("/" + name, answer(200, name));
            front.route("/" + name, tls ? redirect(302, mirror.baseUrl() + name) : answer(200, name));
        }
        std::atomic<bool> stop{false};
        HttpUpdateSource source(stop);
        std::string body, error;
        EXPECT_FALSE(source.fetch(front.baseUrl() + "bozuk", nullptr, makeStringSink(body, 64), error));
        for (int i = 0; i < kFiles; ++i) {
            const std::string name = "parca" + std::to_string(i);
            body.clear();
            EXPECT_TRUE(source.fetch(front.baseUrl() + name, nullptr, makeStringSink(body, 64), error))
                << error;
            EXPECT_EQ(body, name);
        }
        EXPECT_EQ(front.connectionCount(), 2); // the cut one's and the kept one
        EXPECT_EQ(mirror.connectionCount(), tls ? 1 : 0);
        EXPECT_EQ(mirror.totalRequests(), tls ? kFiles : 0);
        for (const SeenRequest& r : front.requests())
            EXPECT_EQ(r.userAgent, kUserAgent);
    }
}

// ---- postJson ----

TEST(PostJson, CapsTheAnswerFailsACutOneFollowsNoRedirectAndStops) {
    TestServer plain;
    TestServer secure(true);
    ScopedEnv trust("SSL_CERT_FILE", testCertificate().c_str());
    plain.route("/buyuk", answer(200, patternBytes(300000, 7)));
    plain.route("/kisa", cutShort(R"({"ticket":"TRUNC)", 16, 60));
    plain.route("/hedef", answer(200, R"({"ticket":"acik"})"));
    plain.route("/sessiz", misbehave(Behaviour::Silent));
    secure.route("/geri", redirect(302, plain.baseUrl() + "hedef"));
    secure.route("/ileri", redirect(307, secure.baseUrl() + "son"));
    secure.route("/son", answer(201, R"({"ticket":"t"})"));
    struct Case {
        std::string url;
        bool ok;
        uint32_t status;
        size_t minBytes, maxBytes;
        std::string error;
    } cases[] = {
        {plain.baseUrl() + "buyuk", true, 200, kPostAnswerCap, kPostAnswerCap + kPostChunkBytes - 1, ""},
        {plain.baseUrl() + "kisa", false, 0, 0, 0, "giris sunucusuna ulasilamadi (18)"},
        {secure.baseUrl() + "geri", true, 302, 0, 64, ""},
        {secure.baseUrl() + "ileri", true, 307, 0, 64, ""},
        {plain.baseUrl() + "yok", true, 404, 0, 64, ""},
        {"ftp://127.0.0.1/hesap", false, 0, 0, 0, "adres hatali"},
        {"hesap", false, 0, 0, 0, "adres hatali"},
        {"http://[::1/hesap", false, 0, 0, 0, "adres hatali"},
        {"http://a b/hesap", false, 0, 0, 0, "adres hatali"},
    };
    for (const auto& c : cases) {
        uint32_t status = 7;
        std::string response = "eski", error;
        EXPECT_EQ(postJson(c.url, "{}", status, response, error), c.ok) << c.url << error;
        EXPECT_EQ(status, c.status) << c.url;
        EXPECT_EQ(error, c.error) << c.url;
        EXPECT_GE(response.size(), c.minBytes) << c.url;
        EXPECT_LE(response.size(), c.maxBytes) << c.url;
    }
    EXPECT_EQ(plain.requestCount("/hedef"), 0) << "the password went out in the clear";
    EXPECT_EQ(secure.requestCount("/son"), 0) << "the password was sent on to a redirect's address";
    for (const auto& r : plain.requests())
        EXPECT_EQ(r.userAgent, "MorlakenLauncher");
    EXPECT_EQ(plain.requests().at(0).method, "POST");

    // A stop ends a request the server never answers, long before the no-data limit, and
    // leaves the error as it was.
    std::atomic<bool> stop{false};
    std::thread stopper([&] {
        waitUntil([&] { return plain.stalledNow() == 1; }, 20);
        stop = true;
    });
    uint32_t status = 7;
    std::string response, error = kUntouched;
    EXPECT_FALSE(postJson(plain.baseUrl() + "sessiz", "{}", status, response, error, &stop,
                          {.noDataTimeoutSeconds = 5}));
    stopper.join();
    EXPECT_EQ(error, kUntouched);
    EXPECT_EQ(status, 0u);
    plain.releaseStalls();
}

} // namespace
