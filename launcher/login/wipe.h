// wipe.h - secrets in memory (password, verification code, request body, login answer,
// ticket) are overwritten with zeros (platform::wipeText, platform/text.h) before their
// memory is emptied or given back. The copies inside libcurl, OpenSSL and ENet are zeroed
// by the heap functions those libraries are given (platform/wiping_alloc.h, through the
// HTTP client's first use and initializeEnet).
#pragma once

#include <cstddef>
#include <string>

// Gives the string's memory back. A secret is wiped first (platform::wipeText) by its owner; this
// is the one place where such memory is released, so tests can look at it.
void releaseSecret(std::string& text, const char* what);

// Tests only: called by releaseSecret with the bytes the string owned (whole capacity)
// just before they are freed. nullptr switches it off. Not thread-safe to change while a
// login is in flight.
using SecretObserver = void (*)(const char* what, const char* bytes, size_t count);
void setSecretObserverForTests(SecretObserver observer);
