// morlaken-sync DIR URL [URL...] - runs the launcher's own update pass in DIR (created if
// missing).
//
// Studios use it to check a published update; tests and benchmarks use it too. The pass
// is exactly the launcher's (startUpdate with the launcher's file name), so DIR ends up as
// the launcher would leave it. Several URLs are mirrors of one another, as several
// addresses in "guncelleme" are. The summary line counts the bytes actually fetched (a
// patched file's reused bytes are not).
//
// Exit codes: 0 up to date, 1 the pass failed (the error text on standard error),
// 2 bad usage, 3 the launcher's own file was replaced, 128 + N after signal N (the pass is
// stopped cleanly first: no ".indir" file stays behind).
#include "net/http.h"
#include "platform/platform.h"
#include "update/pass.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>

// ---- tunables ----
namespace {
constexpr auto kPollInterval = std::chrono::milliseconds(10);
constexpr auto kProgressInterval = std::chrono::milliseconds(250);

volatile std::sig_atomic_t gSignal = 0;
UpdateStatus gStatus; // the one pass of this process; the signal handler stops it

void onSignal(int number) {
    gSignal = number;
    gStatus.stopRequested.store(true); // lock-free, so safe here
}

const char* stateName(UpdateState state) {
    switch (state) {
    case UpdateState::Checking:
        return "Denetleniyor";
    case UpdateState::Downloading:
        return "Indiriliyor";
    case UpdateState::UpToDate:
        return "Guncel";
    case UpdateState::Failed:
        return "Basarisiz";
    case UpdateState::RestartPending:
        return "Launcher yenilendi";
    default:
        return "Bekliyor";
    }
}

double mebibytes(int64_t bytes) {
    return static_cast<double>(bytes) / 1048576.0;
}

// ---- progress line ----
void drawProgress(const UpdateStatus& s, double speed) {
    std::fprintf(stderr, "\r%-13s %d/%d dosya  %.1f/%.1f MiB  %.1f MiB indirildi  %.1f MiB/s   ",
                 stateName(s.state.load()), s.filesDone.load(), s.filesTotal.load(),
                 mebibytes(s.bytesDone.load()), mebibytes(s.bytesTotal.load()),
                 mebibytes(s.bytesFetched.load()), speed / 1048576.0);
    std::fflush(stderr);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: morlaken-sync DIR URL [URL...]\n");
        return 2;
    }
    const std::string folder = argv[1];
    std::string url; // the mirrors as "guncelleme" holds them: separated by blanks
    for (int i = 2; i < argc; ++i) {
        const std::string address = argv[i];
        if (address.empty() || address.find(' ') != std::string::npos) {
            std::fprintf(stderr, "morlaken-sync: an update address is empty or holds a blank\n");
            return 2;
        }
        url += (url.empty() ? "" : " ") + address;
    }
    // A fresh folder is fine: the first pass fills it.
    if (!platform::createFolders(folder) || !platform::setWorkingFolder(folder)) {
        std::fprintf(stderr, "morlaken-sync: cannot enter folder %s\n", folder.c_str());
        return 2;
    }
    UpdateStatus& s = gStatus;
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    startUpdate(s, url, platform::launcherFileName());

    const bool terminal = platform::stderrIsTerminal();
    auto start = std::chrono::steady_clock::now();
    auto lastDraw = start;
    int64_t lastBytes = 0;
    double speed = 0;
    // Without a terminal there is nothing to draw: the pass is simply waited for, so a
    // script's run ends the moment the pass does (a signal still stops the pass).
    while (terminal && s.workerActive.load()) {
        std::this_thread::sleep_for(kPollInterval);
        auto now = std::chrono::steady_clock::now();
        if (terminal && now - lastDraw >= kProgressInterval) {
            int64_t bytes = s.bytesFetched.load();
            double seconds = std::chrono::duration<double>(now - lastDraw).count();
            speed = bytes >= lastBytes ? static_cast<double>(bytes - lastBytes) / seconds : 0;
            lastBytes = bytes;
            lastDraw = now;
            drawProgress(s, speed);
        }
    }
    if (s.worker.joinable()) s.worker.join();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (terminal) {
        drawProgress(s, seconds > 0 ? static_cast<double>(s.bytesFetched.load()) / seconds : 0);
        std::fputc('\n', stderr);
    }

    if (gSignal != 0) {
        std::fprintf(stderr, "morlaken-sync: durduruldu\n");
        return 128 + gSignal;
    }
    const UpdateState state = s.state.load();
    if (state == UpdateState::Failed) {
        std::string error;
        copyUpdateError(s, error);
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::printf("%s: %d dosya indirildi, %lld bayt, %.2f s\n", stateName(state), s.filesDone.load(),
                static_cast<long long>(s.bytesFetched.load()), seconds);
    return state == UpdateState::RestartPending ? 3 : 0;
}
