// wipe.h - secrets in memory (password, verification code, request body, login answer,
// ticket) are overwritten with zeros before their memory is emptied or given back. The
// copies inside libcurl, OpenSSL and ENet are zeroed by the heap functions those libraries
// are given (platform/wiping_alloc.h, through httpGlobalInit and initializeEnet).
#pragma once

#include <cstddef>
#include <string>

// Overwrites every byte the string owns (its whole capacity, so what a longer earlier
// content left behind goes too) with zero, then makes it empty. The capacity is kept.
void wipeText(std::string& text);

// Gives the string's memory back. A secret is wiped first (wipeText) by its owner; this
// is the one place where such memory is released. `what` names it for a reader of the code.
void releaseSecret(std::string& text, const char* what);
