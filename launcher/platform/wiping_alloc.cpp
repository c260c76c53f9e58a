// wiping_alloc.cpp - size-headed heap blocks that are zeroed before they are freed.
#include "platform/wiping_alloc.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// The header in front of every block holds its size and keeps what follows aligned as
// malloc aligns.
constexpr size_t kHeader = alignof(std::max_align_t);
static_assert(kHeader >= sizeof(size_t), "the size must fit in the header");

unsigned char* headerOf(void* block) {
    return static_cast<unsigned char*>(block) - kHeader;
}

size_t sizeOf(void* block) {
    size_t size = 0;
    std::memcpy(&size, headerOf(block), sizeof size);
    return size;
}

} // namespace

void* wipingMalloc(size_t size) {
    if (size > SIZE_MAX - kHeader) return nullptr;
    auto* base = static_cast<unsigned char*>(std::malloc(kHeader + size));
    if (!base) return nullptr;
    std::memcpy(base, &size, sizeof size);
    return base + kHeader;
}

void* wipingCalloc(size_t count, size_t size) {
    if (size != 0 && count > SIZE_MAX / size) return nullptr;
    void* block = wipingMalloc(count * size);
    if (block) std::memset(block, 0, count * size);
    return block;
}

void* wipingRealloc(void* block, size_t size) {
    if (!block) return wipingMalloc(size);
    if (size == 0) {
        wipingFree(block);
        return nullptr;
    }
    void* moved = wipingMalloc(size);
    if (!moved) return nullptr; // the old block stays as it was, as with realloc
    const size_t old = sizeOf(block);
    std::memcpy(moved, block, old < size ? old : size);
    wipingFree(block);
    return moved;
}

void wipingFree(void* block) {
    if (!block) return;
    unsigned char* base = headerOf(block);
    const size_t total = kHeader + sizeOf(block);
    std::memset(base, 0, total);
    // The zeros must land although the memory is freed right after.
    asm volatile("" : : "r"(base) : "memory");
    std::free(base);
}

char* wipingStrdup(const char* text) {
    const size_t length = std::strlen(text) + 1;
    auto* copy = static_cast<char*>(wipingMalloc(length));
    if (copy) std::memcpy(copy, text, length);
    return copy;
}
