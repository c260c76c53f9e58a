// status.cpp - the update status block and the snapshot a frame.
//
// Index
//   ---- tunables ----
//   ---- the status block ----
//   ---- reading it ----
//   ---- writing it ----
#include "update/status.h"

// ---- tunables ----
namespace {
constexpr double kSpeedSampleSeconds = 1.0; // one speed sample a second at most
constexpr double kSpeedNewWeight = 0.3;     // smoothing: 0.3 new + 0.7 old
} // namespace

// ---- the status block ----

UpdateStatus::~UpdateStatus() {
    stopRequested.store(true);
    if (worker.joinable()) worker.join();
}

// ---- reading it ----

UpdateProgress readUpdateProgress(UpdateStatus& status, double nowSeconds) {
    UpdateProgress p;
    p.state = status.state.load();
    p.filesDone = status.filesDone.load();
    p.filesTotal = status.filesTotal.load();
    p.bytesDone = status.bytesDone.load();
    p.bytesTotal = status.bytesTotal.load();
    p.bytesFetched = status.bytesFetched.load();

    UpdateStatus::SpeedSample& s = status.speedSample;
    if (p.state != UpdateState::Downloading) { // any other state restarts the sample
        s.speed = 0;
        s.lastBytes = p.bytesFetched;
        s.lastTime = nowSeconds;
    } else if (const double elapsed = nowSeconds - s.lastTime; elapsed >= kSpeedSampleSeconds) {
        double rate = static_cast<double>(p.bytesFetched - s.lastBytes) / elapsed;
        if (s.speed > 0) rate = kSpeedNewWeight * rate + (1.0 - kSpeedNewWeight) * s.speed;
        s.speed = rate;
        s.lastBytes = p.bytesFetched;
        s.lastTime = nowSeconds;
    }
    p.speed = s.speed;
    return p;
}

void copyUpdateError(const UpdateStatus& status, std::string& out) {
    std::lock_guard<std::mutex> lock(status.statusMutex);
    out.assign(status.errorText);
}

void copyServerVersion(const UpdateStatus& status, std::string& out) {
    std::lock_guard<std::mutex> lock(status.statusMutex);
    out.assign(status.serverVersion);
}

// ---- writing it ----

void setUpdateError(UpdateStatus& status, const std::string& message) {
    {
        std::lock_guard<std::mutex> lock(status.statusMutex);
        status.errorText = message;
    }
    status.state.store(UpdateState::Failed);
}
