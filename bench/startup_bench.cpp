// startup_bench - how fast the launcher comes up, how much memory it holds, and what one
// idle frame costs, each against a bare GLFW window measured in the same run.
//
//   bench_startup_bench [--compare OTHER_LAUNCHER] [--runs N]
//   bench_startup_bench --download URL   (only 4. below; bench/frame_download_bench.sh serves the URL)
//                                  (re-runs itself under xvfb-run when DISPLAY is unset)
//   --compare measures a second launcher build (an older one, say) interleaved with the
//   same runs, so both sides see the same machine.
//
// 1. Start-up: process start to the first swapped frame, for the real launcher
//    (MORLAKEN_REPORT_FIRST_FRAME=1) and for startup_bare_window (a window that only
//    clears and swaps, a program of its own that loads nothing but GLFW and OpenGL). "Process start" is the
//    moment this program starts the child, so the dynamic loader's work counts on every side; the children
//    print the steady clock at their first swap. Median of several runs; ratio launcher / bare. A third run,
//    startup_bare_window --drawn, is the bare window that also draws one quad of each kind the main screen is
//    made of (a blended colour, a mipmapped premultiplied image the size of the window, an alpha glyph
//    texture), with pixels made in memory: what the driver alone charges for drawing such a screen (llvmpipe
//    compiles fragment, vertex and set-up code for each kind, and maps its compiler's pages), whatever the
//    launcher does.
// 2. Resident memory (VmRSS from /proc) half a second after the first frame, for all three.
// 3. One idle main-screen frame in this process: CPU time in our immediate-mode calls,
//    in the driver (glFinish + swap), and the bare clear + swap; plus the number of heap
//    allocations an idle frame makes (should be 0).
// 4. With --download: the main screen's frames, paced at 60 a second as the window's swap
//    interval paces them, first idle and then while an update pass downloads the list at URL
//    (1 GiB) into a scratch folder: the main thread's time per frame (our drawing calls and
//    the driver's finish + swap, wall clock) during the download against idle, and on how many
//    frames the progress line (status text or bar) moved.
#include "app/launcher.h"
#include "gfx/font.h"
#include "gfx/frame.h"
#include "gfx/widgets.h"
#include "platform/clock.h"
#include "platform/platform.h"
#include "screens/main_screen.h"
#include "screens/message_dialog.h"
#include "screens/skin.h"
#include "update/pass.h"

#include <GL/gl.h>
#include <GLFW/glfw3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

// ---- allocation counter ----

static std::atomic<long> gAllocations{0};
void* operator new(std::size_t n) {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

const double kStart = platform::now();

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

long rssKb(const std::string& pid) {
    const std::string status = readFile("/proc/" + pid + "/status");
    const size_t at = status.find("VmRSS:");
    return at == std::string::npos ? -1 : std::atol(status.c_str() + at + 6);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// ---- child processes ----

struct ChildResult {
    double firstFrameMs = -1; // from the moment the child was started
    double inProcessMs = -1;  // from the child's own static initialisation
    long rss = -1;
};

// Starts `cmd` in the background in `dir`, waits for its first-frame line, samples its
// memory once it has drawn a while, and waits for it to end.
ChildResult measureChild(const fs::path& dir, const std::string& cmd) {
    fs::remove(dir / "err");
    fs::remove(dir / "pid");
    fs::remove(dir / "done");
    const std::string line = "(cd '" + dir.string() + "' && " + cmd + " 2>'" + (dir / "err").string() +
                             "' & echo $! >'" + (dir / "pid.tmp").string() + "'; mv '" +
                             (dir / "pid.tmp").string() + "' '" + (dir / "pid").string() +
                             "'; wait; touch '" + (dir / "done").string() + "') &";
    const double started = platform::now();
    std::system(line.c_str());
    ChildResult r;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::string pid;
    while (std::chrono::steady_clock::now() < deadline && !fs::exists(dir / "done")) {
        if (pid.empty() && fs::exists(dir / "pid")) {
            pid = readFile(dir / "pid");
            while (!pid.empty() && (pid.back() == '\n' || pid.back() == ' '))
                pid.pop_back();
        }
        const std::string err = readFile(dir / "err");
        const size_t at = err.find("first-frame-ms ");
        const size_t clock = at == std::string::npos ? at : err.find(" at ", at);
        if (clock != std::string::npos && err.find('\n', clock) != std::string::npos && r.firstFrameMs < 0) {
            r.inProcessMs = std::atof(err.c_str() + at + 15);
            r.firstFrameMs = (std::atof(err.c_str() + clock + 4) - started) * 1000.0;
            // Let it draw about half a second more, then read its memory.
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            if (!pid.empty()) r.rss = rssKb(pid);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return r;
}

// ---- in-process idle frame ----

struct FrameCost {
    double ourCpuMs = 0, driverCpuMs = 0, bareCpuMs = 0;
    double ourWallMs = 0, driverWallMs = 0, bareWallMs = 0;
    long allocationsPerFrame = 0;
    long allocationsWithMessage = 0;                     // a still frame with the message dialog open
    double fontsMs = 0, imagesMs = 0, firstScreenMs = 0; // start-up pieces, wall time
};

double cpuMs() {
    return 1000.0 * static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}
double wallMs() {
    return platform::now() * 1000.0;
}

FrameCost measureFrames(const fs::path& binDir, int frames) {
    FrameCost c;
    fs::current_path(binDir);
    if (!glfwInit()) return c;
    glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
    GLFWwindow* w = glfwCreateWindow(800, 610, "frame", nullptr, nullptr);
    glfwMakeContextCurrent(w);
    glfwSwapInterval(0); // measure work, not the display's refresh
    const auto launcher = std::make_unique<Launcher>();
    Launcher& l = *launcher;
    Ui& ui = l.ui;
    double t = wallMs();
    loadFontFaces(ui.fonts);
    c.fontsMs = wallMs() - t;
    t = wallMs();
    loadSkin(l.skin);
    glFinish();
    c.imagesMs = wallMs() - t;
    auto setup = [&ui] { beginDrawing(ui.frame, kLauncherWidth, kLauncherHeight); };
    auto drawMain = [&l] {
        const MainScreenView view{l.news.items, {}, ServerStatus::Connecting, false};
        drawMainScreen(l.ui, l.skin, l.screens.main, view);
    };
    ui.input.mouseX = 100; // over empty space: an idle frame
    ui.input.mouseY = 100;
    t = wallMs();
    setup();
    drawMain(); // the first frame builds the glyph atlases
    glFinish();
    c.firstScreenMs = wallMs() - t;
    for (int i = 0; i < 20; ++i) { // warm-up: driver paths compiled
        setup();
        drawMain();
        glFinish();
        glfwSwapBuffers(w);
    }
    for (int i = 0; i < frames; ++i) {
        setup();
        const long a0 = gAllocations.load();
        double c0 = cpuMs(), t0 = wallMs();
        beginFrameInput(ui);
        drawMain();
        endFrameInput(ui);
        double c1 = cpuMs(), t1 = wallMs();
        c.allocationsPerFrame = std::max(c.allocationsPerFrame, gAllocations.load() - a0);
        glFinish();
        glfwSwapBuffers(w);
        double c2 = cpuMs(), t2 = wallMs();
        c.ourCpuMs += c1 - c0, c.ourWallMs += t1 - t0;
        c.driverCpuMs += c2 - c1, c.driverWallMs += t2 - t1;
    }
    showError(l.screens.message,
              "Güncelleme dosyası indirilemedi (sunucuya ulasilamadi).\n\nTekrar deneniyor.");
    for (int i = 0; i < 5; ++i) {
        setup();
        const long a0 = gAllocations.load();
        drawMain();
        drawMessageDialog(ui, l.skin, l.screens.message);
        if (i > 0) c.allocationsWithMessage = std::max(c.allocationsWithMessage, gAllocations.load() - a0);
        glFinish();
        glfwSwapBuffers(w);
    }
    hideMessage(l.screens.message);
    for (int i = 0; i < frames; ++i) {
        double c0 = cpuMs(), t0 = wallMs();
        setup();
        glFinish();
        glfwSwapBuffers(w);
        c.bareCpuMs += cpuMs() - c0, c.bareWallMs += wallMs() - t0;
    }
    for (double* v :
         {&c.ourCpuMs, &c.driverCpuMs, &c.bareCpuMs, &c.ourWallMs, &c.driverWallMs, &c.bareWallMs})
        *v /= frames;
    clearFontCache(ui.fonts);
    glfwTerminate();
    return c;
}

// ---- frames during a download ----

struct PacedFrames {
    std::vector<double> ms; // main thread's wall time per frame, without the wait for the next tick
    int arriving = 0;       // frames while bytes were still to come
    int moved = 0;          // of those, frames whose progress line differed from the one before
};

// Frames at 60 a second while `running` holds (at most `limit`).
template <class Running> PacedFrames pacedFrames(Launcher& l, GLFWwindow* w, Running running, int limit) {
    PacedFrames r;
    std::string lastText;
    float lastFraction = -1;
    auto tick = std::chrono::steady_clock::now();
    while (running() && static_cast<int>(r.ms.size()) < limit) {
        tick += std::chrono::microseconds(16667);
        std::this_thread::sleep_until(tick); // the swap interval's pace, not a wait for a result
        const double t0 = wallMs();
        beginDrawing(l.ui.frame, kLauncherWidth, kLauncherHeight);
        const UpdateProgress progress = readUpdateProgress(l.update, platform::now());
        const MainScreenView view{l.news.items, progress, ServerStatus::Connecting, false};
        beginFrameInput(l.ui);
        drawMainScreen(l.ui, l.skin, l.screens.main, view);
        endFrameInput(l.ui);
        glFinish();
        glfwSwapBuffers(w);
        r.ms.push_back(wallMs() - t0);
        const std::string text = updateStatusText(progress);
        const float fraction = progressFraction(progress);
        if (progress.bytesDone < progress.bytesTotal) { // the last byte's frame and on: verify, flush, install
            ++r.arriving;
            if (text != lastText || fraction != lastFraction) ++r.moved;
        }
        lastText = text;
        lastFraction = fraction;
    }
    return r;
}

double mean(const std::vector<double>& v) {
    double sum = 0;
    for (double x : v)
        sum += x;
    return v.empty() ? 0 : sum / static_cast<double>(v.size());
}

int measureDownloadFrames(const fs::path& binDir, const std::string& url) {
    fs::current_path(binDir);
    if (!glfwInit()) return 1;
    glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
    GLFWwindow* w = glfwCreateWindow(800, 610, "frame", nullptr, nullptr);
    glfwMakeContextCurrent(w);
    glfwSwapInterval(0); // paced by pacedFrames
    const auto launcher = std::make_unique<Launcher>();
    Launcher& l = *launcher;
    loadFontFaces(l.ui.fonts);
    loadSkin(l.skin);
    l.ui.input.mouseX = 100; // over empty space
    l.ui.input.mouseY = 100;
    const fs::path game = fs::temp_directory_path() / "morlaken_frame_bench";
    fs::remove_all(game);
    fs::create_directories(game);
    fs::current_path(game);

    pacedFrames(
        l, w, [] { return true; }, 30); // warm-up: driver paths compiled, atlases built
    const PacedFrames idle = pacedFrames(
        l, w, [] { return true; }, 300);
    startUpdate(l.update, url, platform::launcherFileName());
    pacedFrames(
        l, w, [&l] { return l.update.state.load() != UpdateState::Downloading; }, 600);
    const PacedFrames busy = pacedFrames(
        l, w, [&l] { return l.update.state.load() == UpdateState::Downloading; }, 100000);
    stopUpdate(l.update);
    const UpdateState end = l.update.state.load();
    fs::current_path(binDir);
    fs::remove_all(game);
    clearFontCache(l.ui.fonts);
    glfwTerminate();
    if (busy.ms.size() < 10 || end != UpdateState::UpToDate) {
        std::fprintf(stderr, "startup_bench: the download did not run (%zu frames, state %d)\n",
                     busy.ms.size(), static_cast<int>(end));
        return 1;
    }
    std::printf("main-screen frames at 60 a second, main thread's wall time per frame (ours + driver):\n");
    std::printf("  idle                      %.3f ms (mean of %zu)\n", mean(idle.ms), idle.ms.size());
    std::printf("  while 1 GiB downloads     %.3f ms (mean of %zu)\n", mean(busy.ms), busy.ms.size());
    std::printf("  ratio during download / idle: %.2f (aim <= 1.5)\n", mean(busy.ms) / mean(idle.ms));
    std::printf("  the progress line moved on %d of the %d frames while bytes arrived (then %zu frames of\n"
                "  verifying the last bytes, flushing and installing)\n",
                busy.moved, busy.arriving, busy.ms.size() - static_cast<size_t>(busy.arriving));
    return 0;
}

} // namespace

int main(int argc, char** argv) {

    const fs::path self = fs::canonical("/proc/self/exe");
    std::string other;
    int runs = 5;
    std::string download;
    std::string passOn;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        if (flag == "--compare") other = argv[i + 1];
        if (flag == "--runs") runs = std::max(1, std::atoi(argv[i + 1]));
        if (flag == "--download") download = argv[i + 1];
        passOn += " '" + flag + "' '" + argv[i + 1] + "'";
    }
    if (!std::getenv("DISPLAY")) {
        const std::string cmd =
            "xvfb-run -a -s '-screen 0 1920x1080x24 -nolisten tcp -noreset' '" + self.string() + "'" + passOn;
        return std::system(cmd.c_str()) == 0 ? 0 : 1;
    }
    const fs::path binDir = self.parent_path();
    if (!download.empty()) return measureDownloadFrames(binDir, download);
    const fs::path launcher = binDir / "MorlakenLauncher";
    if (!fs::exists(launcher)) {
        std::fprintf(stderr, "startup_bench: %s is missing; build MorlakenLauncher first\n",
                     launcher.c_str());
        return 1;
    }
    const fs::path bareWindow = binDir / "startup_bare_window";
    if (!fs::exists(bareWindow)) {
        std::fprintf(stderr, "startup_bench: %s is missing; build the bench targets first\n",
                     bareWindow.c_str());
        return 1;
    }
    const fs::path scratch = fs::temp_directory_path() / "morlaken_startup_bench";
    fs::create_directories(scratch);

    // One side of the comparison: a launcher build or a reference window.
    struct Side {
        std::string label;
        std::string command;
        std::vector<double> ms, inProcessMs, rss;
    };
    auto launch = [](const std::string& path) {
        return "MORLAKEN_REPORT_FIRST_FRAME=1 MORLAKEN_EXIT_AFTER_FRAMES=60 '" + path + "'";
    };
    std::vector<Side> sides = {
        {"launcher", launch(launcher.string()), {}, {}, {}},
        {"bare GLFW window", "'" + bareWindow.string() + "' 60", {}, {}, {}},
        {"bare window drawing 3 quads", "'" + bareWindow.string() + "' --drawn 60", {}, {}, {}}};
    if (!other.empty()) sides.push_back({"compared launcher", launch(other), {}, {}, {}});
    for (int i = 0; i < runs; ++i) {
        // Interleaved so that a slow moment of the machine hits every side alike.
        for (Side& side : sides) {
            const ChildResult r = measureChild(scratch, side.command);
            if (r.firstFrameMs >= 0) side.ms.push_back(r.firstFrameMs);
            if (r.inProcessMs >= 0) side.inProcessMs.push_back(r.inProcessMs);
            if (r.rss > 0) side.rss.push_back(static_cast<double>(r.rss));
        }
    }
    fs::remove_all(scratch);
    const Side& ours = sides[0];
    const Side& bare = sides[1];
    if (ours.ms.empty() || bare.ms.empty() || ours.rss.empty() || bare.rss.empty()) {
        std::fprintf(stderr, "startup_bench: no first-frame report (launcher %zu, bare %zu runs)\n",
                     ours.ms.size(), bare.ms.size());
        return 1;
    }

    const FrameCost f = measureFrames(binDir, 300);

    auto range = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        static char text[64];
        std::snprintf(text, sizeof text, "%.0f-%.0f", v.empty() ? 0 : v.front(), v.empty() ? 0 : v.back());
        return std::string(text);
    };
    auto best = [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); };
    std::printf("start-up to first swapped frame, from the moment the process is started (median of %d,\n"
                "range in brackets; in-process = from the program's own static initialisation):\n",
                runs);
    for (const Side& side : sides) {
        std::printf("  %-28s", side.label.c_str());
        if (!side.ms.empty())
            std::printf(" %6.1f ms [%s], ratio to bare %.2f (best %.2f);", median(side.ms),
                        range(side.ms).c_str(), median(side.ms) / median(bare.ms),
                        best(side.ms) / best(bare.ms));
        if (!side.inProcessMs.empty())
            std::printf(" in-process %.1f ms, ratio %.2f", median(side.inProcessMs),
                        median(side.inProcessMs) / median(bare.inProcessMs));
        std::printf("\n");
    }
    std::printf("  of which, in this process: fonts read %.1f ms, 16 images decoded and uploaded %.1f ms,\n"
                "  first main-screen frame with its glyph atlases %.1f ms\n",
                f.fontsMs, f.imagesMs, f.firstScreenMs);
    std::printf("resident memory half a second after the first frame (median):\n");
    for (const Side& side : sides) {
        if (side.rss.empty()) continue;
        std::printf("  %-28s %7.0f KiB [%s], ratio to bare %.2f, %+.1f MiB\n", side.label.c_str(),
                    median(side.rss), range(side.rss).c_str(), median(side.rss) / median(bare.rss),
                    (median(side.rss) - median(bare.rss)) / 1024.0);
    }
    std::printf("one idle main-screen frame (mean of 300, Mesa llvmpipe):\n");
    std::printf("  our drawing calls   %.3f ms CPU (%.3f ms wall)\n", f.ourCpuMs, f.ourWallMs);
    std::printf("  driver finish+swap  %.3f ms CPU (%.3f ms wall)\n", f.driverCpuMs, f.driverWallMs);
    std::printf("  bare clear+swap     %.3f ms CPU (%.3f ms wall)\n", f.bareCpuMs, f.bareWallMs);
    std::printf("  ratio ours / bare frame CPU %.2f, ours / driver CPU %.2f\n", f.ourCpuMs / f.bareCpuMs,
                f.ourCpuMs / f.driverCpuMs);
    std::printf("  heap allocations in an idle frame: %ld (with the message dialog open: %ld)\n",
                f.allocationsPerFrame, f.allocationsWithMessage);
    return 0;
}
