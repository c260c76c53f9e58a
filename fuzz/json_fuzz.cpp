// json_fuzz.cpp - libFuzzer harness for the account login's JSON scan and quoting.
//
// Properties checked on every input (not only "no crash"):
//   - jsonQuote then jsonReadString gives the input back, byte for byte, and stops at the
//     closing quote;
//   - jsonReadString at any quote of the input stops at a quote or at the end, and never
//     produces more bytes than it read;
//   - jsonGetTopLevelString, when it finds a value, found one that jsonReadString reads at
//     some quote of the text up to a closing quote; the input quoted as the first top-level
//     "message" is found again unchanged, also behind a nested "message", and never once
//     the text is cut short of that string's closing quote.
// Build: clang++ -std=c++20 -fsanitize=fuzzer,address,undefined -Ilauncher
//        fuzz/json_fuzz.cpp launcher/login/json.cpp
#include "login/json.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0; // the quote-position check below is quadratic
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    // Quoting round trip.
    const std::string quoted = jsonQuote(input);
    std::string value;
    check(jsonReadString(quoted, 0, value) == quoted.size() - 1);
    check(value == input);

    // Reading at every quote of the raw text.
    for (size_t i = 0; i < size; ++i) {
        if (input[i] != '"') continue;
        size_t stop = jsonReadString(input, i, value);
        check(stop > i && stop <= size);
        check(stop == size || input[stop] == '"');
        check(value.size() <= stop - i - 1);
    }

    // The scan: what it finds is a string of the text.
    std::string found;
    if (jsonGetTopLevelString(input, "message", found)) {
        bool seen = false;
        for (size_t i = 0; i < size && !seen; ++i)
            if (input[i] == '"' && jsonReadString(input, i, value) < size) seen = value == found;
        check(seen);
    }
    found.clear();
    const std::string first = "{\"message\":" + quoted + ",\"message\":\"second\"}";
    check(jsonGetTopLevelString(first, "message", found) && found == input);
    // Cut within the last 16 bytes before the closing quote, where the escapes end (every
    // cut would make the run quadratic).
    const size_t opening = std::string_view("{\"message\":").size();
    const size_t closing = opening + quoted.size() - 1;
    for (size_t cut = closing; cut > opening && cut + 16 > closing; --cut)
        check(!jsonGetTopLevelString(std::string_view(first).substr(0, cut), "message", found) &&
              found.empty());
    found.clear();
    const std::string nested = "{\"a\":{\"message\":\"inner\"},\"message\":" + quoted + "}";
    check(jsonGetTopLevelString(nested, "message", found) && found == input);
    return 0;
}
