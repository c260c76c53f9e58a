// fuzz_check.h - what every harness in fuzz/ shares: a property check that stops the run
// with a readable line, so libFuzzer keeps the input that broke the property.
#pragma once

#include "platform/text.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

#define FUZZ_CHECK(condition)                                                                                \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "property broken: %s (%s:%d)\n", #condition, __FILE__, __LINE__);           \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (0)

namespace fuzzcheck {

// True when `text` is well-formed UTF-8 (shortest forms, no surrogates, at most U+10FFFF).
inline bool isValidUtf8(std::string_view text) {
    for (size_t i = 0, length; i < text.size(); i += length)
        if ((length = platform::utf8SequenceLength(text, i)) == 0) return false;
    return true;
}

} // namespace fuzzcheck
