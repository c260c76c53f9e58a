// status_test.cpp - the frame's view of a pass: its counters, and the download speed
// sampled at most once a second, smoothed 0.3 new / 0.7 old, 0 and restarted in every
// state but Downloading, and first measured from the start of the pass. The speed is that of
// the bytes fetched: bytes a patched file reuses from its old copy are done, never fetched.
#include "platform/platform.h"
#include "support/temp_folder.h"
#include "support/test_server.h"
#include "update/pass.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using enum UpdateState;

TEST(UpdateProgress, TheSpeedIsSampledOnceASecondWhileDownloading) {
    const struct {
        UpdateState state;
        int64_t bytesFetched;
        double now, speed;
    } steps[] = {
        {Checking, 0, 100.0, 0},          // the sample starts here
        {Downloading, 400, 100.5, 0},     // less than a second: nothing changes
        {Downloading, 1000, 101.0, 1000}, // exactly one second counts; the first is not smoothed
        {Downloading, 5000, 103.0, 0.3 * 2000 + 0.7 * 1000}, // 4000 bytes in 2 s
        {Downloading, 5000, 104.0, 0.7 * 1300},              // a stalled second pulls it down, not to zero
        {Failed, 5000, 104.2, 0}, // every other state restarts the sample where it is
        {Downloading, 5600, 105.2, 600},
        {UpToDate, 100, 106.0, 0},
        {Downloading, 300, 107.0, 200},
        {RestartPending, 0, 108.0, 0},
        {Downloading, 700, 109.0, 700},
        {NotStarted, 50, 110.0, 0},
        {Downloading, 150, 111.0, 100},
    };
    UpdateStatus status;
    status.filesDone = 2;
    status.filesTotal = 7;
    status.bytesTotal = 9000;
    for (const auto& step : steps) {
        status.state = step.state;
        status.bytesFetched = step.bytesFetched;
        status.bytesDone = step.bytesFetched * 3; // reused bytes count as done
        const UpdateProgress p = readUpdateProgress(status, step.now);
        EXPECT_DOUBLE_EQ(p.speed, step.speed) << "at " << step.now;
        EXPECT_EQ(p.state, step.state);
        EXPECT_EQ(p.bytesDone, step.bytesFetched * 3);
        EXPECT_EQ(p.bytesFetched, step.bytesFetched);
        EXPECT_EQ(p.bytesTotal, 9000);
        EXPECT_EQ(p.filesDone, 2);
        EXPECT_EQ(p.filesTotal, 7);
    }
}

// startUpdate starts a pass over HTTP on a thread of its own (joining the last one first),
// after removing the files set aside by the last one; the address gets its '/'. The frame loop's clock is the
// steady clock in seconds; a pass starts at 0 bytes, so its first speed sample counts from its start, not
// from the clock's origin or an earlier pass.
TEST(UpdateProgress, StartingAPassStartsTheSample) {
    testsupport::TempFolder game;
    testsupport::writeFile(game / "MorlakenLauncher.eski", "the launcher the last pass replaced");
    const std::string previous = platform::fullPath(".");
    ASSERT_TRUE(platform::setWorkingFolder(game.path()));
    testsupport::TestServer server; // lists nothing: 404
    std::string address = server.baseUrl();
    address.pop_back();
    auto seconds = [] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    };
    UpdateStatus status;
    status.speedSample = {5000, 77, 1.0};
    status.stopRequested = true; // left from the last pass
    startUpdate(status, address, "MorlakenLauncher");
    const double before = seconds();
    startUpdate(status, address, "MorlakenLauncher");
    const double after = seconds();
    status.worker.join();
    EXPECT_EQ(server.requestCount("/dosyalar.txt"), 2);
    platform::setWorkingFolder(previous);
    EXPECT_EQ(status.state.load(), Failed);
    std::string error;
    copyUpdateError(status, error);
    EXPECT_EQ(error, "Güncelleme sunucusuna ulaşılamadı (sunucu 404 dondu)");
    EXPECT_FALSE(status.workerActive.load());
    EXPECT_FALSE(testsupport::fileExists(game / "MorlakenLauncher.eski"));
    EXPECT_EQ(status.speedSample.speed, 0.0);
    EXPECT_EQ(status.speedSample.lastBytes, 0);
    EXPECT_GE(status.speedSample.lastTime, before);
    EXPECT_LE(status.speedSample.lastTime, after);
}

} // namespace
