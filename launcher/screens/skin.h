// skin.h - the launcher's look: its images under veri/, its two button sets and the kinds
// of button made from them, and the frame both modal dialogs share (dimmed window, panel,
// title).
//
// Index
//   ---- images ----        LauncherImages, Skin, startDecodingSkin, waitForSkinDecoding,
//                           loadSkin, finishSkinDecoding, loadClosingImage
//   ---- buttons ----       ButtonKind, buttonStyle
//   ---- dialog frame ----  the shared layout, drawDialogFrame
// Main thread only, but for the decoding thread (startDecodingSkin).
#pragma once

#include "gfx/frame.h"
#include "gfx/texture.h"
#include "gfx/ui.h"
#include "gfx/widgets.h"

#include <string_view>

// ---- images ----

// One Texture per file under veri/ (a missing file stays the zero Texture and draws
// nothing).
struct LauncherImages {
    Texture background;      // "arkaplan.jpg"
    Texture logo;            // "logo.png"
    Texture closeButton;     // "buton_kapat.png"
    Texture box;             // "kutu.png"
    Texture banner;          // "afis.jpg"
    Texture barFrame;        // "bar_cerceve.png"
    Texture barFill;         // "bar_dolgu.png"
    Texture fieldBackground; // "alan_yazi.png"
    Texture checkEmpty;      // "onay_bos.png"
    Texture checkFull;       // "onay_dolu.png"
    Texture closingImage;    // "kapanis.jpg", loaded when the closing screen first shows
};

// The launcher's skin; owned by the app's Launcher.
struct Skin {
    LauncherImages images;
    ButtonSkin mainButtons;     // "buton_ana_normal.png", "buton_ana_hover.png", "buton_ana_basili.png"
    ButtonSkin ordinaryButtons; // "buton_normal.png", "buton_hover.png", "buton_basili.png"
    ImageBatch decoding;        // the files decoded ahead at start-up
};

inline constexpr const char* kClosingImage = "kapanis.jpg";

// Start-up, before the window exists: decodes the ten screen images and the two button
// sets, in that order, on a background thread. Optional.
void startDecodingSkin(Skin& skin);
// Returns once that decoding is over (at once when none runs). Any thread.
void waitForSkinDecoding(const Skin& skin);
// Uploads the images in start-up order (decoding them here when they were not decoded
// ahead); a file that fails to load writes its "gorsel yuklenemedi" line. GL thread.
void loadSkin(Skin& skin);
// A start-up that ends before the window exists: waits for the decoding and drops it.
void finishSkinDecoding(Skin& skin);
// "kapanis.jpg", the first time the closing screen shows.
void loadClosingImage(Skin& skin);

// ---- buttons ----

enum class ButtonKind {
    Start,   // START: the main set, large gold label
    Small,   // WEB SİTESİ, AYARLAR: the ordinary set
    Cancel,  // İPTAL and TAMAM: the ordinary set, plain label
    Confirm, // GİRİŞ, KAYDET: the main set
};
ButtonStyle buttonStyle(const Skin& skin, ButtonKind kind);
// The font of a kind's label (to prepare its atlas before the skin is loaded).
FontRequest buttonFont(ButtonKind kind);

// ---- dialog frame ----

inline constexpr Rect kDialogPanel = {160, 130, 480, 330};
inline constexpr Rect kDialogCancel = {272, 361, 120, 28};
inline constexpr Rect kDialogConfirm = {408, 355, 120, 40};
inline constexpr float kDialogFieldX = 260;
// A box of no width centred on the panel's middle: texts centred there are placed at
// 400 - width / 2.
inline constexpr float kDialogCentreX = 400;
inline constexpr float kDialogDim = 0.6f; // the main screen under a dialog, darkened

// The window dimmed, the panel ("kutu.png") and the title (gold display font, centred in
// `titleBox`), on the Dialog layer, which the rest of the dialog then draws on.
void drawDialogFrame(Ui& ui, const Skin& skin, std::string_view title, const Rect& titleBox);
