// screen_texts_test.cpp - the main screen's texts and rules without a window: the size
// format, the update status line of every state, the progress fraction, the footer,
// START's disabled rule and the self-restart gate.
#include "app/ui_state.h"
#include "screens/main_screen.h"
#include "update/updater.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(SizeFormat, ThreeRangesAndTheirEdges) {
    // The three documented examples.
    EXPECT_EQ(formatSize(5242880), "5.0 MB");
    EXPECT_EQ(formatSize(209715200), "200 MB");
    EXPECT_EQ(formatSize(2147483648.0), "2.00 GB");
    // One decimal below 100 MiB, none from 100 MiB, GB from 1 GiB.
    EXPECT_EQ(formatSize(0), "0.0 MB");
    EXPECT_EQ(formatSize(104857599), "100.0 MB");
    EXPECT_EQ(formatSize(104857600), "100 MB");
    EXPECT_EQ(formatSize(1073741823), "1024 MB");
    EXPECT_EQ(formatSize(1073741824), "1.00 GB");
    EXPECT_EQ(formatSize(1536), "0.0 MB");
    EXPECT_EQ(formatSize(1.5 * 1048576), "1.5 MB");
}

TEST(SizeFormat, SmallBufferIsCutNotOverrun) {
    char buf[4];
    std::memset(buf, 'z', sizeof buf);
    const size_t n = formatSize(5242880, buf, sizeof buf);
    EXPECT_EQ(n, 3u);
    EXPECT_STREQ(buf, "5.0");
    char one[1] = {'z'};
    EXPECT_EQ(formatSize(5242880, one, 1), 0u);
    EXPECT_EQ(one[0], '\0');
}

TEST(StatusLine, FixedTextsOfEveryState) {
    EXPECT_EQ(updateStatusText(NotStarted, 0, 0, 0, 0, 0), "Güncellemeler denetleniyor...");
    EXPECT_EQ(updateStatusText(Checking, 3, 9, 100, 200, 5000), "Güncellemeler denetleniyor...");
    EXPECT_EQ(updateStatusText(UpToDate, 9, 9, 200, 200, 5000), "Oyun güncel");
    EXPECT_EQ(updateStatusText(Failed, 0, 9, 0, 200, 0), "Güncelleme başarısız · tekrar dene");
    EXPECT_EQ(updateStatusText(RestartPending, 1, 1, 5, 5, 0), "Launcher yenileniyor...");
    EXPECT_EQ(updateStatusText(17, 1, 1, 5, 5, 0), "");
    EXPECT_EQ(updateStatusText(-1, 1, 1, 5, 5, 0), "");
}

TEST(StatusLine, DownloadingCountsFilesAndBytes) {
    EXPECT_EQ(updateStatusText(Downloading, 0, 7, 5242880, 209715200, 2147483648.0),
              "İndiriliyor 1/7 · 5.0 MB / 200 MB · 2.00 GB/sn");
    EXPECT_EQ(updateStatusText(Downloading, 3, 7, 0, 0, 0), "İndiriliyor 4/7 · 0.0 MB / 0.0 MB");
}

TEST(StatusLine, FileCounterNeverPassesTheTotal) {
    // While the last file arrives and after it is done: n/n, never (n+1)/n.
    EXPECT_EQ(updateStatusText(Downloading, 4, 5, 1, 2, 0).rfind("İndiriliyor 5/5 ·", 0), 0u);
    EXPECT_EQ(updateStatusText(Downloading, 5, 5, 1, 2, 0).rfind("İndiriliyor 5/5 ·", 0), 0u);
    EXPECT_EQ(updateStatusText(Downloading, 0, 0, 0, 0, 0).rfind("İndiriliyor 0/0 ·", 0), 0u);
    // The worker's counter at its largest value does not overflow the "+ 1".
    EXPECT_EQ(updateStatusText(Downloading, 2147483647, 2147483647, 1, 2, 0)
                  .rfind("İndiriliyor 2147483647/2147483647 ·", 0),
              0u);
}

TEST(StatusLine, SpeedPartOnlyAboveOneBytePerSecond) {
    const std::string none = "İndiriliyor 1/2 · 1.0 MB / 2.0 MB";
    EXPECT_EQ(updateStatusText(Downloading, 0, 2, 1048576, 2097152, 1.0), none);
    EXPECT_EQ(updateStatusText(Downloading, 0, 2, 1048576, 2097152, 0.5), none);
    EXPECT_EQ(updateStatusText(Downloading, 0, 2, 1048576, 2097152, -3.0), none);
    // Just above 1.0 the speed is shown, truncated to whole bytes first.
    EXPECT_EQ(updateStatusText(Downloading, 0, 2, 1048576, 2097152, 1.01), none + " · 0.0 MB/sn");
    EXPECT_EQ(updateStatusText(Downloading, 0, 2, 1048576, 2097152, 104857599.9), none + " · 100.0 MB/sn");
}

TEST(StatusLine, LongTextIsCutToTheBuffer) {
    char buf[16];
    const size_t n = updateStatusText(Failed, 0, 0, 0, 0, 0, buf, sizeof buf);
    EXPECT_EQ(n, 15u);
    EXPECT_EQ(std::strlen(buf), 15u);
}

TEST(Progress, FractionOfEachState) {
    EXPECT_FLOAT_EQ(updateProgress(Downloading, 50, 200), 0.25f);
    EXPECT_FLOAT_EQ(updateProgress(Downloading, 300, 200), 1.0f); // at most 1
    EXPECT_FLOAT_EQ(updateProgress(Downloading, 5, 0), 0.0f);     // no fill for a 0-byte total
    EXPECT_FLOAT_EQ(updateProgress(Downloading, 5, -1), 0.0f);
    EXPECT_FLOAT_EQ(updateProgress(Downloading, -5, 10), 0.0f);
    EXPECT_FLOAT_EQ(updateProgress(Downloading, 4294967296LL * 3, 4294967296LL * 4), 0.75f); // beyond 32 bits
    EXPECT_FLOAT_EQ(updateProgress(NotStarted, 5, 10), 0.0f);
    EXPECT_FLOAT_EQ(updateProgress(Checking, 5, 10), 0.0f);
    EXPECT_FLOAT_EQ(updateProgress(Failed, 5, 10), 0.0f);
    EXPECT_FLOAT_EQ(updateProgress(UpToDate, 0, 0), 1.0f);
    EXPECT_FLOAT_EQ(updateProgress(RestartPending, 0, 0), 1.0f);
}

TEST(Footer, VersionAndServerState) {
    EXPECT_EQ(footerText("", ServerConnecting), "Sürüm 0.1.0 · Sunucu Bağlanıyor");
    EXPECT_EQ(footerText("", ServerOnline), "Sürüm 0.1.0 · Sunucu Açık");
    EXPECT_EQ(footerText("1.4.2 kış", ServerOffline), "Sürüm 1.4.2 kış · Sunucu Kapalı");
    EXPECT_EQ(footerText("2", static_cast<ServerStatus>(9)), "Sürüm 2 · Sunucu Bağlanıyor");
    // Until the game-server link exists the state is Connecting.
    EXPECT_EQ(serverStatus(), ServerConnecting);
}

TEST(StartButton, DisabledUntilTheUpdateIsDoneOrWhileALoginRuns) {
    for (int32_t s : {NotStarted, Checking, Downloading, RestartPending})
        EXPECT_TRUE(startDisabled(s, false)) << s;
    for (int32_t s : {UpToDate, Failed}) {
        EXPECT_FALSE(startDisabled(s, false)) << s;
        EXPECT_TRUE(startDisabled(s, true)) << s;
    }
    EXPECT_FALSE(startBlockedByLogin());
}

TEST(SelfRestart, WaitsForTheLoginDialogAndTheGame) {
    EXPECT_TRUE(restartAllowed(RestartPending, NotRunning, 0));
    EXPECT_TRUE(restartAllowed(RestartPending, NotRunning, 2)); // the settings dialog does not hold it
    EXPECT_FALSE(restartAllowed(RestartPending, NotRunning, 1));
    EXPECT_FALSE(restartAllowed(RestartPending, Running, 0));
    EXPECT_FALSE(restartAllowed(RestartPending, Closing, 0));
    for (int32_t s : {NotStarted, Checking, Downloading, UpToDate, Failed})
        EXPECT_FALSE(restartAllowed(s, NotRunning, 0));
}

} // namespace
