// wait.h - waiting for a condition with a deadline instead of sleeping a fixed time. The same
// on every system (the Windows test programs use it too).
#pragma once

#include "platform/clock.h"

#include <chrono>
#include <functional>
#include <thread>

namespace testsupport {

// Calls `condition` every few milliseconds until it holds or `seconds` have passed; returns
// its last value. `step` runs between tries (the frame loop's per-frame work, for example).
template <typename F> bool waitUntil(F condition, double seconds, const std::function<void()>& step = {}) {
    const double deadline = platform::now() + seconds;
    while (!condition()) {
        if (platform::now() > deadline) return condition();
        if (step) step();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

inline bool waitFor(const std::function<bool()>& condition, double seconds,
                    const std::function<void()>& step = {}) {
    return waitUntil(condition, seconds, step);
}

} // namespace testsupport
