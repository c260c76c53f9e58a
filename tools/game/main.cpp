// morlaken-game - the stand-in game the launcher starts in development, tests and the demo.
//
// It takes the ticket from MORLAKEN_BILET and the server address from MORLAKEN_SUNUCU, as
// the real game does, shows them (the ticket shortened) in a small window drawn with the
// launcher's fonts, or prints them when there is no display, records what it received and
// exits with the code and after the time its own configuration gives.
//
// Configuration: "morlaken-game.ini" beside the executable, key=value lines:
//   cikis_kodu=N   exit code (default 0)
//   sure=S         seconds before exiting, may be fractional (default 5); closing the
//                  window ends it earlier with the same code
//   kayit=FILE     record file, relative to the executable's folder (default
//                  "morlaken-game-kayit.txt")
//   pencere=0      never open a window (default: a window when a display is available)
// The record (written whole, then renamed into place) holds key=value lines: bilet,
// bilet_var (1 when MORLAKEN_BILET was set), sunucu, sunucu_var, klasor (the working
// folder it was started in), arguman_sayisi, then arguman1.. with each argument. It holds
// the whole ticket, so only its owner may read it (0600).
//
// Index
//   ---- configuration and record ----
//   ---- window ----
//   ---- main ----
#include "config/config.h"
#include "gfx/font.h"
#include "gfx/frame.h"
#include "gfx/palette.h"
#include "gfx/ui.h"
#include "platform/platform.h"

#include <GLFW/glfw3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

namespace fs = std::filesystem;

namespace {

// ---- configuration and record ----

constexpr const char* kConfigName = "morlaken-game.ini";
constexpr const char* kDefaultRecord = "morlaken-game-kayit.txt";
constexpr int kWindowWidth = 640, kWindowHeight = 220;

std::string envText(const char* name, bool& outSet) {
    const char* v = std::getenv(name);
    outSet = v != nullptr;
    return v ? v : "";
}

// "abcd…wxyz" for long tickets: enough to tell two apart, not enough to reuse one.
std::string shortTicket(const std::string& ticket) {
    if (ticket.size() <= 12) return ticket;
    return ticket.substr(0, 4) + "…" + ticket.substr(ticket.size() - 4);
}

// Writes `text` to a new file only the owner may read, then renames it over `path`: an older
// record, whatever its permissions, is replaced, never rewritten in place.
bool writeRecord(const std::string& path, const std::string& text) {
    const std::string temp = path + ".yeni";
    platform::deleteFile(temp); // left by a run that was killed
    const platform::FileHandle file = platform::createOwnerOnlyFile(temp);
    if (file < 0) return false;
    const bool written = platform::writeToFile(file, text.data(), text.size());
    if (platform::closeFile(file, true) && written && platform::replaceFile(temp, path)) return true;
    platform::deleteFile(temp);
    return false;
}

// ---- window ----

void drawFrame(Ui& ui, const std::string& server, const std::string& ticket, int fw, int fh) {
    beginDrawing(ui.frame, fw, fh, {0.02f, 0.024f, 0.035f});
    drawText(ui, {{FontFamily::Display, 22}, palette::kGold, 3.0f, Shadow::Drop}, 32, 56, "MORLAKEN ONLINE");
    const TextStyle body = {{FontFamily::Body, 20}, palette::kParchment};
    drawText(ui, body, 32, 110, "Sunucu: " + (server.empty() ? std::string("(yok)") : server));
    drawText(ui, body, 32, 146, "Bilet: " + (ticket.empty() ? std::string("(yok)") : shortTicket(ticket)));
    drawText(ui, {{FontFamily::Body, 14}, palette::kMuted}, 32, 190, "Deneme oyunu: launcher'dan gelenler");
}

// Shows the window until `deadline` or until it is closed. False when no window could be made.
bool runWindow(const std::string& server, const std::string& ticket, const fs::path& exeFolder,
               std::chrono::steady_clock::time_point deadline) {
    if (!glfwInit()) return false;
    glfwWindowHint(GLFW_RESIZABLE, 0);
    GLFWwindow* window =
        glfwCreateWindow(kWindowWidth, kWindowHeight, "Morlaken Online (deneme)", nullptr, nullptr);
    if (!window) {
        glfwTerminate();
        return false;
    }
    glfwMakeContextCurrent(window);
    const auto ui = std::make_unique<Ui>();
    ui->frame.windowWidth = kWindowWidth;
    ui->frame.windowHeight = kWindowHeight;
    // The fonts sit in veri/font beside the executable, wherever the game was started.
    fs::path started = fs::current_path();
    std::error_code ec;
    fs::current_path(exeFolder, ec);
    loadFontFaces(ui->fonts);
    fs::current_path(started, ec);
    while (!glfwWindowShouldClose(window) && std::chrono::steady_clock::now() < deadline) {
        int fw = 0, fh = 0;
        glfwGetFramebufferSize(window, &fw, &fh);
        ui->frame.contentScale = fw > 0 ? static_cast<float>(fw) / kWindowWidth : 1.0f;
        drawFrame(*ui, server, ticket, fw, fh);
        glfwSwapBuffers(window);
        glfwWaitEventsTimeout(0.1);
    }
    clearFontCache(ui->fonts);
    glfwDestroyWindow(window);
    glfwTerminate();
    return true;
}

} // namespace

// ---- main ----

int main(int argc, char** argv) {
    const fs::path exeFolder = fs::path(platform::executablePath()).parent_path();
    Config cfg;
    loadConfigFile((exeFolder / kConfigName).string(), cfg.userEntries);
    const int exitCode = std::atoi(configGet(cfg, "cikis_kodu", "0").c_str());
    const double seconds = std::atof(configGet(cfg, "sure", "5").c_str());
    fs::path record = configGet(cfg, "kayit", kDefaultRecord);
    if (record.is_relative()) record = exeFolder / record;

    bool ticketSet = false, serverSet = false;
    const std::string ticket = envText("MORLAKEN_BILET", ticketSet);
    const std::string server = envText("MORLAKEN_SUNUCU", serverSet);
    std::error_code ec;
    std::string text = "bilet=" + ticket + "\nbilet_var=" + (ticketSet ? "1" : "0") + "\nsunucu=" + server +
                       "\nsunucu_var=" + (serverSet ? "1" : "0") +
                       "\nklasor=" + fs::current_path(ec).string() +
                       "\narguman_sayisi=" + std::to_string(argc - 1) + "\n";
    for (int i = 1; i < argc; ++i)
        text += "arguman" + std::to_string(i) + "=" + argv[i] + "\n";
    if (!writeRecord(record.string(), text))
        std::fprintf(stderr, "morlaken-game: cannot write %s\n", record.c_str());

    std::printf("sunucu: %s\nbilet: %s\n", server.c_str(), shortTicket(ticket).c_str());
    std::fflush(stdout);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                               std::chrono::duration<double>(seconds > 0 ? seconds : 0));
    const char* display = std::getenv("DISPLAY");
    bool windowed = configGet(cfg, "pencere", "1") != "0" && display && *display &&
                    runWindow(server, ticket, exeFolder, deadline);
    if (!windowed) std::this_thread::sleep_until(deadline);
    return exitCode;
}
