// main_screen_render_test.cpp - the main screen drawn for real (hidden GLFW window, Mesa)
// through the launcher's frame function, in every update state and with 0, 1 and 3 news
// items, and the closing screen; screenshots go to <build>/screenshots/. Pixels are checked
// where the layout fixes them, and the clicks go through the event queue.
#include "screens/screen_test_support.h"

#include "app/frame.h"
#include "config/config.h"
#include "gfx/font.h"
#include "platform/clock.h"
#include "platform/platform.h"
#include "screens/closing_screen.h"

#include <GLFW/glfw3.h>
#include <gtest/gtest.h>
#include <stb_image.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

using screentest::changed;
using Rgb = screentest::ScreenHarness::Rgb;

namespace {

using enum UpdateState;

const std::vector<NewsItem> kThreeItems = {
    {"Etkinlik", "Ejder Uyanıyor: Kuzey Seferi", "Kuzey dağlarında kadim ejder uyandı."},
    {"Yama", "Sürüm 0.1.0 notları: yeni zindanlar ve düzeltmeler", "Yeni zindanlar."},
    {"Duyuru", "Hafta sonu çift deneyim", ""}};
constexpr const char* kNotReady = "Bu bağlantı henüz hazır değil.";

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
    // The reddest pixel of a rectangle: on the dark art it carries the text colour's hue
    // whatever the glyph's coverage.
    Rgb reddest(int x, int y, int w, int hgt) const {
        Rgb best;
        for (const Rgb& p : h_->grab(x, y, w, hgt))
            if (p.r > best.r) best = p;
        return best;
    }
    static int redPerBlue(const Rgb& p) { return p.r * 100 / std::max(p.b, 1); }
    // Changed pixels within rows [y0, y1) of two grabs `w` pixels wide, columns [x0, x1).
    static int changedIn(const std::vector<Rgb>& a, const std::vector<Rgb>& b, int w, int y0, int y1, int x0,
                         int x1) {
        std::vector<Rgb> sa, sb;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) {
                sa.push_back(a[static_cast<size_t>(y) * w + x]);
                sb.push_back(b[static_cast<size_t>(y) * w + x]);
            }
        return changed(sa, sb);
    }
};

// ---- update states ----

TEST_F(MainScreen, ProgressBarFillIsRevealedUpToItsFraction) {
    setState(Checking);
    h_->frame();
    const auto empty = h_->grab(407, 458, 316, 18);
    for (float fraction : {0.25f, 0.5f, 0.9f}) {
        setDownloading(1, 4, static_cast<int64_t>(1000000 * fraction), 1000000, 0);
        h_->frame();
        const int edge = static_cast<int>(407 + 316 * fraction);
        // Left of the edge the fill shows (warm gold over the dark trough), right of it
        // nothing changed.
        const auto filled = h_->grab(407, 458, 316, 18);
        EXPECT_GT(changedIn(filled, empty, 316, 0, 18, 0, edge - 1 - 407), (edge - 1 - 407) * 18 * 9 / 10)
            << fraction;
        EXPECT_EQ(changedIn(filled, empty, 316, 0, 18, edge + 2 - 407, 316), 0) << fraction;
        const Rgb mid = h_->pixel((407 + edge) / 2, 467);
        EXPECT_GT(mid.r, mid.b + 40) << "fill should be gold at " << fraction;
    }
    // Up to date fills the whole bar (each state's fraction: Progress.FractionOfEachState).
    setState(UpToDate);
    h_->frame();
    EXPECT_GT(changed(h_->grab(409, 458, 312, 18), empty), 312 * 18 * 9 / 10);
    const Rgb end = h_->pixel(718, 467);
    EXPECT_GT(end.r, end.b + 40);
}

TEST_F(MainScreen, ScreenshotsOfEveryState) {
    l().news.items = kThreeItems;
    setState(Checking);
    h_->frame();
    h_->save("main_checking");
    const auto checkingLine = h_->grab(380, 416, 390, 21);

    setDownloading(2, 7, 157286400, 314572800, 3145728);
    h_->frame();
    h_->save("main_downloading");
    const auto downloadingLine = h_->grab(380, 416, 390, 21);
    EXPECT_GT(changed(downloadingLine, checkingLine), 50);
    l().update.bytesFetched = 14155776; // a patch: most of the done bytes were reused
    h_->frame();
    h_->save("main_patching");
    EXPECT_GT(changed(h_->grab(380, 416, 390, 21), downloadingLine), 50);

    setState(UpToDate);
    setServerVersion("0.1.0-demo");
    l().session.link.serverStatus = ServerStatus::Online;
    h_->frame();
    h_->save("main_uptodate");
    EXPECT_EQ(l().screens.main.footer, "Sürüm 0.1.0-demo · Sunucu Açık");

    setState(Failed);
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
    EXPECT_TRUE(l().ui.input.wantHandCursor);

    h_->moveMouse(10, 10);
    setState(RestartPending);
    h_->frame();
    h_->save("main_restarting");
}

// ---- news ----

TEST_F(MainScreen, NewsWithNoneOneAndThreeItems) {
    // Rows of the headline area and the caption band.
    const int rowsX = 380, rowsY = 358, rowsW = 370, rowsH = 44;
    l().session.link.serverStatus = ServerStatus::Online; // no placeholder while the server is open
    h_->frame();
    const auto noRows = h_->grab(rowsX, rowsY, rowsW, rowsH);
    const auto bareCaption = h_->grab(404, 244, 300, 32);
    h_->save("news_none_online");

    l().session.link.serverStatus = ServerStatus::Connecting;
    h_->frame();
    h_->save("news_none");
    const auto connectingRows = h_->grab(rowsX, rowsY, rowsW, rowsH);
    EXPECT_GT(changed(connectingRows, noRows), 100); // "Haberler yükleniyor..."
    // The placeholder is one line: the second row stays empty.
    EXPECT_EQ(changedIn(connectingRows, noRows, rowsW, 25, rowsH, 0, rowsW), 0);

    l().news.items = {kThreeItems[0]};
    l().session.link.serverStatus = ServerStatus::Offline;
    h_->frame();
    h_->save("news_one");
    EXPECT_GT(changed(h_->grab(404, 244, 300, 32), bareCaption), 100); // caption now the item's title
    const auto offlineRows = h_->grab(rowsX, rowsY, rowsW, rowsH);
    EXPECT_GT(changed(offlineRows, noRows), 100);         // offline placeholder...
    EXPECT_GT(changed(offlineRows, connectingRows), 100); // ...a different text

    l().news.items = kThreeItems;
    h_->frame();
    h_->save("news_three");
    // Both rows are drawn: something changed in each of them.
    const auto three = h_->grab(rowsX, rowsY, rowsW, rowsH);
    EXPECT_GT(changedIn(three, noRows, rowsW, 0, 381 - rowsY, 0, rowsW), 100);
    EXPECT_GT(changedIn(three, noRows, rowsW, 381 - rowsY, rowsH, 0, rowsW), 100);

    // Hovering the second row turns its title gold-bright.
    const Rgb before = reddest(380, 383, 200, 19);
    h_->moveMouse(450, 392);
    h_->frame();
    h_->save("news_three_hover");
    EXPECT_GT(redPerBlue(reddest(380, 383, 200, 19)), redPerBlue(before));
}

TEST_F(MainScreen, LongTitleIsCutBeforeItsTag) {
    const NewsItem longRow{"Etiket", "Çok uzun bir başlık ki satıra asla sığmaz ve etiketin altına taşardı",
                           "g"};
    const NewsItem wideTag{std::string(60, 'W'), "Başlık", "g"}; // a tag wider than the row
    l().news.items = {kThreeItems[0], longRow, wideTag};
    h_->frame();
    h_->save("news_long_title");
    const auto withTitles = h_->grab(380, 358, 370, 44);
    l().news.items[1].title.clear();
    l().news.items[2].title.clear();
    h_->frame();
    const auto tagsOnly = h_->grab(380, 358, 370, 44);

    // Row 1: the title's pixels reach up to the cut, 12 px before the tag, never past it.
    const float tagWidth = textWidth(l().ui, {{FontFamily::Body, 15}}, "Etiket");
    const int cut = static_cast<int>(std::ceil(380 + 370 - tagWidth - 12));
    int rightmost = -1;
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 370; ++x)
            if (changedIn(withTitles, tagsOnly, 370, y, y + 1, x, x + 1) > 0)
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
    EXPECT_TRUE(l().ui.input.wantHandCursor);
    // 0xFFE2A0 against 0xE8D7A8: redder and less blue.
    EXPECT_GT(hovered.r, normal.r);
    EXPECT_GT(redPerBlue(hovered), redPerBlue(normal) + 8);
    EXPECT_NEAR(hovered.r, 255, 12);

    // A message on top: no hover colour, no hand cursor (lower layers are inert:
    // WidgetTest.EdgesAreHalfOpenAndLowerLayersAreInert).
    showInfo(message(), "Bilgi");
    h_->frame();
    h_->save("message_over_main");
    EXPECT_FALSE(l().ui.input.wantHandCursor);
    EXPECT_EQ(l().ui.frame.inputLayer, InputLayer::Message);
    // Under the dim the label keeps its normal hue.
    EXPECT_LT(redPerBlue(reddest(475, 330, 28, 20)), redPerBlue(hovered) - 5);

    // A modal dialog (the Dialog layer) also keeps the main screen inert.
    hideMessage(message());
    l().screens.state.activeModal = Modal::Settings;
    h_->click(489, 340);
    EXPECT_EQ(l().ui.frame.inputLayer, InputLayer::Dialog);
    EXPECT_FALSE(message().visible); // the link did not fire
}

// ---- clicks ----

TEST_F(MainScreen, BannerAndHeadlineClicksOpenTheirItemAndTheMessageClosesOnTamam) {
    h_->click(560, 190); // empty list: the banner does nothing
    EXPECT_FALSE(message().visible);

    l().news.items = kThreeItems;
    const struct {
        float x, y;
        const char *title, *text; // an empty body shows the tag
    } clicks[] = {{560, 190, "Ejder Uyanıyor: Kuzey Seferi", "Kuzey dağlarında kadim ejder uyandı."},
                  {400, 369, "Sürüm 0.1.0 notları: yeni zindanlar ve düzeltmeler", "Yeni zindanlar."},
                  {400, 392, "Hafta sonu çift deneyim", "Duyuru"}};
    for (const auto& c : clicks) {
        h_->click(c.x, c.y);
        ASSERT_TRUE(message().visible) << c.title;
        EXPECT_EQ(message().title + "|" + message().messageText, std::string(c.title) + "|" + c.text);
        EXPECT_EQ(message().accentColor, 0xE2C27Au);
        h_->frame();
        h_->save("news_message");
        // The panel at (170, 160) ignores a click beside its button (340, 363, 120 x 28).
        h_->click(200, 300);
        EXPECT_TRUE(message().visible);
        h_->click(400, 377);
        EXPECT_FALSE(message().visible);
    }
    // With one item there are no rows to click.
    l().news.items = {kThreeItems[0]};
    h_->click(400, 369);
    EXPECT_FALSE(message().visible);

    showError(message(),
              "Birinci satır\nİkinci satır çok uzun bir cümle ki kelime kelime sarılarak alt "
              "satırlara iner ve sonunda kutunun altında kesilir; beşinci satır görünmemeli, altıncı da.");
    h_->frame();
    h_->save("message_error");
}

TEST_F(MainScreen, StartOnlyWhenTheUpdateIsDoneSettingsAndTheCloseButton) {
    setState(Checking); // which states disable START: StartAndRestart
    h_->click(424, 534);
    EXPECT_EQ(l().screens.state.activeModal, Modal::None);
    setState(UpToDate);
    l().screens.login.username.text = "arda";
    h_->click(424, 534);
    EXPECT_EQ(l().screens.state.activeModal, Modal::Login);
    EXPECT_EQ(l().ui.focus, &l().screens.login.password);
    l().screens.state.activeModal = Modal::None;
    h_->click(706, 535); // AYARLAR
    EXPECT_EQ(l().screens.state.activeModal, Modal::Settings);
    l().screens.state.activeModal = Modal::None;
    EXPECT_FALSE(glfwWindowShouldClose(l().window));
    h_->click(774, 26);
    EXPECT_TRUE(glfwWindowShouldClose(l().window));
}

// A press no widget took drags the window by the cursor's movement; a press on a widget (the
// news banner) never does, wherever the cursor then goes.
TEST_F(MainScreen, OnlyAPressOnEmptySpaceDragsTheWindow) {
    int x0 = 0, y0 = 0, x = 0, y = 0;
    glfwGetWindowPos(l().window, &x0, &y0);
    for (const auto& [px, py, drags] : {std::tuple{600.f, 200.f, false}, {100.f, 100.f, true}}) {
        h_->moveMouse(px, py);
        queueMouseButton(l().ui, GLFW_MOUSE_BUTTON_LEFT, GLFW_PRESS);
        h_->frame();
        h_->moveMouse(px + 50, py + 30);
        h_->frame();
        EXPECT_EQ(l().drag.dragging, drags) << px;
        ASSERT_TRUE(screentest::waitFor(
            [&] {
                return glfwGetWindowPos(l().window, &x, &y), x == x0 + 50 * drags && y == y0 + 30 * drags;
            },
            5))
            << px << ": " << x << "," << y;
        queueMouseButton(l().ui, GLFW_MOUSE_BUTTON_LEFT, GLFW_RELEASE);
        h_->frame();
        EXPECT_FALSE(l().drag.dragging);
    }
}

TEST_F(MainScreen, MissingLinksGiveTheNotice) {
    configSet(l().config, keys::kDiscord, "discord.gg/morlaken"); // no scheme
    // WEB SİTESİ (nothing configured), DC, YT, TW.
    for (auto [x, y] : {std::pair{565.f, 535.f}, {489.f, 340.f}, {527.f, 340.f}, {641.f, 340.f}}) {
        hideMessage(message());
        h_->click(x, y);
        EXPECT_EQ(message().visible ? message().messageText : "", kNotReady) << x;
    }
}

TEST_F(MainScreen, RetryClickShowsTheErrorAndStartsANewPass) {
    setState(Failed);
    setServerVersion("", "Güncelleme sunucusuna ulaşılamadı (sunucuya ulasilamadi).");
    // Clicking outside the failure line does nothing; on it, a retry: the error, and a new
    // pass (with no update address configured it is over at once).
    h_->click(300, 426);
    for (int i = 0; i < 20; ++i) // and no frame retries on its own
        pumpFrame(l());
    EXPECT_EQ(l().update.state.load(), Failed);
    EXPECT_FALSE(message().visible);
    h_->click(700, 426);
    ASSERT_TRUE(message().visible);
    EXPECT_EQ(message().title, "HATA");
    EXPECT_EQ(message().messageText,
              "Güncelleme sunucusuna ulaşılamadı (sunucuya ulasilamadi).\n\nTekrar deneniyor.");
    EXPECT_EQ(l().update.state.load(), UpToDate);
    hideMessage(message());
    setServerVersion("0.2.0-test"); // what the new pass's list says
    h_->frame();
    h_->save("retry_uptodate");

    // In any other state the line is not clickable.
    h_->click(700, 426);
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
    h_->frame();
    glfwSwapBuffers(l().window); // the resized window's buffers follow its size from here on
    h_->frame();
    h_->save("kapanis_ekrani");
    EXPECT_FALSE(l().screens.state.closeRequested);
    // The window is 1280 x 640, filled with "kapanis.jpg", the logo over its corner.
    int w = 0, h = 0, n = 0;
    glfwGetFramebufferSize(l().window, &w, &h);
    EXPECT_TRUE(w == 1280 && h == 640) << w << " x " << h;
    stbi_uc* art = stbi_load((h_->gameFolder() / "veri/kapanis.jpg").c_str(), &w, &h, &n, 3);
    ASSERT_TRUE(art && w == 1280);
    const auto meanDiff = [&](int x0, int y0, int x1, int y1) {
        const std::vector<Rgb> shown = h_->grab(x0, y0, x1 - x0, y1 - y0);
        long sum = 0;
        for (size_t i = 0; i < shown.size(); ++i) {
            const stbi_uc* a = art + ((y0 + i / (x1 - x0)) * w + x0 + i % (x1 - x0)) * 3;
            sum += std::abs(shown[i].r - a[0]) + std::abs(shown[i].g - a[1]) + std::abs(shown[i].b - a[2]);
        }
        return static_cast<double>(sum) / static_cast<double>(shown.size());
    };
    EXPECT_LT(meanDiff(40, 40, 800, 380), 2.0);    // the picture itself
    EXPECT_GT(meanDiff(900, 440, 1160, 560), 8.0); // the logo drawn over it
    stbi_image_free(art);
    l().screens.state.closingStart -= kClosingSeconds + 0.1;
    h_->frame();
    EXPECT_TRUE(l().screens.state.closeRequested);
}

} // namespace
