// images.cpp - the launcher's image set: one Texture per file under veri/, loaded once.
//
// Index
//   ---- image table ----
//   ---- loading ----
#include "gfx/texture.h"
#include "gfx/widgets.h"

#include <atomic>
#include <iterator>
#include <thread>

// ---- image table ----

LauncherImages& images() {
    static LauncherImages set;
    return set;
}

namespace {
struct NamedImage {
    const char* file;
    Texture* (*slot)();
};

// Start-up order: the ten screen images, then the main and the ordinary button skins.
constexpr NamedImage kImageTable[] = {
    {"arkaplan.jpg", [] { return &images().background; }},
    {"logo.png", [] { return &images().logo; }},
    {"buton_kapat.png", [] { return &images().closeButton; }},
    {"kutu.png", [] { return &images().box; }},
    {"afis.jpg", [] { return &images().banner; }},
    {"bar_cerceve.png", [] { return &images().barFrame; }},
    {"bar_dolgu.png", [] { return &images().barFill; }},
    {"alan_yazi.png", [] { return &images().fieldBackground; }},
    {"onay_bos.png", [] { return &images().checkEmpty; }},
    {"onay_dolu.png", [] { return &images().checkFull; }},
    {"buton_ana_normal.png", [] { return &mainButtonSkin().normal; }},
    {"buton_ana_hover.png", [] { return &mainButtonSkin().hover; }},
    {"buton_ana_basili.png", [] { return &mainButtonSkin().pressed; }},
    {"buton_normal.png", [] { return &ordinaryButtonSkin().normal; }},
    {"buton_hover.png", [] { return &ordinaryButtonSkin().hover; }},
    {"buton_basili.png", [] { return &ordinaryButtonSkin().pressed; }},
};
} // namespace

const Texture& imageByName(std::string_view fileName) {
    for (const NamedImage& entry : kImageTable)
        if (fileName == entry.file) return *entry.slot();
    if (fileName == "kapanis.jpg") return images().closingImage;
    static const Texture kNone;
    return kNone;
}

// ---- loading ----

namespace {
struct Decoding {
    std::vector<DecodedImage> images; // written by the worker, read after the join
    std::atomic<bool> busy{false};    // from start until the worker has decoded everything
    std::jthread worker;              // joined before `images` is touched, or at exit
};
Decoding gDecoding;

void decodeAll(std::vector<DecodedImage>& out) {
    out.clear();
    for (const NamedImage& entry : kImageTable)
        out.push_back(decodeImageFile(entry.file));
}
} // namespace

void startDecodingLauncherImages() {
    if (gDecoding.worker.joinable()) return;
    gDecoding.busy = true;
    gDecoding.worker = std::jthread([] {
        decodeAll(gDecoding.images);
        gDecoding.busy = false;
        gDecoding.busy.notify_all();
    });
}

void waitForImageDecoding() {
    gDecoding.busy.wait(true);
}

void finishImageDecoding() {
    if (gDecoding.worker.joinable()) gDecoding.worker.join();
    gDecoding.images = {};
}

void loadLauncherImages() {
    if (gDecoding.worker.joinable())
        gDecoding.worker.join();
    else
        decodeAll(gDecoding.images);
    for (size_t i = 0; i < std::size(kImageTable) && i < gDecoding.images.size(); ++i)
        *kImageTable[i].slot() = uploadImage(gDecoding.images[i]);
    gDecoding.images = {}; // the CPU copies go as soon as the GL has its own
}
