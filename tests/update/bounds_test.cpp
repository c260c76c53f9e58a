// bounds_test.cpp - what an update server cannot make the launcher do: hand the file
// system names longer than it takes, or move a transfer from https to clear text.
#include "net/http.h"
#include "support/child_process.h"
#include "support/test_server.h"
#include "update/download.h"
#include "update/filelist.h"
#include "update/pass.h"

#include <gtest/gtest.h>

#include <string>

using namespace testsupport;

namespace {

// ---- path length bounds ----

std::string segments(size_t count, size_t length, char separator = '/') {
    std::string path;
    for (size_t i = 0; i < count; ++i) {
        if (i) path += separator;
        path += std::string(length, 'a' + char(i % 26));
    }
    return path;
}

TEST(PathBounds, LongPathsAndLongNamesAreRefusedAtTheBoundAndAcceptedBelowIt) {
    const std::string exactly4096 = segments(16, 255) + "/" + std::string(4096 - 16 * 256, 'z');
    ASSERT_EQ(exactly4096.size(), 4096u);
    struct Case {
        std::string path;
        bool safe;
    } cases[] = {
        {std::string(255, 'a'), true},
        {std::string(256, 'a'), false},
        {"veri/" + std::string(255, 'b') + "/x.png", true},
        {"veri/" + std::string(256, 'b') + "/x.png", false},
        {"veri\\" + std::string(256, 'b'), false}, // '\' separates segments too
        {std::string(255, 'c') + "/", true},       // the trailing separator adds no segment
        {exactly4096, true},
        {exactly4096 + "/", false},
        {exactly4096 + "z", false},
        {segments(40, 200), false}, // many short-enough names, too long together
    };
    for (const Case& c : cases)
        EXPECT_EQ(isSafeRelativePath(c.path), c.safe) << c.path.size() << " bytes: " << c.path.substr(0, 40);
    // (That a list naming an unsafe path is refused whole: filelist_test.cpp.)
}

// ---- https never continues as http ----

class SchemeRedirect : public ::testing::Test {
  protected:
    void SetUp() override {
        httpGlobalInit();
        status.stopRequested.store(false);
    }
    bool get(const std::string& url, std::string& outBody, std::string& outError) {
        return httpGet(url, makeStringSink(outBody, kFileListCap), outError, status.stopRequested);
    }
    UpdateStatus status;
    ScopedEnv certificate{"SSL_CERT_FILE", testCertificate().c_str()};
    TestServer tlsServer{true};
    TestServer plainServer;
};

TEST_F(SchemeRedirect, HttpsToHttpIsUnreachableAtAnyHopWhileHttpsToHttpsAndHttpToHttpsAreFollowed) {
    plainServer.route("/dosyalar.txt", answer(200, "clear text"));
    tlsServer.route("/dosyalar.txt", answer(200, "sealed"));
    tlsServer.route("/down", redirect(302, plainServer.baseUrl() + "dosyalar.txt"));
    tlsServer.route(
        "/DOWN", redirect(301, "HTTP://127.0.0.1:" + std::to_string(plainServer.port()) + "/dosyalar.txt"));
    tlsServer.route("/across", redirect(302, tlsServer.baseUrl() + "dosyalar.txt"));
    plainServer.route("/up", redirect(302, tlsServer.baseUrl() + "dosyalar.txt"));
    plainServer.route("/chain", redirect(302, tlsServer.baseUrl() + "down")); // up, then down again

    for (const std::string& url :
         {tlsServer.baseUrl() + "down", tlsServer.baseUrl() + "DOWN", plainServer.baseUrl() + "chain"}) {
        std::string body, error;
        EXPECT_FALSE(get(url, body, error)) << url;
        EXPECT_EQ(error, "sunucuya ulasilamadi") << url;
        EXPECT_TRUE(body.empty()) << url;
    }
    EXPECT_EQ(plainServer.requestCount("/dosyalar.txt"), 0); // never asked in clear text

    for (const std::string& url : {tlsServer.baseUrl() + "across", plainServer.baseUrl() + "up"}) {
        std::string body, error;
        EXPECT_TRUE(get(url, body, error)) << url << ": " << error;
        EXPECT_EQ(body, "sealed") << url;
    }
}

} // namespace
