// enet_setup.h - the one way into ENet for every program of the project (the launcher,
// the game server, tests and benchmarks).
#pragma once

// enet_initialize_with_callbacks with the wiping heap functions (platform/wiping_alloc.h):
// the login request and its answer pass through ENet's command and receive buffers, which
// are zeroed when ENet frees them. True on success; ENet is then ended with
// enet_deinitialize as usual. Main thread, before any other ENet call.
bool initializeEnet();
