// screen_texts_test.cpp - the main screen's texts and rules without a window: the size
// format, the update status line of every state, the progress fraction, the footer,
// START's disabled rule and the self-restart gate.
#include "screens/main_screen.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using enum UpdateState;

TEST(SizeFormat, ThreeRangesTheirEdgesAndASmallBuffer) {
    const std::pair<double, const char*> cases[] = {
        {5242880, "5.0 MB"},     {209715200, "200 MB"},   {2147483648.0, "2.00 GB"},
        {0, "0.0 MB"},           {1536, "0.0 MB"},        {1.5 * 1048576, "1.5 MB"},
        {104857599, "100.0 MB"}, {104857600, "100 MB"}, // one decimal below 100 MiB, none from it
        {1073741823, "1024 MB"}, {1073741824, "1.00 GB"},
    };
    for (const auto& [bytes, text] : cases)
        EXPECT_EQ(formatSize(bytes), text) << bytes;
    char buf[4];
    std::memset(buf, 'z', sizeof buf);
    EXPECT_EQ(formatSize(5242880, buf, sizeof buf), 3u); // cut, not overrun
    EXPECT_STREQ(buf, "5.0");
    char one[1] = {'z'};
    EXPECT_EQ(formatSize(5242880, one, 1), 0u);
    EXPECT_EQ(one[0], '\0');
}

TEST(StatusLine, TextOfEveryState) {
    const std::string half = "İndiriliyor 1/2 · 1.0 MB / 2.0 MB";
    const struct {
        UpdateState state;
        int32_t filesDone, filesTotal;
        int64_t bytesDone, bytesTotal;
        double speed;
        std::string text;
        int64_t fetched = -1; // -1: every byte done was fetched
    } cases[] = {
        {NotStarted, 0, 0, 0, 0, 0, "Güncellemeler denetleniyor..."},
        {Checking, 3, 9, 100, 200, 5000, "Güncellemeler denetleniyor..."},
        {UpToDate, 9, 9, 200, 200, 5000, "Oyun güncel"},
        {Failed, 0, 9, 0, 200, 0, "Güncelleme başarısız · tekrar dene"},
        {RestartPending, 1, 1, 5, 5, 0, "Launcher yenileniyor..."},
        {static_cast<UpdateState>(17), 1, 1, 5, 5, 0, ""}, // a state the worker never writes
        {Downloading, 0, 7, 5242880, 209715200, 2147483648.0,
         "İndiriliyor 1/7 · 5.0 MB / 200 MB · 2.00 GB/sn"},
        {Downloading, 3, 7, 0, 0, 0, "İndiriliyor 4/7 · 0.0 MB / 0.0 MB"},
        // The file counter never passes the total, and its "+ 1" never overflows.
        {Downloading, 4, 5, 1048576, 2097152, 0, "İndiriliyor 5/5 · 1.0 MB / 2.0 MB"},
        {Downloading, 5, 5, 1048576, 2097152, 0, "İndiriliyor 5/5 · 1.0 MB / 2.0 MB"},
        {Downloading, 0, 0, 0, 0, 0, "İndiriliyor 0/0 · 0.0 MB / 0.0 MB"},
        {Downloading, 2147483647, 2147483647, 0, 0, 0, "İndiriliyor 2147483647/2147483647 · 0.0 MB / 0.0 MB"},
        // The speed only above 1 B/s, truncated to whole bytes first.
        {Downloading, 0, 2, 1048576, 2097152, 1.0, half},
        {Downloading, 0, 2, 1048576, 2097152, -3.0, half},
        {Downloading, 0, 2, 1048576, 2097152, 1.01, half + " · 0.0 MB/sn"},
        {Downloading, 0, 2, 1048576, 2097152, 104857599.9, half + " · 100.0 MB/sn"},
        // Bytes reused from the old copy of a patched file count as done; what came over the
        // network is said apart (an index fetched for nothing is not).
        {Downloading, 0, 1, 536870912, 1073741824, 11744051.2,
         "İndiriliyor 1/1 · 512 MB / 1.00 GB · 13.5 MB indirildi · 11.2 MB/sn", 14155776},
        {Downloading, 0, 1, 0, 1073741824, 0, "İndiriliyor 1/1 · 0.0 MB / 1.00 GB", 3000},
    };
    for (const auto& c : cases)
        EXPECT_EQ(updateStatusText({c.state, c.filesDone, c.filesTotal, c.bytesDone, c.bytesTotal, c.speed,
                                    c.fetched < 0 ? c.bytesDone : c.fetched}),
                  c.text)
            << c.text;
    char buf[16];
    EXPECT_EQ(updateStatusText({Failed}, buf, sizeof buf), 15u); // cut to the buffer
    EXPECT_EQ(std::strlen(buf), 15u);
}

TEST(Progress, FractionOfEachState) {
    const struct {
        UpdateState state;
        int64_t done, total;
        float fraction;
    } cases[] = {
        {Downloading, 50, 200, 0.25f},
        {Downloading, 300, 200, 1.0f}, // at most 1
        {Downloading, 5, 0, 0.0f},
        {Downloading, 5, -1, 0.0f},
        {Downloading, -5, 10, 0.0f},
        {Downloading, 4294967296LL * 3, 4294967296LL * 4, 0.75f}, // beyond 32 bits
        {NotStarted, 5, 10, 0.0f},
        {Checking, 5, 10, 0.0f},
        {Failed, 5, 10, 0.0f},
        {UpToDate, 0, 0, 1.0f},
        {RestartPending, 0, 0, 1.0f},
    };
    for (const auto& c : cases)
        EXPECT_FLOAT_EQ(progressFraction({c.state, 0, 0, c.done, c.total}), c.fraction)
            << c.done << "/" << c.total;
}

TEST(Footer, VersionAndServerState) {
    const struct {
        std::string version;
        ServerStatus status;
        std::string text;
    } cases[] = {
        {"", ServerStatus::Connecting, "Sürüm 0.1.0 · Sunucu Bağlanıyor"},
        {"", ServerStatus::Online, "Sürüm 0.1.0 · Sunucu Açık"},
        {"1.4.2 kış", ServerStatus::Offline, "Sürüm 1.4.2 kış · Sunucu Kapalı"},
        {"2", static_cast<ServerStatus>(9), "Sürüm 2 · Sunucu Bağlanıyor"},
    };
    std::string out = "eski metin, daha uzun";
    for (const auto& c : cases) {
        footerText(c.version, c.status, out);
        EXPECT_EQ(out, c.text);
    }
}

TEST(StartAndRestart, WaitForTheUpdateTheLoginDialogAndTheGame) {
    for (UpdateState s : {NotStarted, Checking, Downloading, RestartPending, UpToDate, Failed}) {
        const bool done = s == UpToDate || s == Failed;
        EXPECT_EQ(startDisabled(s, false), !done) << static_cast<int>(s);
        EXPECT_TRUE(startDisabled(s, true)) << static_cast<int>(s);
        EXPECT_EQ(restartAllowed(s, GameState::NotRunning, Modal::None), s == RestartPending);
    }
    EXPECT_TRUE(restartAllowed(RestartPending, GameState::NotRunning, Modal::Settings)); // does not hold it
    EXPECT_FALSE(restartAllowed(RestartPending, GameState::NotRunning, Modal::Login));
    EXPECT_FALSE(restartAllowed(RestartPending, GameState::Running, Modal::None));
    EXPECT_FALSE(restartAllowed(RestartPending, GameState::Closing, Modal::None));
}

} // namespace
