// wipe.cpp - zeroing of secret texts that the optimiser may not drop.
#include "login/wipe.h"

#include <atomic>
#include <cstring>

namespace {
std::atomic<SecretObserver> gObserver{nullptr};
} // namespace

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

void releaseSecret(std::string& text, const char* what) {
    if (SecretObserver observer = gObserver.load()) {
        // Everything the string owns, also past size(): what memory is handed back.
        observer(what, text.data(), text.capacity());
    }
    std::string().swap(text);
}

void setSecretObserverForTests(SecretObserver observer) {
    gObserver.store(observer);
}
