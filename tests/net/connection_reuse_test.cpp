// connection_reuse_test.cpp - an update pass talks to its server over one connection:
// the list and every file share it, over http and https, a redirect target gets one
// connection of its own, not one per file, and a transfer that broke off spoils no later
// pass. (The pass runs end to end: the session it keeps is the updater's choice.)
#include "net/http.h"
#include "platform/platform.h"
#include "support/child_process.h"
#include "support/site.h"
#include "support/temp_folder.h"
#include "support/test_server.h"
#include "update/pass.h"

#include <gtest/gtest.h>

#include <filesystem>

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

class ConnectionReuse : public ::testing::Test {
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

TEST_F(ConnectionReuse, OnePassOpensOneConnectionPerServer) {
    ScopedEnv certificate("SSL_CERT_FILE", testCertificate().c_str());
    const SiteFiles files = manySmallFiles();
    publishSite(site.path(), files);
    const auto& [broken, brokenContent] = *files.begin();
    const struct {
        const char* name;
        bool tls, redirectFiles, cutShort; // the first server sends every file on to a second one
    } cases[] = {{"a transfer broken off", false, false, true},
                 {"http, after the broken one", false, false, false},
                 {"https, files redirected", true, true, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto& entry : std::filesystem::directory_iterator(game.path())) // the pass's "."
            std::filesystem::remove_all(entry.path());
        TestServer front(c.tls), mirror(c.tls);
        front.serveFolder(site.path());
        mirror.serveFolder(site.path());
        if (c.redirectFiles)
            for (const auto& [path, content] : files)
                front.route("/" + path, redirect(302, mirror.baseUrl() + path));
        if (c.cutShort)
            front.route("/" + broken,
                        cutShort(brokenContent, 100, static_cast<long long>(brokenContent.size())));

        startUpdate(status, front.baseUrl(), "MorlakenLauncher");
        status.worker.join();
        ASSERT_EQ(status.state.load(), c.cutShort ? UpdateState::Failed : UpdateState::UpToDate);
        if (c.cutShort) continue;
        EXPECT_TRUE(folderMatches(game.path(), files));
        EXPECT_EQ(front.totalRequests(), 1 + kFileCount);
        EXPECT_EQ(front.connectionCount(), 1);
        EXPECT_EQ(mirror.totalRequests(), c.redirectFiles ? kFileCount : 0);
        EXPECT_EQ(mirror.connectionCount(), c.redirectFiles ? 1 : 0);
        for (const SeenRequest& r : front.requests()) // the same request as ever on a kept connection
            EXPECT_EQ(r.userAgent, kUserAgent);
    }
}

} // namespace
