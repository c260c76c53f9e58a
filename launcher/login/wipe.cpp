// wipe.cpp - zeroing of secret texts that the optimiser may not drop.
#include "login/wipe.h"

#include <cstring>

void wipeText(std::string& text) {
    text.resize(text.capacity()); // the bytes past size() become ours to overwrite
    if (!text.empty()) {
        char* p = text.data();
        std::memset(p, 0, text.size());
        // The zeros must land even though the content is discarded right after.
        asm volatile("" : : "r"(p) : "memory");
    }
    text.clear();
}

void releaseSecret(std::string& text, const char* /*what*/) {
    std::string().swap(text);
}
