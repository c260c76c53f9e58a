// http_source_test.cpp - the pass's real source against a real server answers as the
// in-memory one does: a continued file or a patch's range only when the server sends exactly
// the range asked for (nothing reaches the sink otherwise), and never a transfer moved from https to
// clear text.
#include "support/child_process.h"
#include "support/temp_folder.h"
#include "support/test_server.h"
#include "update/source.h"

#include <gtest/gtest.h>

namespace {

using namespace testsupport;

TEST(HttpUpdateSource, AContinuedFileIsTakenOnlyAsTheRangeAskedFor) {
    const std::string file = patternBytes(100000, 5);
    TempFolder site;
    writeFile(site / "f", file);
    const struct {
        RangeAnswer answer;
        int64_t from, total, length; // length -1: to the end
        std::string error;           // "": the range arrives
    } cases[] = {
        {RangeAnswer::Honour, 60000, 100000, -1, ""},
        {RangeAnswer::Honour, 60000, 100000, 1000, ""}, // one chunk's range: bytes=60000-60999
        {RangeAnswer::Honour, 0, 100000, 100000, ""},
        {RangeAnswer::Honour, 60000, 100500, -1, "sunucu 206 dondu"}, // the file changed meanwhile
        {RangeAnswer::Honour, 60000, 100500, 10, "sunucu 206 dondu"},
        {RangeAnswer::Honour, 100000, 100500, -1, "sunucu 416 dondu"},
        {RangeAnswer::Ignore, 60000, 100000, -1, "sunucu 200 dondu"},
        {RangeAnswer::Ignore, 60000, 100000, 5, "sunucu 200 dondu"},
        {RangeAnswer::Wrong, 60000, 100000, -1, "sunucu 206 dondu"},
        {RangeAnswer::Wrong, 60000, 100000, 5, "sunucu 206 dondu"},
    };
    std::atomic<bool> stop{false};
    HttpUpdateSource source(stop);
    for (const auto& c : cases) {
        TestServer server;
        server.serveFolder(site.path());
        server.setRangeAnswer(c.answer);
        std::string body, error;
        const HttpRange range{c.from, c.total, c.length};
        EXPECT_EQ(source.fetch(server.baseUrl() + "f", &range, makeStringSink(body, kFileListCap), error),
                  c.error.empty());
        EXPECT_EQ(error, c.error);
        const std::string wanted =
            file.substr(static_cast<size_t>(c.from), c.length < 0 ? std::string::npos : size_t(c.length));
        EXPECT_TRUE(body == (c.error.empty() ? wanted : "")) << c.error;
        EXPECT_EQ(server.requests().back().range,
                  "bytes=" + std::to_string(c.from) + "-" +
                      (c.length < 0 ? "" : std::to_string(c.from + c.length - 1)));
    }
}

TEST(HttpUpdateSource, HttpsToHttpIsUnreachableAtAnyHop) {
    ScopedEnv certificate{"SSL_CERT_FILE", testCertificate().c_str()};
    TestServer tlsServer{true}, plainServer;
    plainServer.route("/dosyalar.txt", answer(200, "clear text"));
    tlsServer.route("/dosyalar.txt", answer(200, "sealed"));
    tlsServer.route("/down", redirect(302, plainServer.baseUrl() + "dosyalar.txt"));
    tlsServer.route(
        "/DOWN", redirect(301, "HTTP://127.0.0.1:" + std::to_string(plainServer.port()) + "/dosyalar.txt"));
    tlsServer.route("/across", redirect(302, tlsServer.baseUrl() + "dosyalar.txt"));
    plainServer.route("/up", redirect(302, tlsServer.baseUrl() + "dosyalar.txt"));
    plainServer.route("/chain", redirect(302, tlsServer.baseUrl() + "down")); // up, then down again
    const struct {
        std::string url, body, error;
    } cases[] = {
        {tlsServer.baseUrl() + "down", "", "sunucuya ulasilamadi"},
        {tlsServer.baseUrl() + "DOWN", "", "sunucuya ulasilamadi"},
        {plainServer.baseUrl() + "chain", "", "sunucuya ulasilamadi"},
        {tlsServer.baseUrl() + "across", "sealed", ""},
        {plainServer.baseUrl() + "up", "sealed", ""},
    };
    std::atomic<bool> stop{false};
    HttpUpdateSource source(stop);
    for (const auto& c : cases) {
        std::string body, error;
        EXPECT_EQ(source.fetch(c.url, nullptr, makeStringSink(body, kFileListCap), error), c.error.empty())
            << c.url;
        EXPECT_EQ(error, c.error) << c.url;
        EXPECT_EQ(body, c.body) << c.url;
    }
    EXPECT_EQ(plainServer.requestCount("/dosyalar.txt"), 0); // never asked in clear text
}

} // namespace
