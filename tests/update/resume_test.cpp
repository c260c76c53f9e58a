// resume_test.cpp - a download cut off by a killed morlaken-sync continues where it stopped
// on the next pass: only the missing part crosses the wire, and the installed file is the
// verified whole. Servers that ignore the range or name another one, a file that changed
// in between, and ".indir" files that cannot be continued (a link, a second name of a file
// elsewhere, another user's file) all end with the right file and leave other files be.
#include "net/http.h"
#include "platform/platform.h"
#include "support/child_process.h"
#include "support/site.h"
#include "support/temp_folder.h"
#include "support/test_server.h"
#include "update/download.h"
#include "update/filelist.h"
#include "update/pass.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <unistd.h>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

constexpr size_t kFileBytes = 400000;
constexpr size_t kCutAt = kFileBytes * 4 / 5;
const std::string kPath = "oyun.bin";

enum class Before { KilledAt80, LongerThanListed, LinkToOutside, HardLinkToOutside, AnotherUsers };

struct Case {
    const char* name;
    Before before;
    RangeAnswer answer;
    bool fileChanged; // the server's file (and list) changed between the two passes
    bool expectResumed;
};

class Resume : public ::testing::TestWithParam<Case> {
  protected:
    void SetUp() override {
        httpGlobalInit();
        previousFolder = platform::fullPath(".");
    }
    void TearDown() override {
        stopUpdate(status);
        platform::setWorkingFolder(previousFolder);
    }
    // morlaken-sync killed once 80 % of the file is on disk.
    void killSyncAt80(const std::string& content) {
        TestServer slow;
        publishSite(site.path(), {{kPath, content}});
        slow.serveFolder(site.path());
        slow.route("/" + kPath, hold(content, kCutAt));
        Child sync;
        ASSERT_TRUE(sync.start(builtProgram("morlaken-sync"), {game.path(), slow.baseUrl()}));
        const std::string partial = game / (kPath + kDownloadSuffix);
        ASSERT_TRUE(
            waitUntil([&] { return platform::fileSize(partial) == static_cast<int64_t>(kCutAt); }, 30));
        sync.kill();
        int code = 0;
        ASSERT_TRUE(sync.wait(10, code));
        slow.stop();
        ASSERT_EQ(platform::fileSize(partial), static_cast<int64_t>(kCutAt));
    }
    UpdateStatus status;
    TempFolder game, site, outside;
    std::string previousFolder;
};

TEST_P(Resume, SecondPassInstallsTheVerifiedFile) {
    const Case& c = GetParam();
    const std::string first = patternBytes(kFileBytes, 11);
    const std::string partial = game / (kPath + kDownloadSuffix);
    const std::string planted = outside / "kurban.bin";
    switch (c.before) {
    case Before::KilledAt80:
        killSyncAt80(first);
        break;
    case Before::LongerThanListed:
        writeFile(partial, first + "fazla");
        break;
    case Before::LinkToOutside:
        writeFile(planted, first.substr(0, kCutAt));
        fs::create_symlink(planted, partial);
        break;
    case Before::HardLinkToOutside:
        writeFile(planted, first.substr(0, kCutAt));
        fs::create_hard_link(planted, partial);
        break;
    case Before::AnotherUsers: // its owner could change it between the hash and the install
        if (!permissionBitsIgnored()) GTEST_SKIP() << "only root gives a file to another user";
        writeFile(partial, first.substr(0, kCutAt));
        ASSERT_EQ(::chown(partial.c_str(), 65534, 65534), 0);
        break;
    }
    const std::string content = c.fileChanged ? patternBytes(kFileBytes + 1000, 12) : first;
    publishSite(site.path(), {{kPath, content}});
    TestServer server;
    server.serveFolder(site.path());
    server.setRangeAnswer(c.answer);

    ASSERT_TRUE(platform::setWorkingFolder(game.path()));
    startUpdate(status, server.baseUrl(), "MorlakenLauncher");
    status.worker.join();
    ASSERT_EQ(status.state.load(), UpdateState::UpToDate);
    EXPECT_EQ(readFile(game / kPath), content);
    EXPECT_FALSE(fileExists(partial));
    EXPECT_EQ(platform::entryType(partial), platform::EntryType::Missing);
    if (c.before == Before::LinkToOutside || c.before == Before::HardLinkToOutside) {
        EXPECT_EQ(readFile(planted), first.substr(0, kCutAt));
    }

    const long long sent = server.bytesSent();
    const long long list = static_cast<long long>(readFile(site / kFileListName).size());
    if (c.expectResumed) {
        // The list, the last fifth and a few heads: nothing more.
        EXPECT_LT(sent, list + static_cast<long long>(kFileBytes - kCutAt) + 2000);
        EXPECT_GE(sent, list + static_cast<long long>(kFileBytes - kCutAt));
        EXPECT_EQ(status.bytesDone.load(), static_cast<int64_t>(kFileBytes));
    } else {
        EXPECT_GE(sent, list + static_cast<long long>(content.size()));
    }
    bool askedRange = false;
    for (const SeenRequest& r : server.requests())
        askedRange |= r.path == "/" + kPath && r.range == "bytes=" + std::to_string(kCutAt) + "-";
    EXPECT_EQ(askedRange, c.before == Before::KilledAt80);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Resume,
    ::testing::Values(
        Case{"RangeHonoured", Before::KilledAt80, RangeAnswer::Honour, false, true},
        Case{"RangeIgnored", Before::KilledAt80, RangeAnswer::Ignore, false, false},
        Case{"WrongRange", Before::KilledAt80, RangeAnswer::Wrong, false, false},
        Case{"FileChanged", Before::KilledAt80, RangeAnswer::Honour, true, false},
        Case{"LongerThanListed", Before::LongerThanListed, RangeAnswer::Honour, false, false},
        Case{"LinkIsNotFollowed", Before::LinkToOutside, RangeAnswer::Honour, false, false},
        Case{"HardLinkIsNotAppendedTo", Before::HardLinkToOutside, RangeAnswer::Honour, false, false},
        Case{"AnotherUsersFileIsNotContinued", Before::AnotherUsers, RangeAnswer::Honour, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
