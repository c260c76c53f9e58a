// frame.cpp - the frame context and the clock.
#include "gfx/frame.h"

#include <chrono>

FrameContext& frameContext() {
    static FrameContext context;
    return context;
}

double now() {
    using Clock = std::chrono::steady_clock;
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}
