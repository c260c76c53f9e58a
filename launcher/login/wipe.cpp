// wipe.cpp - zeroing of secret texts that the optimiser may not drop.
#include "login/wipe.h"

#include <atomic>

namespace {
std::atomic<SecretObserver> gObserver{nullptr};
} // namespace

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
