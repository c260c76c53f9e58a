// frame.cpp - the frame context.
#include "gfx/frame.h"

FrameContext& frameContext() {
    static FrameContext context;
    return context;
}
