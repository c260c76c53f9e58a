// urlencode_fuzz.cpp - list paths as URL paths (urlEncodePath).
//
// Properties: the output holds only unreserved characters, '/' and %XX escapes with two
// upper-case hex digits; exactly the bytes outside that set are escaped; decoding the
// output gives back the input byte for byte.
#include "fuzz_check.h"
#include "update/filelist.h"

#include <cstdint>
#include <string>

namespace {

bool isKept(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~' || c == '/';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1; // lower-case digits are not what the encoder writes
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view path(reinterpret_cast<const char*>(data), size);
    const std::string url = urlEncodePath(path);

    size_t kept = 0;
    for (size_t i = 0; i < size; ++i)
        kept += isKept(data[i]) ? 1 : 0;
    FUZZ_CHECK(url.size() == kept + 3 * (size - kept));

    std::string decoded;
    for (size_t i = 0; i < url.size();) {
        const unsigned char c = static_cast<unsigned char>(url[i]);
        if (c == '%') {
            FUZZ_CHECK(i + 2 < url.size());
            const int high = hexValue(url[i + 1]);
            const int low = hexValue(url[i + 2]);
            FUZZ_CHECK(high >= 0 && low >= 0);
            const unsigned char byte = static_cast<unsigned char>(high * 16 + low);
            FUZZ_CHECK(!isKept(byte)); // a byte that may stay is never escaped
            decoded += static_cast<char>(byte);
            i += 3;
        } else {
            FUZZ_CHECK(isKept(c));
            decoded += static_cast<char>(c);
            ++i;
        }
    }
    FUZZ_CHECK(decoded == path);
    return 0;
}
