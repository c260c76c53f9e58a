// main_screen_render_test.cpp - the main screen drawn for real (hidden GLFW window, Mesa)
// in every update state and with 0, 1 and 3 news items; screenshots go to
// <build>/screenshots/. Pixels are checked where the layout fixes them, and the clicks
// (banner, headlines, retry, START, close, links) are driven through the input state.
#include "screens/screen_test_support.h"

#include "config/config.h"
#include "gfx/font.h"
#include "gfx/frame.h"
#include "gfx/widgets.h"
#include "net/http.h"
#include "news/news.h"
#include "screens/dialogs.h"
#include "screens/main_screen.h"
#include "screens/message_dialog.h"
#include "screens/ui_state.h"
#include "support/test_server.h"
#include "update/pass.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using screentest::ScreenHarness;
using screentest::waitFor;
using Rgb = ScreenHarness::Rgb;

namespace {

using enum UpdateState;

const std::vector<NewsItem> kThreeItems = {
    {"Etkinlik", "Ejder Uyanıyor: Kuzey Seferi", "Kuzey dağlarında kadim ejder uyandı."},
    {"Yama", "Sürüm 0.1.0 notları: yeni zindanlar ve düzeltmeler", "Yeni zindanlar."},
    {"Duyuru", "Hafta sonu çift deneyim", ""}};

class MainScreen : public ::testing::Test {
  protected:
    void SetUp() override {
        resetNewsForTests();
        hideMessage();
        serverStatus() = ServerStatus::Connecting;
        screentest::resetUpdateStatus(UpToDate);
        config() = Config{};
        h_ = std::make_unique<ScreenHarness>();
        ASSERT_TRUE(h_->ok()) << h_->error(); // screens are tested on a real X server (Xvfb)
        h_->moveMouse(10, 10); // over nothing clickable
    }
    void TearDown() override {
        h_.reset();
        screentest::resetUpdateStatus(UpToDate);
        resetNewsForTests();
        hideMessage();
        ui() = UiState{};
        config() = Config{};
        serverStatus() = ServerStatus::Connecting;
    }
    static void setDownloading(int32_t filesDone, int32_t filesTotal, int64_t done, int64_t total,
                               double speed) {
        UpdateStatus& st = screentest::update();
        st.state = Downloading;
        st.filesDone = filesDone;
        st.filesTotal = filesTotal;
        st.bytesDone = done;
        st.bytesTotal = total;
        screentest::shownSpeed() = speed;
    }
    static int diff(const Rgb& a, const Rgb& b) {
        return std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b);
    }
    // The pixels of a rectangle of the last frame.
    std::vector<Rgb> grab(int x, int y, int w, int hgt) const {
        std::vector<Rgb> out;
        for (int yy = y; yy < y + hgt; ++yy)
            for (int xx = x; xx < x + w; ++xx)
                out.push_back(h_->pixel(xx, yy));
        return out;
    }
    static int changed(const std::vector<Rgb>& a, const std::vector<Rgb>& b) {
        return changedIn(a, b, static_cast<int>(a.size()), 0, 1, 0, static_cast<int>(a.size()));
    }
    // The same over rows [y0, y1) and columns [x0, x1) of two grabs `w` pixels wide.
    static int changedIn(const std::vector<Rgb>& a, const std::vector<Rgb>& b, int w, int y0, int y1, int x0,
                         int x1) {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                n += diff(a[static_cast<size_t>(y) * w + x], b[static_cast<size_t>(y) * w + x]) > 6 ? 1 : 0;
        return n;
    }
    // The reddest pixel of a rectangle: on the dark art it carries the text colour's hue
    // whatever the glyph's coverage.
    Rgb reddest(int x, int y, int w, int hgt) const {
        Rgb best;
        for (const Rgb& p : grab(x, y, w, hgt))
            if (p.r > best.r) best = p;
        return best;
    }
    std::unique_ptr<ScreenHarness> h_;
};

// ---- update states ----

TEST_F(MainScreen, ProgressBarFillIsRevealedUpToItsFraction) {
    screentest::resetUpdateStatus(Checking);
    h_->frame();
    const auto empty = grab(407, 458, 316, 18);
    for (float fraction : {0.25f, 0.5f, 0.9f}) {
        setDownloading(1, 4, static_cast<int64_t>(1000000 * fraction), 1000000, 0);
        h_->frame();
        const int edge = static_cast<int>(407 + 316 * fraction);
        // Left of the edge the fill shows (warm gold over the dark trough), right of it
        // nothing changed.
        const auto filled = grab(407, 458, 316, 18);
        const int changedLeft = changedIn(filled, empty, 316, 0, 18, 0, edge - 1 - 407);
        const int changedRight = changedIn(filled, empty, 316, 0, 18, edge + 2 - 407, 316);
        const int leftPixels = (edge - 1 - 407) * 18;
        EXPECT_GT(changedLeft, leftPixels * 9 / 10) << fraction;
        EXPECT_EQ(changedRight, 0) << fraction;
        const Rgb mid = h_->pixel((407 + edge) / 2, 467);
        EXPECT_GT(mid.r, mid.b + 40) << "fill should be gold at " << fraction;
    }
    // A total of 0 bytes shows no fill at all.
    setDownloading(0, 1, 500, 0, 0);
    h_->frame();
    EXPECT_EQ(changed(grab(407, 458, 316, 18), empty), 0);
    // Up to date and restarting fill the whole bar; failed shows none.
    for (UpdateState state : {UpToDate, RestartPending}) {
        screentest::resetUpdateStatus(state);
        h_->frame();
        EXPECT_GT(changed(grab(409, 458, 312, 18), empty), 312 * 18 * 9 / 10) << static_cast<int>(state);
        const Rgb end = h_->pixel(718, 467);
        EXPECT_GT(end.r, end.b + 40) << static_cast<int>(state);
    }
    screentest::resetUpdateStatus(Failed);
    h_->frame();
    EXPECT_EQ(changed(grab(407, 458, 316, 18), empty), 0);
}

TEST_F(MainScreen, ScreenshotsOfEveryState) {
    newsList() = kThreeItems;
    screentest::resetUpdateStatus(Checking);
    h_->frame();
    h_->save("main_checking");
    const auto checkingLine = grab(380, 416, 390, 21);

    setDownloading(2, 7, 157286400, 314572800, 3145728);
    h_->frame();
    h_->save("main_downloading");
    EXPECT_GT(changed(grab(380, 416, 390, 21), checkingLine), 50);

    screentest::resetUpdateStatus(UpToDate);
    {
        UpdateStatus& st = screentest::update();
        std::lock_guard<std::mutex> lock(st.statusMutex);
        st.serverVersion = "0.1.0-demo";
    }
    serverStatus() = ServerStatus::Online;
    h_->frame();
    h_->save("main_uptodate");

    screentest::resetUpdateStatus(Failed);
    h_->frame();
    h_->save("main_failed");
    // The failure line is red-orange, brighter while hovered.
    const Rgb plain = reddest(380, 416, 390, 21);
    EXPECT_GT(plain.r, plain.b + 60);
    h_->moveMouse(600, 426);
    h_->frame();
    h_->save("main_failed_hover");
    const Rgb hot = reddest(380, 416, 390, 21);
    EXPECT_GT(hot.g + hot.b, plain.g + plain.b + 40); // 0xFFB8A8 against 0xE08A7A
    EXPECT_TRUE(input().wantHandCursor);

    h_->moveMouse(10, 10);
    screentest::resetUpdateStatus(RestartPending);
    h_->frame();
    h_->save("main_restarting");
}

// ---- news ----

TEST_F(MainScreen, NewsWithNoneOneAndThreeItems) {
    // Rows of the headline area and the caption band.
    const int rowsX = 380, rowsY = 358, rowsW = 370, rowsH = 44;
    newsList().clear();
    serverStatus() = ServerStatus::Online; // no placeholder while the server is open
    h_->frame();
    const auto noRows = grab(rowsX, rowsY, rowsW, rowsH);
    const auto bareCaption = grab(404, 244, 300, 32);
    h_->save("news_none_online");

    serverStatus() = ServerStatus::Connecting;
    h_->frame();
    h_->save("news_none");
    const auto connectingRows = grab(rowsX, rowsY, rowsW, rowsH);
    EXPECT_GT(changed(connectingRows, noRows), 100); // "Haberler yükleniyor..."
    // The placeholder is one line: the second row stays empty.
    EXPECT_EQ(changedIn(connectingRows, noRows, rowsW, 25, rowsH, 0, rowsW), 0);

    newsList() = {kThreeItems[0]};
    serverStatus() = ServerStatus::Offline;
    h_->frame();
    h_->save("news_one");
    EXPECT_GT(changed(grab(404, 244, 300, 32), bareCaption), 100); // caption now the item's title
    const auto offlineRows = grab(rowsX, rowsY, rowsW, rowsH);
    EXPECT_GT(changed(offlineRows, noRows), 100);         // offline placeholder...
    EXPECT_GT(changed(offlineRows, connectingRows), 100); // ...a different text

    newsList() = kThreeItems;
    h_->frame();
    h_->save("news_three");
    // Both rows are drawn: something changed in each of them.
    const auto three = grab(rowsX, rowsY, rowsW, rowsH);
    EXPECT_GT(changedIn(three, noRows, rowsW, 0, 381 - rowsY, 0, rowsW), 100);
    EXPECT_GT(changedIn(three, noRows, rowsW, 381 - rowsY, rowsH, 0, rowsW), 100);

    // Hovering the second row turns its title gold-bright.
    const Rgb before = reddest(380, 383, 200, 19);
    h_->moveMouse(450, 392);
    h_->frame();
    h_->save("news_three_hover");
    const Rgb after = reddest(380, 383, 200, 19);
    EXPECT_GT(after.r * 100 / std::max(after.b, 1), before.r * 100 / std::max(before.b, 1));
}

TEST_F(MainScreen, LongTitleIsCutBeforeItsTag) {
    const NewsItem longRow{"Etiket", "Çok uzun bir başlık ki satıra asla sığmaz ve etiketin altına taşardı",
                           "g"};
    const NewsItem wideTag{std::string(60, 'W'), "Başlık", "g"}; // a tag wider than the row
    newsList() = {kThreeItems[0], longRow, wideTag};
    h_->frame();
    h_->save("news_long_title");
    const auto withTitles = grab(380, 358, 370, 44);
    newsList()[1].title.clear();
    newsList()[2].title.clear();
    h_->frame();
    const auto tagsOnly = grab(380, 358, 370, 44);

    // Row 1: the title's pixels reach up to the cut, 12 px before the tag, never past it.
    const float tagWidth = textWidth(getFont(FontFamily::Body, 15), "Etiket", 0);
    const int cut = static_cast<int>(std::ceil(380 + 370 - tagWidth - 12));
    int rightmost = -1;
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 370; ++x)
            if (diff(withTitles[static_cast<size_t>(y) * 370 + x],
                     tagsOnly[static_cast<size_t>(y) * 370 + x]) > 6)
                rightmost = std::max(rightmost, 380 + x);
    EXPECT_LT(rightmost, cut);
    EXPECT_GT(rightmost, cut - 15);
    // Row 2: the tag leaves no room, so its title is not drawn at all (and the clip does
    // not fall back to an older rectangle).
    EXPECT_EQ(changedIn(withTitles, tagsOnly, 370, 25, 44, 0, 370), 0);
}

// ---- input layers and hover ----

TEST_F(MainScreen, SocialLabelTurnsBrightOnHoverButNotUnderADialog) {
    h_->frame();
    const Rgb normal = reddest(475, 330, 28, 20);
    h_->moveMouse(489, 340);
    h_->frame();
    h_->save("social_hover");
    const Rgb hovered = reddest(475, 330, 28, 20);
    EXPECT_TRUE(input().wantHandCursor);
    // 0xFFE2A0 against 0xE8D7A8: redder and less blue.
    EXPECT_GT(hovered.r, normal.r);
    EXPECT_GT(hovered.r * 100 / std::max(hovered.b, 1), normal.r * 100 / std::max(normal.b, 1) + 8);
    EXPECT_NEAR(hovered.r, 255, 12);

    // A message on top: no hover colour, no hand cursor anywhere on the main screen.
    showInfo("Bilgi");
    for (auto [x, y] :
         {std::pair{489.f, 340.f}, {420.f, 530.f}, {770.f, 20.f}, {560.f, 190.f}, {600.f, 530.f}}) {
        h_->moveMouse(x, y);
        h_->frame();
        EXPECT_FALSE(input().wantHandCursor) << x << "," << y;
    }
    h_->moveMouse(489, 340);
    h_->frame();
    h_->save("message_over_main");
    EXPECT_EQ(frameContext().inputLayer, InputLayer::Message);
    // Under the dim the label keeps its normal hue.
    const Rgb dimmed = reddest(475, 330, 28, 20);
    EXPECT_LT(dimmed.r * 100 / std::max(dimmed.b, 1), hovered.r * 100 / std::max(hovered.b, 1) - 5);

    // A modal dialog (the Dialog layer) also keeps the main screen inert.
    hideMessage();
    ui().activeModal = Modal::Settings;
    h_->frame();
    EXPECT_EQ(frameContext().inputLayer, InputLayer::Dialog);
    EXPECT_FALSE(input().wantHandCursor);
    h_->click(489, 340);
    EXPECT_FALSE(messageDialog().visible); // the link did not fire
}

// ---- clicks ----

TEST_F(MainScreen, BannerAndHeadlineClicksOpenTheirItem) {
    // Empty list: the banner does nothing.
    h_->click(560, 190);
    EXPECT_FALSE(messageDialog().visible);

    newsList() = kThreeItems;
    h_->click(560, 190);
    ASSERT_TRUE(messageDialog().visible);
    EXPECT_EQ(messageDialog().title, "Ejder Uyanıyor: Kuzey Seferi");
    EXPECT_EQ(messageDialog().messageText, "Kuzey dağlarında kadim ejder uyandı.");
    EXPECT_EQ(messageDialog().accentColor, 0xE2C27Au);
    h_->frame();
    h_->save("news_message");
    hideMessage();

    h_->click(400, 369); // first row: item 1
    EXPECT_EQ(messageDialog().title, kThreeItems[1].title);
    EXPECT_EQ(messageDialog().messageText, "Yeni zindanlar.");
    hideMessage();
    h_->click(400, 392); // second row: item 2, empty body -> its tag
    EXPECT_EQ(messageDialog().title, "Hafta sonu çift deneyim");
    EXPECT_EQ(messageDialog().messageText, "Duyuru");
    hideMessage();

    // (Press on one row, release on the other: WidgetTest.PressOnOneReleaseOnAnotherClicksNeither.)

    // With one item there are no rows to click.
    newsList() = {kThreeItems[0]};
    h_->click(400, 369);
    EXPECT_FALSE(messageDialog().visible);
}

TEST_F(MainScreen, MessageDialogClosesOnTamamAndCentresInTheWindow) {
    showError("Birinci satır\nİkinci satır çok uzun bir cümle ki kelime kelime sarılarak alt satırlara "
              "iner ve sonunda kutunun altında kesilir; beşinci satır görünmemeli, altıncı da.");
    h_->frame();
    h_->save("message_error");
    // Panel at (170, 160); the button at (340, 363, 120 x 28). A click elsewhere in the panel
    // does nothing; on the button it closes.
    h_->click(200, 300);
    EXPECT_TRUE(messageDialog().visible);
    h_->click(400, 377);
    EXPECT_FALSE(messageDialog().visible);
    // Nothing under the dialog reacted to those clicks.
    EXPECT_EQ(ui().activeModal, Modal::None);
}

TEST_F(MainScreen, StartOnlyWhenTheUpdateIsDone) {
    for (UpdateState state : {Checking, Downloading, RestartPending}) {
        screentest::resetUpdateStatus(state);
        h_->click(424, 534);
        EXPECT_EQ(ui().activeModal, Modal::None) << static_cast<int>(state);
    }
    screentest::resetUpdateStatus(UpToDate);
    usernameField().text = "arda";
    h_->click(424, 534);
    EXPECT_EQ(ui().activeModal, Modal::Login);
    EXPECT_EQ(focusedField(), &passwordField());
    ui().activeModal = Modal::None;
    // (AYARLAR: settings_dialog_test.cpp.)
    // The close button asks the loop to close the window.
    EXPECT_FALSE(ui().closeRequested);
    h_->click(774, 26);
    EXPECT_TRUE(ui().closeRequested);
}

TEST_F(MainScreen, MissingLinksGiveTheNotice) {
    configSet("web", "");
    configSet("discord", "discord.gg/morlaken"); // no scheme
    for (auto [x, y] : {std::pair{565.f, 535.f}, {489.f, 340.f}, {527.f, 340.f}, {641.f, 340.f}}) {
        hideMessage();
        h_->click(x, y);
        EXPECT_TRUE(messageDialog().visible) << x;
        EXPECT_EQ(messageDialog().messageText, "Bu bağlantı henüz hazır değil.") << x;
    }
}

TEST_F(MainScreen, RetryClickShowsTheErrorAndStartsANewPass) {
    testsupport::TestServer server;
    server.route("/oyun/dosyalar.txt", testsupport::answer(500, "bozuk"));
    configSet("guncelleme", server.baseUrl() + "oyun/");

    // A real failed pass first.
    startUpdate(screentest::update(), configGet("guncelleme", ""), "MorlakenLauncher");
    ASSERT_TRUE(waitFor([] { return screentest::update().state.load() == Failed; }, 30.0));
    std::string firstError;
    copyUpdateError(screentest::update(), firstError);
    ASSERT_FALSE(firstError.empty());
    EXPECT_EQ(server.requestCount("/oyun/dosyalar.txt"), 1);

    // Clicking outside the failure line does nothing; on it, a retry.
    h_->click(300, 426);
    EXPECT_EQ(screentest::update().state.load(), Failed);
    server.route("/oyun/dosyalar.txt", testsupport::answer(200, "morlaken-liste 1\nsurum 0.2.0-test\n"));
    h_->click(700, 426);
    ASSERT_TRUE(messageDialog().visible);
    EXPECT_EQ(messageDialog().title, "HATA");
    EXPECT_EQ(messageDialog().messageText, firstError + "\n\nTekrar deneniyor.");
    ASSERT_TRUE(waitFor([] { return screentest::update().state.load() == UpToDate; }, 30.0));
    EXPECT_EQ(server.requestCount("/oyun/dosyalar.txt"), 2);
    hideMessage();
    h_->frame();
    h_->save("retry_uptodate");

    // In any other state the line is not clickable.
    h_->click(700, 426);
    EXPECT_FALSE(messageDialog().visible);
    EXPECT_EQ(server.requestCount("/oyun/dosyalar.txt"), 2);
}

} // namespace
