// main_screen.cpp - the launcher's main screen, drawn and hit-tested once per frame.
//
// Index
//   ---- server state ----             serverStatus
//   ---- texts and rules ----          formatSize, updateStatusText, updateProgress,
//                                      footerText, startDisabled, startBlockedByLogin,
//                                      retryUpdate, restartAllowed
//   ---- drawing helpers ----          centredBaseline, textRightAligned
//   ---- screen parts ----             art and close button, news box, social buttons,
//                                      headlines, status line, progress bar, buttons, footer
//   ---- the screen ----               drawMainScreen
//
// The screen keeps no state between frames. The per-frame texts are formatted into
// fixed buffers, so an idle frame allocates nothing.
#include "screens/main_screen.h"

#include "config/config.h"
#include "gfx/font.h"
#include "gfx/palette.h"
#include "gfx/texture.h"
#include "gfx/widgets.h"
#include "news/news.h"
#include "platform/platform.h"
#include "screens/dialogs.h"
#include "screens/links.h"
#include "screens/login_dialog.h"
#include "screens/message_dialog.h"
#include "screens/ui_state.h"
#include "update/pass.h"
#include "version.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

// ---- tunables ----
namespace {
constexpr InputLayer kLayer = InputLayer::MainScreen; // every widget of this screen

constexpr FontRequest kNewsFont = {FontFamily::Body, 15};
constexpr FontRequest kStatusFont = {FontFamily::Body, 13};
constexpr FontRequest kFooterFont = {FontFamily::Body, 11};
constexpr FontRequest kSocialFont = {FontFamily::Display, 11};
constexpr FontRequest kCaptionFont = {FontFamily::Display, 20};

constexpr uint32_t kCaptionColor = 0xF2E6C4;
constexpr uint32_t kSocialColor = 0xE8D7A8;
constexpr uint32_t kHeadlineColor = 0xECE4CF;
constexpr uint32_t kStatusColor = 0xF0E6CC;
constexpr uint32_t kFailedColor = 0xE08A7A;
constexpr uint32_t kFailedHoverColor = 0xFFB8A8;
constexpr uint32_t kFooterColor = 0xA89F8A;

constexpr ButtonStyle kStartStyle = {mainButtonSkin, FontFamily::Display, 16, 0xFBE3C2, 2.0f};
constexpr ButtonStyle kSmallStyle = {ordinaryButtonSkin, FontFamily::Display, 12, palette::kButtonLabel,
                                     1.0f};

// Banner and its caption band.
constexpr float kBannerX = 392, kBannerY = 102, kBannerW = 346, kBannerH = 176;
constexpr float kCaptionY = 242, kCaptionH = 36;
constexpr float kCaptionTextX = 404, kCaptionTextW = 334;

// Headline rows and the placeholder line.
constexpr float kRowX = 380, kRowW = 370, kRowH = 19, kRowTop = 360, kRowStep = 23;
constexpr float kTagRight = 750, kTagGap = 12;

// Status line, its retry area and the progress bar.
constexpr float kStatusRight = 770, kStatusCentreY = 426.5f;
constexpr float kRetryX = 380, kRetryY = 416, kRetryW = 390, kRetryH = 21;
constexpr float kFillX = 407, kFillY = 456, kFillW = 316, kFillH = 22;

constexpr double kMiB = 1048576.0;
constexpr double kGiB = 1073741824.0;
constexpr double kHundredMiB = 104857600.0;

constexpr const char* kRetrySuffix = "\n\nTekrar deneniyor.";

struct SocialLink {
    const char* label;
    const char* key; // widget id and configuration key
};
constexpr SocialLink kSocialLinks[5] = {
    {"DC", "discord"}, {"YT", "youtube"}, {"IG", "instagram"}, {"X", "x"}, {"TW", "twitch"},
};
constexpr const char* kHeadlineIds[2] = {"haber1", "haber2"};
} // namespace

std::vector<FontRequest> mainScreenFonts() {
    return {kCaptionFont,
            kSocialFont,
            kNewsFont,
            kStatusFont,
            {kStartStyle.family, kStartStyle.fontSize},
            {kSmallStyle.family, kSmallStyle.fontSize},
            kFooterFont};
}

// ---- server state ----

ServerStatus& serverStatus() {
    return serverLink().serverStatus;
}

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

size_t updateStatusText(const UpdateProgress& progress, char* out, size_t outSize) {
    if (outSize == 0) return 0;
    const char* fixed = nullptr;
    switch (progress.state) {
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
        const int32_t filesTotal = progress.filesTotal;
        const int64_t current = std::min<int64_t>(filesTotal, static_cast<int64_t>(progress.filesDone) + 1);
        char done[32], total[32], rate[32];
        formatSize(static_cast<double>(progress.bytesDone), done, sizeof done);
        formatSize(static_cast<double>(progress.bytesTotal), total, sizeof total);
        if (progress.speed > 1.0) {
            formatSize(static_cast<double>(static_cast<int64_t>(progress.speed)), rate, sizeof rate);
            n = std::snprintf(out, outSize, "İndiriliyor %lld/%d · %s / %s · %s/sn",
                              static_cast<long long>(current), filesTotal, done, total, rate);
        } else {
            n = std::snprintf(out, outSize, "İndiriliyor %lld/%d · %s / %s", static_cast<long long>(current),
                              filesTotal, done, total);
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

float updateProgress(UpdateState state, int64_t bytesDone, int64_t bytesTotal) {
    switch (state) {
    case UpdateState::Downloading:
        if (bytesTotal <= 0 || bytesDone <= 0) return 0.0f;
        return static_cast<float>(
            std::min(1.0, static_cast<double>(bytesDone) / static_cast<double>(bytesTotal)));
    case UpdateState::UpToDate:
    case UpdateState::RestartPending:
        return 1.0f;
    default:
        return 0.0f;
    }
}

namespace {
// Writes the footer into `out`, reusing its capacity.
void assignFooter(std::string& out, const std::string& serverVersion, ServerStatus status) {
    out.assign("Sürüm ");
    out.append(serverVersion.empty() ? std::string_view(kLauncherVersion) : std::string_view(serverVersion));
    out.append(" · Sunucu ");
    out.append(status == ServerStatus::Online ? "Açık" : status == ServerStatus::Offline ? "Kapalı" : "Bağlanıyor");
}
} // namespace

std::string footerText(const std::string& serverVersion, ServerStatus status) {
    std::string text;
    assignFooter(text, serverVersion, status);
    return text;
}

bool startBlockedByLogin() {
    return loginBusy(); // an account login or a login over the game server
}

bool startDisabled(UpdateState updateState, bool loginBlocked) {
    return updateState == UpdateState::NotStarted || updateState == UpdateState::Checking ||
           updateState == UpdateState::Downloading || updateState == UpdateState::RestartPending ||
           loginBlocked;
}

void retryUpdate(UpdateStatus& update) {
    std::string error;
    copyUpdateError(update, error);
    showError(error + kRetrySuffix);
    startUpdate(update, configGet("guncelleme", ""), platform::launcherFileName());
}

bool restartAllowed(UpdateState updateState, GameState gameState, Modal activeModal) {
    return updateState == UpdateState::RestartPending && gameState == GameState::NotRunning &&
           activeModal != Modal::Login;
}

// ---- drawing helpers ----

namespace {
// Baseline of a text centred on y = centre.
float centredBaseline(const FontAtlas& font, float centre) {
    return centre + (font.ascent + font.descent) * 0.5f;
}

void textRightAligned(const FontAtlas& font, float right, float centreY, std::string_view text,
                      uint32_t color, Shadow shadow) {
    const float w = textWidth(font, text, 0.0f);
    drawText(font, nearest(right - w), centredBaseline(font, centreY), text, color, 0.0f, shadow, 1.0f);
}

void showNewsItem(const NewsItem& item) {
    showMessage(item.title, item.body.empty() ? item.tag : item.body, palette::kGold);
}

// ---- screen parts ----

void drawArtAndCloseButton() {
    const LauncherImages& im = images();
    drawTexture(im.background, 0, 0, 800, 610, 1.0f);
    drawTexture(im.logo, 14, 416, 320, 168, 1.0f);

    bool hovered = false, held = false;
    if (hotArea("kapat", kLayer, 756, 8, 36, 36, &hovered, &held)) ui().closeRequested = true;
    const float grow = hovered ? 2.0f : 0.0f;
    drawTexture(im.closeButton, 756 - grow, 8 - grow, 36 + 2 * grow, 36 + 2 * grow, held ? 0.8f : 1.0f);
}

void drawNewsBox(const std::vector<NewsItem>& news) {
    const LauncherImages& im = images();
    drawTexture(im.box, 350, 48, 430, 271, 1.0f);
    drawTexture(im.banner, kBannerX, kBannerY, kBannerW, kBannerH, 1.0f);
    fillRect(kBannerX, kCaptionY, kBannerW, kCaptionH, palette::kBlack, 0.0f, 0.85f);

    if (hotArea("afis", kLayer, kBannerX, kBannerY, kBannerW, kBannerH) && !news.empty())
        showNewsItem(news[0]);

    setClip(kBannerX, kCaptionY, kBannerW, kCaptionH);
    const std::string_view caption = news.empty() ? std::string_view("Morlaken Online") : news[0].title;
    drawTextInBox(getFont(kCaptionFont), kCaptionTextX, kCaptionY, kCaptionTextW, kCaptionH, caption,
                  kCaptionColor, Align::Left, 0.0f, Shadow::Drop);
    endClip();
}

void drawSocialButtons() {
    const FontAtlas& font = getFont(kSocialFont);
    for (int i = 0; i < 5; ++i) {
        const SocialLink& link = kSocialLinks[i];
        const float x = 475.0f + 38.0f * static_cast<float>(i);
        bool hovered = false;
        if (hotArea(link.key, kLayer, x, 326, 28, 28, &hovered)) openLink(configGet(link.key, ""));
        const float w = textWidth(font, link.label, 0.0f);
        drawText(font, nearest(x + (28.0f - w) * 0.5f), centredBaseline(font, 340), link.label,
                 hovered ? palette::kGoldHover : kSocialColor, 0.0f, Shadow::Drop, 1.0f);
    }
}

void drawHeadlines(const std::vector<NewsItem>& news) {
    const FontAtlas& font = getFont(kNewsFont);
    if (news.size() < 2) {
        const ServerStatus status = serverStatus();
        const char* placeholder = status == ServerStatus::Connecting ? "Haberler yükleniyor..."
                                  : status == ServerStatus::Offline ? "Sunucuya ulaşılamadı, haberler yüklenemedi."
                                                            : nullptr;
        if (placeholder)
            drawTextInBox(font, kRowX, kRowTop, kRowW, kRowH, placeholder, palette::kMuted, Align::Left, 0.0f,
                          Shadow::Halo);
        return;
    }
    for (size_t k = 1; k <= 2 && k < news.size(); ++k) {
        const NewsItem& item = news[k];
        const float y = kRowTop + kRowStep * static_cast<float>(k - 1);
        bool hovered = false;
        if (hotArea(kHeadlineIds[k - 1], kLayer, kRowX, y, kRowW, kRowH, &hovered)) showNewsItem(item);
        const float tagWidth = textWidth(font, item.tag, 0.0f);
        // A tag wider than the row would give a negative clip width, which OpenGL
        // refuses (the previous clip would stay); the title then simply has no room.
        const float clipWidth = std::max(0.0f, kRowW - tagWidth - kTagGap);
        setClip(kRowX, y - 2, clipWidth, kRowStep);
        drawTextInBox(font, kRowX, y, kRowW, kRowH, item.title,
                      hovered ? palette::kGoldHover : kHeadlineColor, Align::Left, 0.0f, Shadow::Halo);
        endClip();
        drawText(font, nearest(kTagRight - tagWidth), centredBaseline(font, y + 9.5f), item.tag,
                 palette::kMuted, 0.0f, Shadow::Halo, 1.0f);
    }
}

void drawStatusLineAndBar(UpdateStatus& update, const UpdateProgress& progress) {
    const UpdateState state = progress.state;

    uint32_t color = kStatusColor;
    if (state == UpdateState::Failed) {
        bool hovered = false;
        const bool clicked = hotArea("guncel", kLayer, kRetryX, kRetryY, kRetryW, kRetryH, &hovered);
        color = hovered ? kFailedHoverColor : kFailedColor;
        if (clicked) retryUpdate(update);
    }
    char text[256];
    const size_t n = updateStatusText(progress, text, sizeof text);
    textRightAligned(getFont(kStatusFont), kStatusRight, kStatusCentreY, std::string_view(text, n), color,
                     Shadow::Drop);

    // The fill image is revealed from the left by the clip, never stretched.
    const float fraction = updateProgress(state, progress.bytesDone, progress.bytesTotal);
    const LauncherImages& im = images();
    if (fraction > 0.0f) {
        setClip(kFillX, kFillY, kFillW * fraction, kFillH);
        drawTexture(im.barFill, kFillX, kFillY, kFillW, kFillH, 1.0f);
        endClip();
    }
    drawTexture(im.barFrame, 355, 432, 420, 70, 1.0f);
}

void drawButtons(UpdateState updateState) {
    const bool disabled = startDisabled(updateState, startBlockedByLogin());
    if (button("start", kLayer, 356, 512, 136, 45, "START", kStartStyle, disabled)) openLoginDialog();
    if (button("web", kLayer, 497, 519, 136, 32, "WEB SİTESİ", kSmallStyle)) openLink(configGet("web", ""));
    if (button("ayar", kLayer, 638, 519, 136, 32, "AYARLAR", kSmallStyle)) openSettingsDialog();
}

void drawFooter(const UpdateStatus& update) {
    // Reused buffers: a version text of any length costs an allocation only when it grows.
    static std::string version;
    static std::string footer;
    copyServerVersion(update, version);
    assignFooter(footer, version, serverStatus());
    textRightAligned(getFont(kFooterFont), 776, 591, footer, kFooterColor, Shadow::Drop);
}
} // namespace

// ---- the screen ----

void drawMainScreen(UpdateStatus& update, const UpdateProgress& progress) {
    const std::vector<NewsItem>& news = newsList();
    drawArtAndCloseButton();
    drawNewsBox(news);
    drawSocialButtons();
    drawHeadlines(news);
    drawStatusLineAndBar(update, progress);
    drawButtons(progress.state);
    drawFooter(update);
}
