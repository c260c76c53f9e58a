// wipe.h - secrets in memory (password, verification code, request body, login answer,
// ticket) are overwritten with zeros (platform::wipeText, platform/text.h) before their
// memory is emptied or given back. The copies inside libcurl, OpenSSL and ENet are zeroed
// by the heap functions those libraries are given (platform/wiping_alloc.h, through the
// HTTP client's first use and initializeEnet).

#pragma once

#include <cstddef>
#include <string>

// Gives the string's memory back. A secret is wiped first (platform::wipeText) by its owner; this
// is the one place where such memory is released. `what` names it for a reader of the code.
void releaseSecret(std::string& text, const char* what);
