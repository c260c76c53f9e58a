// clock.h - the one clock of the launcher: "now", in seconds.
#pragma once

#include <chrono>

namespace platform {

// Seconds of the monotonic clock (never set back, unrelated to the time of day) as a
// 64-bit float: time-outs, frame timing, the caret, the game's start. Any thread.
inline double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

} // namespace platform
