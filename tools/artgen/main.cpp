// artgen - paints every image of the launcher's veri/ folder.
//
//   artgen OUTDIR [FONTDIR]
//
// Writes the images into OUTDIR (created when missing). The lettering uses
// FONTDIR/Cinzel-Bold.ttf and FONTDIR/EBGaramond-Regular.ttf; FONTDIR defaults to
// OUTDIR/font, which is where the committed fonts live in veri/.
// The output is the same on every run: all noise comes from fixed seeds.
// Exit code 0 when every image was written, 1 on any failure, 2 on bad arguments.
#include "art.h"

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

namespace {

using artgen::ButtonLook;
using artgen::Canvas;

struct ImageJob {
    const char* name;
    std::function<Canvas(const artgen::Fonts&)> paint;
};

// ---- tunables ----
constexpr int kJpegQuality = 90;

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: artgen OUTDIR [FONTDIR]\n");
        return 2;
    }
    const std::filesystem::path outDir = argv[1];
    const std::filesystem::path fontDir = argc == 3 ? std::filesystem::path(argv[2]) : outDir / "font";

    std::error_code ec;
    std::filesystem::create_directories(outDir, ec);
    if (ec) {
        std::fprintf(stderr, "artgen: cannot create %s: %s\n", outDir.string().c_str(), ec.message().c_str());
        return 1;
    }
    artgen::Fonts fonts;
    const std::string displayPath = (fontDir / "Cinzel-Bold.ttf").string();
    const std::string bodyPath = (fontDir / "EBGaramond-Regular.ttf").string();
    if (!fonts.display.load(displayPath)) {
        std::fprintf(stderr, "artgen: cannot read font %s\n", displayPath.c_str());
        return 1;
    }
    if (!fonts.body.load(bodyPath)) {
        std::fprintf(stderr, "artgen: cannot read font %s\n", bodyPath.c_str());
        return 1;
    }

    const ImageJob jobs[] = {
        {"arkaplan.jpg", [](const artgen::Fonts&) { return artgen::paintBackground(); }},
        {"logo.png", [](const artgen::Fonts& f) { return artgen::paintLogo(f); }},
        {"buton_kapat.png", [](const artgen::Fonts&) { return artgen::paintCloseButton(); }},
        {"kutu.png", [](const artgen::Fonts&) { return artgen::paintPanel(); }},
        {"afis.jpg", [](const artgen::Fonts&) { return artgen::paintBanner(); }},
        {"bar_cerceve.png", [](const artgen::Fonts&) { return artgen::paintBarFrame(); }},
        {"bar_dolgu.png", [](const artgen::Fonts&) { return artgen::paintBarFill(); }},
        {"alan_yazi.png", [](const artgen::Fonts&) { return artgen::paintTextField(); }},
        {"onay_bos.png", [](const artgen::Fonts&) { return artgen::paintCheckBox(false); }},
        {"onay_dolu.png", [](const artgen::Fonts&) { return artgen::paintCheckBox(true); }},
        {"buton_ana_normal.png",
         [](const artgen::Fonts&) { return artgen::paintMainButton(ButtonLook::Normal); }},
        {"buton_ana_hover.png",
         [](const artgen::Fonts&) { return artgen::paintMainButton(ButtonLook::Hover); }},
        {"buton_ana_basili.png",
         [](const artgen::Fonts&) { return artgen::paintMainButton(ButtonLook::Pressed); }},
        {"buton_normal.png", [](const artgen::Fonts&) { return artgen::paintButton(ButtonLook::Normal); }},
        {"buton_hover.png", [](const artgen::Fonts&) { return artgen::paintButton(ButtonLook::Hover); }},
        {"buton_basili.png", [](const artgen::Fonts&) { return artgen::paintButton(ButtonLook::Pressed); }},
        {"kapanis.jpg", [](const artgen::Fonts& f) { return artgen::paintClosing(f); }},
    };

    int failures = 0;
    for (const ImageJob& job : jobs) {
        Canvas canvas = job.paint(fonts);
        // Written beside the target and renamed over it, so an interrupted run never
        // leaves a truncated image where the launcher will look for it.
        const std::string path = (outDir / job.name).string();
        const std::string temp = path + ".yeni";
        bool ok = path.ends_with(".jpg") ? artgen::writeJpg(canvas, temp, kJpegQuality)
                                         : artgen::writePng(canvas, temp);
        std::error_code renameError;
        if (ok) std::filesystem::rename(temp, path, renameError);
        if (!ok || renameError) {
            std::filesystem::remove(temp, renameError);
            std::fprintf(stderr, "artgen: cannot write %s\n", path.c_str());
            ++failures;
            continue;
        }
        std::printf("%s %dx%d\n", path.c_str(), canvas.width(), canvas.height());
    }
    // The program icon of the Windows build, every size in one file.
    std::vector<Canvas> icons;
    for (int size : artgen::kIconSizes)
        icons.push_back(artgen::paintIcon(fonts, size));
    const std::string iconPath = (outDir / "ikon.ico").string();
    std::error_code iconError;
    if (artgen::writeIco(icons, iconPath + ".yeni")) {
        std::filesystem::rename(iconPath + ".yeni", iconPath, iconError);
    } else {
        iconError = std::make_error_code(std::errc::io_error);
    }
    if (iconError) {
        std::filesystem::remove(iconPath + ".yeni", iconError);
        std::fprintf(stderr, "artgen: cannot write %s\n", iconPath.c_str());
        ++failures;
    } else {
        std::printf("%s %zu sizes\n", iconPath.c_str(), icons.size());
    }
    return failures == 0 ? 0 : 1;
}
