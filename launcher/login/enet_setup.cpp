// enet_setup.cpp - ENet started with the wiping heap functions.
#include "login/enet_setup.h"

#include "platform/wiping_alloc.h"

#include <enet/enet.h>

namespace {

void* ENET_CALLBACK enetMalloc(size_t size) {
    return wipingMalloc(size);
}

void ENET_CALLBACK enetFree(void* block) {
    wipingFree(block);
}

} // namespace

bool initializeEnet() {
    ENetCallbacks callbacks{};
    callbacks.malloc = enetMalloc;
    callbacks.free = enetFree; // no_memory stays ENet's own (abort)
    return enet_initialize_with_callbacks(ENET_VERSION, &callbacks) == 0;
}
