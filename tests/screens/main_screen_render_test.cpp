// main_screen_render_test.cpp - the main screen drawn for real (hidden GLFW window, Mesa)
// through the launcher's frame function, in every update state and with 0, 1 and 3 news
// items, and the closing screen; screenshots go to <build>/screenshots/ and are held against
// their reference pictures (tests/data/frames/), and the clicks go through the event queue.
#include "screens/screen_test_support.h"

#include "app/frame.h"
#include "config/config.h"
#include "platform/clock.h"
#include "platform/platform.h"
#include "screens/closing_screen.h"

#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

#include <string>

namespace {

using enum UpdateState;

const std::vector<NewsItem> kThreeItems = {
    {"Etkinlik", "Ejder Uyanıyor: Kuzey Seferi", "Kuzey dağlarında kadim ejder uyandı."},
    {"Yama", "Sürüm 0.1.0 notları: yeni zindanlar ve düzeltmeler", "Yeni zindanlar."},
    {"Duyuru", "Hafta sonu çift deneyim", ""}};
constexpr const char* kNotReady = "Bu bağlantı henüz hazır değil.";
// The status line with the progress bar, the bar alone, the news (the banner's caption, the
// social links, the headline rows).
constexpr frametest::Area kStatus = {360, 412, 412, 76}, kBar = {407, 458, 316, 18},
                          kNews = {380, 240, 370, 165};
using screentest::kDialogArea;

class MainScreen : public screentest::ScreenTest {
  protected:
    void setState(UpdateState state) { screentest::resetUpdateStatus(l().update, state); }
    void setServerVersion(const char* version, const char* error = "") {
        std::lock_guard<std::mutex> lock(l().update.statusMutex);
        l().update.serverVersion = version;
        l().update.errorText = error;
    }
    void setDownloading(int32_t filesDone, int32_t filesTotal, int64_t done, int64_t total, double speed) {
        UpdateStatus& st = l().update;
        st.state = Downloading;
        st.filesDone = filesDone;
        st.filesTotal = filesTotal;
        st.bytesDone = done;
        st.bytesFetched = done;
        st.bytesTotal = total;
        // A sample taken "later" than any frame of the test: the frames show this speed as it is.
        st.speedSample = {speed, done, platform::now() + 3600};
    }
};

// ---- update states ----

TEST_F(MainScreen, ProgressBarFillIsRevealedUpToItsFraction) {
    for (int percent : {25, 50, 90}) {
        setDownloading(1, 4, percent * 10000, 1000000, 0);
        shot("progress_" + std::to_string(percent), kBar);
    }
}

TEST_F(MainScreen, ScreenshotsOfEveryState) {
    l().news.items = kThreeItems;
    setState(Checking);
    shot("main_checking", kStatus);
    setDownloading(2, 7, 157286400, 314572800, 3145728);
    shot("main_downloading", kStatus);
    l().update.bytesFetched = 14155776; // a patch: most of the done bytes were reused
    shot("main_patching", kStatus);

    setState(UpToDate);
    setServerVersion("0.1.0-demo");
    l().session.link.serverStatus = ServerStatus::Online;
    shot("main_uptodate", kStatus); // the bar full
    EXPECT_EQ(l().screens.main.footer, "Sürüm 0.1.0-demo · Sunucu Açık");

    setState(Failed);
    shot("main_failed", kStatus); // the failure line red-orange, brighter while hovered
    moveMouse(600, 426);
    shot("main_failed_hover", kStatus);
    EXPECT_TRUE(l().ui.input.wantHandCursor);

    moveMouse(10, 10);
    setState(RestartPending);
    shot("main_restarting", kStatus);
}

// ---- news ----

TEST_F(MainScreen, NewsWithNoneOneAndThreeItems) {
    l().session.link.serverStatus = ServerStatus::Online; // no placeholder while the server is open
    shot("news_none_online", kNews);
    l().session.link.serverStatus = ServerStatus::Connecting;
    shot("news_none", kNews); // "Haberler yükleniyor..." on one line
    l().news.items = {kThreeItems[0]};
    l().session.link.serverStatus = ServerStatus::Offline;
    shot("news_one", kNews); // the caption is the item's title; the offline notice
    l().news.items = kThreeItems;
    shot("news_three", kNews);
    moveMouse(450, 392);
    shot("news_three_hover", kNews); // the second row's title gold-bright
}

TEST_F(MainScreen, LongTitleIsCutBeforeItsTag) {
    const NewsItem longRow{"Etiket", "Çok uzun bir başlık ki satıra asla sığmaz ve etiketin altına taşardı",
                           "g"};
    const NewsItem wideTag{std::string(60, 'W'), "Başlık", "g"}; // a tag wider than the row
    l().news.items = {kThreeItems[0], longRow, wideTag};
    // The first long title ends 12 px before its tag; the second tag leaves no room, so its
    // title is not drawn at all (and the clip does not fall back to an older rectangle).
    shot("news_long_title", kNews);
}

// ---- input layers and hover ----

TEST_F(MainScreen, SocialLabelTurnsBrightOnHoverButNotUnderADialog) {
    moveMouse(489, 340);
    shot("social_hover", kNews); // 0xFFE2A0 against 0xE8D7A8
    EXPECT_TRUE(l().ui.input.wantHandCursor);
    // A message on top: no hover colour, no hand cursor (lower layers are inert:
    // WidgetTest.EdgesAreHalfOpenAndLowerLayersAreInert).
    showInfo(message(), "Bilgi");
    shot("message_over_main", kDialogArea);
    EXPECT_FALSE(l().ui.input.wantHandCursor);
    EXPECT_EQ(l().ui.frame.inputLayer, InputLayer::Message);

    // A modal dialog (the Dialog layer) also keeps the main screen inert.
    hideMessage(message());
    l().screens.state.activeModal = Modal::Settings;
    click(489, 340);
    EXPECT_EQ(l().ui.frame.inputLayer, InputLayer::Dialog);
    EXPECT_FALSE(message().visible); // the link did not fire
}

// ---- clicks ----

TEST_F(MainScreen, BannerAndHeadlineClicksOpenTheirItemAndTheMessageClosesOnTamam) {
    click(560, 190); // empty list: the banner does nothing
    EXPECT_FALSE(message().visible);

    l().news.items = kThreeItems;
    const struct {
        float x, y;
        const char *title, *text; // an empty body shows the tag
    } clicks[] = {{560, 190, "Ejder Uyanıyor: Kuzey Seferi", "Kuzey dağlarında kadim ejder uyandı."},
                  {400, 369, "Sürüm 0.1.0 notları: yeni zindanlar ve düzeltmeler", "Yeni zindanlar."},
                  {400, 392, "Hafta sonu çift deneyim", "Duyuru"}};
    for (const auto& c : clicks) {
        click(c.x, c.y);
        ASSERT_TRUE(message().visible) << c.title;
        EXPECT_EQ(message().title + "|" + message().messageText, std::string(c.title) + "|" + c.text);
        EXPECT_EQ(message().accentColor, 0xE2C27Au);
        frame();
        save("news_message");
        // The panel at (170, 160) ignores a click beside its button (340, 363, 120 x 28).
        click(200, 300);
        EXPECT_TRUE(message().visible);
        click(400, 377);
        EXPECT_FALSE(message().visible);
    }
    // With one item there are no rows to click.
    l().news.items = {kThreeItems[0]};
    click(400, 369);
    EXPECT_FALSE(message().visible);

    showError(message(),
              "Birinci satır\nİkinci satır çok uzun bir cümle ki kelime kelime sarılarak alt "
              "satırlara iner ve sonunda kutunun altında kesilir; beşinci satır görünmemeli, altıncı da.");
    shot("message_error", kDialogArea); // wrapped, the lines past the box cut off
}

TEST_F(MainScreen, StartOnlyWhenTheUpdateIsDoneSettingsAndTheCloseButton) {
    setState(Checking); // which states disable START: StartAndRestart
    click(424, 534);
    EXPECT_EQ(l().screens.state.activeModal, Modal::None);
    setState(UpToDate);
    l().screens.login.username.text = "arda";
    click(424, 534);
    EXPECT_EQ(l().screens.state.activeModal, Modal::Login);
    EXPECT_EQ(l().ui.focus, &l().screens.login.password);
    l().screens.state.activeModal = Modal::None;
    click(706, 535); // AYARLAR
    EXPECT_EQ(l().screens.state.activeModal, Modal::Settings);
    l().screens.state.activeModal = Modal::None;
    EXPECT_FALSE(glfwWindowShouldClose(l().window));
    click(774, 26);
    EXPECT_TRUE(glfwWindowShouldClose(l().window));
}

// A press no widget took drags the window by the cursor's movement; a press on a widget (the
// news banner) never does, wherever the cursor then goes.
TEST_F(MainScreen, OnlyAPressOnEmptySpaceDragsTheWindow) {
    int x0 = 0, y0 = 0, x = 0, y = 0;
    glfwGetWindowPos(l().window, &x0, &y0);
    for (const auto& [px, py, drags] : {std::tuple{600.f, 200.f, false}, {100.f, 100.f, true}}) {
        moveMouse(px, py);
        queueMouseButton(l().ui, GLFW_MOUSE_BUTTON_LEFT, GLFW_PRESS);
        frame();
        moveMouse(px + 50, py + 30);
        frame();
        EXPECT_EQ(l().drag.dragging, drags) << px;
        ASSERT_TRUE(screentest::waitFor(
            [&] {
                return glfwGetWindowPos(l().window, &x, &y), x == x0 + 50 * drags && y == y0 + 30 * drags;
            },
            5))
            << px << ": " << x << "," << y;
        queueMouseButton(l().ui, GLFW_MOUSE_BUTTON_LEFT, GLFW_RELEASE);
        frame();
        EXPECT_FALSE(l().drag.dragging);
    }
}

TEST_F(MainScreen, MissingLinksGiveTheNotice) {
    configSet(l().config, keys::kDiscord, "discord.gg/morlaken"); // no scheme
    // WEB SİTESİ (nothing configured), DC, YT, TW.
    for (auto [x, y] : {std::pair{565.f, 535.f}, {489.f, 340.f}, {527.f, 340.f}, {641.f, 340.f}}) {
        hideMessage(message());
        click(x, y);
        EXPECT_EQ(message().visible ? message().messageText : "", kNotReady) << x;
    }
}

TEST_F(MainScreen, RetryClickShowsTheErrorAndStartsANewPass) {
    setState(Failed);
    setServerVersion("", "Güncelleme sunucusuna ulaşılamadı (sunucuya ulasilamadi).");
    // Clicking outside the failure line does nothing; on it, a retry: the error, and a new
    // pass (with no update address configured it is over at once).
    click(300, 426);
    for (int i = 0; i < 20; ++i) // and no frame retries on its own
        pumpFrame(l());
    EXPECT_EQ(l().update.state.load(), Failed);
    EXPECT_FALSE(message().visible);
    click(700, 426);
    ASSERT_TRUE(message().visible);
    EXPECT_EQ(message().title, "HATA");
    EXPECT_EQ(message().messageText,
              "Güncelleme sunucusuna ulaşılamadı (sunucuya ulasilamadi).\n\nTekrar deneniyor.");
    EXPECT_EQ(l().update.state.load(), UpToDate);
    hideMessage(message());
    setServerVersion("0.2.0-test"); // what the new pass's list says
    shot("retry_uptodate", kStatus);

    // In any other state the line is not clickable.
    click(700, 426);
    EXPECT_FALSE(message().visible);
}

// A game that ends: with a non-zero code at once, the launcher is back with the error; any
// other end brings the closing screen, which ends after its time (a click: e2e_test.cpp).
TEST_F(MainScreen, AGameThatEndsBringsTheErrorOrTheClosingScreen) {
    l().screens.state.activeModal = Modal::Login;
    for (const char* end : {"exit 1", "exit 0"}) {
        platform::ProcessOptions options;
        int error = 0;
        l().session.game = {platform::startProcess("/bin/sh", {"-c", end}, options, error), platform::now()};
        l().screens.state.gameState = GameState::Running;
        glfwHideWindow(l().window);
        queueMouseButton(l().ui, GLFW_MOUSE_BUTTON_LEFT, GLFW_RELEASE); // cleared by the closing screen
        ASSERT_TRUE(screentest::waitFor([&] { return pumpFrame(l()); }, 10)) << end;
        EXPECT_TRUE(glfwGetWindowAttrib(l().window, GLFW_VISIBLE)) << end; // the launcher is back
    }
    EXPECT_EQ(message().messageText,
              "Oyun açılırken kapandı (çıkış kodu 0x00000001). Bu kodu Velmor'a gönder.");
    EXPECT_EQ(l().screens.state.activeModal, Modal::None); // the login dialog closed at the early end
    ASSERT_EQ(l().screens.state.gameState, GameState::Closing);
    frame();
    glfwSwapBuffers(l().window); // the resized window's buffers follow its size from here on
    // The window is 1280 x 640, filled with "kapanis.jpg", the logo over its corner.
    shot("kapanis_ekrani", {820, 380, 200, 120});
    EXPECT_FALSE(l().screens.state.closeRequested);
    int w = 0, h = 0;
    glfwGetFramebufferSize(l().window, &w, &h);
    EXPECT_TRUE(w == 1280 && h == 640) << w << " x " << h;
    l().screens.state.closingStart -= kClosingSeconds + 0.1;
    frame();
    EXPECT_TRUE(l().screens.state.closeRequested);
}

} // namespace
