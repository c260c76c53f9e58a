// main_screen.cpp - the launcher's main screen, drawn and hit-tested once per frame.
//
// Index
//   ---- layout ----                   the screen's rectangles, styles and links
//   ---- texts and rules ----          formatSize, updateStatusText, progressFraction,
//                                      footerText, startDisabled, restartAllowed,
//                                      retryUpdate, showNewsItem
//   ---- screen parts ----             art and close button, news box, social buttons,
//                                      headlines, status line, progress bar, buttons, footer
//   ---- the screen ----               drawMainScreen, mainScreenKey, mainScreenFonts
//
// The per-frame texts are formatted into fixed buffers or reused strings, so an idle frame
// allocates nothing.
#include "screens/main_screen.h"

#include "config/config.h"
#include "gfx/palette.h"
#include "gfx/texture.h"
#include "gfx/widgets.h"
#include "platform/platform.h"
#include "screens/message_dialog.h"
#include "screens/skin.h"
#include "update/pass.h"

#include <GLFW/glfw3.h>

#include <algorithm>
#include <cstdio>

// ---- layout ----
namespace {

// Art and the close button, which grows by 2 px on every side while hovered.
constexpr Rect kBackground = {0, 0, kLauncherWidth, kLauncherHeight};
constexpr Rect kLogo = {14, 416, 320, 168};
constexpr Rect kCloseButton = {756, 8, 36, 36};
constexpr float kCloseGrow = 2, kCloseHeldOpacity = 0.8f;

// The news box, its banner and the caption band over the banner's foot.
constexpr Rect kNewsBox = {350, 48, 430, 271};
constexpr Rect kBanner = {392, 102, 346, 176};
constexpr Rect kCaptionBand = {392, 242, 346, 36};
constexpr Rect kCaptionText = {404, 242, 334, 36};
constexpr float kCaptionBandOpacity = 0.85f; // at its foot; clear at its top
constexpr const char* kNoNewsCaption = "Morlaken Online";

// Social buttons: a row of squares, one every kSocialStep pixels.
constexpr Rect kFirstSocial = {475, 326, 28, 28};
constexpr float kSocialStep = 38;

// Headline rows (news items 1 and 2) and the placeholder in the first one. A row's title
// is clipped kTagGap pixels before its tag, from 2 px above the row over one step.
constexpr Rect kFirstRow = {380, 360, 370, 19};
constexpr float kRowStep = 23, kTagGap = 12, kRowClipAbove = 2;

// The status line (right-aligned in its area, which is the retry click's too) and the
// progress bar, whose fill is revealed from the left by a clip, never stretched.
constexpr Rect kStatusLine = {380, 416, 390, 21};
constexpr Rect kBarFill = {407, 456, 316, 22};
constexpr Rect kBarFrame = {355, 432, 420, 70};

constexpr Rect kStartButton = {356, 512, 136, 45};
constexpr Rect kWebButton = {497, 519, 136, 32};
constexpr Rect kSettingsButton = {638, 519, 136, 32};

// The footer, right-aligned at x = 776 and centred on y = 591.
constexpr Rect kFooter = {0, 581, 776, 20};

constexpr TextStyle kCaptionStyle = {{FontFamily::Display, 20}, 0xF2E6C4, 0, Shadow::Drop, Align::Left};
constexpr TextStyle kSocialStyle = {{FontFamily::Display, 11}, 0xE8D7A8, 0, Shadow::Drop, Align::Centre};
constexpr TextStyle kHeadlineStyle = {{FontFamily::Body, 15}, 0xECE4CF, 0, Shadow::Halo, Align::Left};
constexpr TextStyle kTagStyle = {{FontFamily::Body, 15}, palette::kMuted, 0, Shadow::Halo, Align::Right};
constexpr TextStyle kStatusStyle = {{FontFamily::Body, 13}, 0xF0E6CC, 0, Shadow::Drop, Align::Right};
constexpr uint32_t kFailedColor = 0xE08A7A, kFailedHoverColor = 0xFFB8A8;
constexpr TextStyle kFooterStyle = {{FontFamily::Body, 11}, 0xA89F8A, 0, Shadow::Drop, Align::Right};

// The social buttons, left to right: their labels, and the keys of their addresses, whose
// names are the buttons' widget ids.
constexpr char kSocialLabels[][3] = {"DC", "YT", "IG", "X", "TW"};
const ConfigKey& socialKey(size_t i) {
    switch (i) {
    case 0:
        return keys::kDiscord;
    case 1:
        return keys::kYoutube;
    case 2:
        return keys::kInstagram;
    case 3:
        return keys::kX;
    default:
        return keys::kTwitch;
    }
}
constexpr char kHeadlineIds[][7] = {"haber1", "haber2"};

constexpr double kMiB = 1048576.0;
constexpr double kGiB = 1073741824.0;
constexpr double kHundredMiB = 100 * kMiB;

constexpr const char* kRetrySuffix = "\n\nTekrar deneniyor.";

Rect grown(const Rect& r, float by) {
    return {r.x - by, r.y - by, r.w + 2 * by, r.h + 2 * by};
}

} // namespace

// ---- texts and rules ----

size_t formatSize(double bytes, char* out, size_t outSize) {
    int n = 0;
    if (bytes < kGiB) {
        n = std::snprintf(out, outSize, bytes < kHundredMiB ? "%.1f MB" : "%.0f MB", bytes / kMiB);
    } else {
        n = std::snprintf(out, outSize, "%.2f GB", bytes / kGiB);
    }
    if (n < 0) n = 0;
    return std::min(static_cast<size_t>(n), outSize == 0 ? 0 : outSize - 1);
}

std::string formatSize(double bytes) {
    char buf[64];
    const size_t n = formatSize(bytes, buf, sizeof buf);
    return std::string(buf, n);
}

size_t updateStatusText(const UpdateProgress& p, char* out, size_t outSize) {
    if (outSize == 0) return 0;
    const char* fixed = nullptr;
    switch (p.state) {
    case UpdateState::NotStarted:
    case UpdateState::Checking:
        fixed = "Güncellemeler denetleniyor...";
        break;
    case UpdateState::UpToDate:
        fixed = "Oyun güncel";
        break;
    case UpdateState::Failed:
        fixed = "Güncelleme başarısız · tekrar dene";
        break;
    case UpdateState::RestartPending:
        fixed = "Launcher yenileniyor...";
        break;
    case UpdateState::Downloading:
        break;
    default:
        fixed = "";
        break; // a state the worker never writes shows nothing
    }
    int n = 0;
    if (fixed) {
        n = std::snprintf(out, outSize, "%s", fixed);
    } else {
        // The file being fetched is filesDone + 1, but the counter never passes the total:
        // while the last file arrives and after it is done it reads n/n.
        const int64_t current = std::min<int64_t>(p.filesTotal, static_cast<int64_t>(p.filesDone) + 1);
        char done[32], total[32], fetched[48] = "", rate[32];
        formatSize(static_cast<double>(p.bytesDone), done, sizeof done);
        formatSize(static_cast<double>(p.bytesTotal), total, sizeof total);
        // A patched file's reused bytes count as done; what came over the network is said
        // apart, only when some were reused.
        if (p.bytesFetched < p.bytesDone) {
            char size[32];
            formatSize(static_cast<double>(p.bytesFetched), size, sizeof size);
            std::snprintf(fetched, sizeof fetched, " · %s indirildi", size);
        }
        if (p.speed > 1.0) {
            formatSize(static_cast<double>(static_cast<int64_t>(p.speed)), rate, sizeof rate);
            n = std::snprintf(out, outSize, "İndiriliyor %lld/%d · %s / %s%s · %s/sn",
                              static_cast<long long>(current), p.filesTotal, done, total, fetched, rate);
        } else {
            n = std::snprintf(out, outSize, "İndiriliyor %lld/%d · %s / %s%s",
                              static_cast<long long>(current), p.filesTotal, done, total, fetched);
        }
    }
    if (n < 0) n = 0;
    return std::min(static_cast<size_t>(n), outSize - 1);
}

std::string updateStatusText(const UpdateProgress& progress) {
    char buf[256];
    const size_t n = updateStatusText(progress, buf, sizeof buf);
    return std::string(buf, n);
}

float progressFraction(const UpdateProgress& p) {
    switch (p.state) {
    case UpdateState::Downloading:
        if (p.bytesTotal <= 0 || p.bytesDone <= 0) return 0.0f;
        return static_cast<float>(
            std::min(1.0, static_cast<double>(p.bytesDone) / static_cast<double>(p.bytesTotal)));
    case UpdateState::UpToDate:
    case UpdateState::RestartPending:
        return 1.0f;
    default:
        return 0.0f;
    }
}

void footerText(const std::string& serverVersion, ServerStatus status, std::string& out) {
    out.assign("Sürüm ");
    out.append(serverVersion.empty() ? std::string_view(kLauncherVersion) : std::string_view(serverVersion));
    out.append(" · Sunucu ");
    out.append(status == ServerStatus::Online    ? "Açık"
               : status == ServerStatus::Offline ? "Kapalı"
                                                 : "Bağlanıyor");
}

bool startDisabled(UpdateState updateState, bool loginBusy) {
    return updateState == UpdateState::NotStarted || updateState == UpdateState::Checking ||
           updateState == UpdateState::Downloading || updateState == UpdateState::RestartPending || loginBusy;
}

bool restartAllowed(UpdateState updateState, GameState gameState, Modal activeModal) {
    return updateState == UpdateState::RestartPending && gameState == GameState::NotRunning &&
           activeModal != Modal::Login;
}

void retryUpdate(UpdateStatus& update, const Config& cfg, MessageDialog& message) {
    std::string error;
    copyUpdateError(update, error);
    showError(message, error + kRetrySuffix);
    startUpdate(update, configGet(cfg, keys::kUpdateBase), platform::launcherFileName());
}

void showNewsItem(MessageDialog& message, const NewsItem& item) {
    showMessage(message, item.title, item.body.empty() ? item.tag : item.body, palette::kGold);
}

// ---- screen parts ----

namespace {

void drawArtAndCloseButton(Ui& ui, const Skin& skin, MainScreenAction& action) {
    const LauncherImages& im = skin.images;
    drawTexture(im.background, kBackground);
    drawTexture(im.logo, kLogo);
    const HotResult close = hotArea(ui, "kapat", kCloseButton);
    if (close.clicked) action = {MainAction::Close};
    drawTexture(im.closeButton, grown(kCloseButton, close.hovered ? kCloseGrow : 0.0f),
                close.held ? kCloseHeldOpacity : 1.0f);
}

void drawNewsBox(Ui& ui, const Skin& skin, const std::vector<NewsItem>& news, MainScreenAction& action) {
    const LauncherImages& im = skin.images;
    drawTexture(im.box, kNewsBox);
    drawTexture(im.banner, kBanner);
    fillRect(kCaptionBand, palette::kBlack, 0.0f, kCaptionBandOpacity);

    if (hotArea(ui, "afis", kBanner).clicked && !news.empty()) action = {MainAction::ShowNews, nullptr, 0};

    setClip(ui.frame, kCaptionBand);
    drawTextInBox(ui, kCaptionStyle, kCaptionText,
                  news.empty() ? std::string_view(kNoNewsCaption) : news[0].title);
    endClip();
}

void drawSocialButtons(Ui& ui, MainScreenAction& action) {
    for (size_t i = 0; i < std::size(kSocialLabels); ++i) {
        const ConfigKey& key = socialKey(i);
        Rect r = kFirstSocial;
        r.x += kSocialStep * static_cast<float>(i);
        const HotResult hot = hotArea(ui, key.name, r);
        if (hot.clicked) action = {MainAction::OpenLink, &key};
        TextStyle style = kSocialStyle;
        if (hot.hovered) style.color = palette::kGoldHover;
        drawTextInBox(ui, style, r, kSocialLabels[i]);
    }
}

void drawHeadlines(Ui& ui, const std::vector<NewsItem>& news, ServerStatus status, MainScreenAction& action) {
    if (news.size() < 2) {
        const char* placeholder = status == ServerStatus::Connecting ? "Haberler yükleniyor..."
                                  : status == ServerStatus::Offline
                                      ? "Sunucuya ulaşılamadı, haberler yüklenemedi."
                                      : nullptr;
        TextStyle style = kHeadlineStyle;
        style.color = palette::kMuted;
        if (placeholder) drawTextInBox(ui, style, kFirstRow, placeholder);
        return;
    }
    for (size_t k = 1; k <= std::size(kHeadlineIds) && k < news.size(); ++k) {
        const NewsItem& item = news[k];
        Rect row = kFirstRow;
        row.y += kRowStep * static_cast<float>(k - 1);
        const HotResult hot = hotArea(ui, kHeadlineIds[k - 1], row);
        if (hot.clicked) action = {MainAction::ShowNews, nullptr, k};
        const float tagWidth = textWidth(ui, kTagStyle, item.tag);
        // A tag wider than the row would give a negative clip width, which OpenGL
        // refuses (the previous clip would stay); the title then simply has no room.
        setClip(ui.frame,
                {row.x, row.y - kRowClipAbove, std::max(0.0f, row.w - tagWidth - kTagGap), kRowStep});
        TextStyle title = kHeadlineStyle;
        if (hot.hovered) title.color = palette::kGoldHover;
        drawTextInBox(ui, title, row, item.title);
        endClip();
        drawTextInBox(ui, kTagStyle, row, item.tag);
    }
}

void drawStatusLineAndBar(Ui& ui, const Skin& skin, const UpdateProgress& progress,
                          MainScreenAction& action) {
    TextStyle style = kStatusStyle;
    if (progress.state == UpdateState::Failed) {
        const HotResult hot = hotArea(ui, "guncel", kStatusLine);
        style.color = hot.hovered ? kFailedHoverColor : kFailedColor;
        if (hot.clicked) action = {MainAction::RetryUpdate};
    }
    char text[256];
    const size_t n = updateStatusText(progress, text, sizeof text);
    drawTextInBox(ui, style, kStatusLine, std::string_view(text, n));

    const float fraction = progressFraction(progress);
    if (fraction > 0.0f) {
        setClip(ui.frame, {kBarFill.x, kBarFill.y, kBarFill.w * fraction, kBarFill.h});
        drawTexture(skin.images.barFill, kBarFill);
        endClip();
    }
    drawTexture(skin.images.barFrame, kBarFrame);
}

void drawButtons(Ui& ui, const Skin& skin, const MainScreenView& view, MainScreenAction& action) {
    const bool disabled = startDisabled(view.progress.state, view.loginBusy);
    if (button(ui, "start", kStartButton, "START", buttonStyle(skin, ButtonKind::Start), disabled))
        action = {MainAction::OpenLogin};
    const ButtonStyle small = buttonStyle(skin, ButtonKind::Small);
    if (button(ui, "web", kWebButton, "WEB SİTESİ", small)) action = {MainAction::OpenLink, &keys::kWeb};
    if (button(ui, "ayar", kSettingsButton, "AYARLAR", small)) action = {MainAction::OpenSettings};
}

} // namespace

// ---- the screen ----

MainScreenAction drawMainScreen(Ui& ui, const Skin& skin, MainScreen& main, const MainScreenView& view) {
    beginLayer(ui, InputLayer::MainScreen);
    MainScreenAction action;
    drawArtAndCloseButton(ui, skin, action);
    drawNewsBox(ui, skin, view.news, action);
    drawSocialButtons(ui, action);
    drawHeadlines(ui, view.news, view.serverStatus, action);
    drawStatusLineAndBar(ui, skin, view.progress, action);
    drawButtons(ui, skin, view, action);
    footerText(main.serverVersion, view.serverStatus, main.footer);
    drawTextInBox(ui, kFooterStyle, kFooter, main.footer);
    return action;
}

MainScreenAction mainScreenKey(const InputEvent& event) {
    if (event.kind == InputEvent::Kind::Key && event.action != GLFW_RELEASE && isEnter(event.key))
        return {MainAction::OpenLogin};
    return {};
}

std::vector<FontRequest> mainScreenFonts() {
    return {kCaptionStyle.font,
            kSocialStyle.font,
            kHeadlineStyle.font,
            kStatusStyle.font,
            buttonFont(ButtonKind::Start),
            buttonFont(ButtonKind::Small),
            kFooterStyle.font};
}
