// connection_reuse_test.cpp - an update pass talks to its server over one connection:
// the list and every file share it, over http and https, and a redirect target gets one
// connection of its own, not one per file. (The pass runs end to end: the session it keeps
// is the updater's choice.)
#include "net/http.h"
#include "platform/platform.h"
#include "support/child_process.h"
#include "support/site.h"
#include "support/temp_folder.h"
#include "support/test_server.h"
#include "update/pass.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

constexpr int kFileCount = 50;

SiteFiles manySmallFiles() {
    SiteFiles files;
    for (int i = 0; i < kFileCount; ++i)
        files["veri/parca" + std::to_string(i) + ".bin"] =
            patternBytes(2000 + static_cast<size_t>(i) * 37, i);
    return files;
}

struct Case {
    const char* name;
    bool tls;
    bool redirectFiles; // the first server sends every file on to a second one
};

class ConnectionReuse : public ::testing::TestWithParam<Case> {
  protected:
    void SetUp() override {
        previousFolder = platform::fullPath(".");
        ASSERT_TRUE(platform::setWorkingFolder(game.path()));
    }
    void TearDown() override {
        stopUpdate(status);
        platform::setWorkingFolder(previousFolder);
    }
    UpdateStatus status;
    TempFolder game, site;
    std::string previousFolder;
};

TEST_P(ConnectionReuse, OnePassOpensOneConnectionPerServer) {
    const Case& c = GetParam();
    ScopedEnv certificate("SSL_CERT_FILE", testCertificate().c_str());
    const SiteFiles files = manySmallFiles();
    publishSite(site.path(), files);
    TestServer front(c.tls), mirror(c.tls);
    front.serveFolder(site.path());
    mirror.serveFolder(site.path());
    if (c.redirectFiles)
        for (const auto& [path, content] : files)
            front.route("/" + path, redirect(302, mirror.baseUrl() + path));

    startUpdate(status, front.baseUrl(), "MorlakenLauncher");
    status.worker.join();

    ASSERT_EQ(status.state.load(), UpdateState::UpToDate);
    EXPECT_TRUE(folderMatches(game.path(), files));
    EXPECT_EQ(front.totalRequests(), 1 + kFileCount);
    EXPECT_EQ(front.connectionCount(), 1);
    EXPECT_EQ(mirror.totalRequests(), c.redirectFiles ? kFileCount : 0);
    EXPECT_EQ(mirror.connectionCount(), c.redirectFiles ? 1 : 0);
    for (const SeenRequest& r : front.requests()) // the same request as ever on a kept connection
        EXPECT_EQ(r.userAgent, kUserAgent);
}

INSTANTIATE_TEST_SUITE_P(Servers, ConnectionReuse,
                         ::testing::Values(Case{"Http", false, false}, Case{"HttpsRedirected", true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// A file whose transfer broke off drops its connection; the next pass still gets every file.
TEST_F(ConnectionReuse, AFailedTransferDoesNotSpoilTheNextPass) {
    const SiteFiles files = manySmallFiles();
    publishSite(site.path(), files);
    TestServer server;
    server.serveFolder(site.path());
    const std::string& broken = files.begin()->first;
    server.route("/" + broken,
                 cutShort(files.begin()->second, 100, static_cast<long long>(files.begin()->second.size())));
    startUpdate(status, server.baseUrl(), "MorlakenLauncher");
    status.worker.join();
    ASSERT_EQ(status.state.load(), UpdateState::Failed);

    TestServer healthy;
    healthy.serveFolder(site.path());
    startUpdate(status, healthy.baseUrl(), "MorlakenLauncher");
    status.worker.join();
    EXPECT_EQ(status.state.load(), UpdateState::UpToDate);
    EXPECT_TRUE(folderMatches(game.path(), files));
    EXPECT_EQ(healthy.connectionCount(), 1);
}

} // namespace
