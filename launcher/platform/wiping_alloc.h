// wiping_alloc.h - the heap functions handed to the network libraries (libcurl and OpenSSL
// in http_curl.cpp, ENet in enet_setup.cpp): every block is overwritten with zeros before it
// goes back to the heap, so what passed through their buffers (the login request with the
// password, the answer with the ticket) is not left behind in freed memory once the
// launcher has wiped its own copies.
//
// Each block carries its size in a header in front of it (the heap has no portable size
// query), aligned like malloc's own blocks. A block from these functions goes back only
// through wipingFree or wipingRealloc, never through free. Any thread; no state.
#pragma once

#include <cstddef>

// malloc's contract. A block of 0 bytes is a valid, unique pointer.
void* wipingMalloc(size_t size);
// calloc's contract: `count` * `size` zeroed bytes; nullptr when the product overflows.
void* wipingCalloc(size_t count, size_t size);
// realloc's contract, but the block always moves and the old one is wiped before it is
// freed (the heap's own realloc would leave the old bytes behind when it moves). nullptr
// block: wipingMalloc. Size 0: the block is freed and nullptr returned.
void* wipingRealloc(void* block, size_t size);
// Wipes the whole block, then frees it. nullptr does nothing.
void wipingFree(void* block);
// strdup's contract, the copy from wipingMalloc.
char* wipingStrdup(const char* text);
