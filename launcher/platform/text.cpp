// text.cpp - see text.h.
#include "platform/text.h"

#include <algorithm>
#include <cstring>

namespace platform {

// ---- ASCII letter case ----

namespace {
char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
} // namespace

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return lowerAscii(x) == lowerAscii(y); });
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equalsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

// ---- hex ----

void appendHex(std::string& out, const void* bytes, size_t count, HexDigits digits) {
    const char* set = digits == HexDigits::Upper ? "0123456789ABCDEF" : "0123456789abcdef";
    const auto* p = static_cast<const uint8_t*>(bytes);
    for (size_t i = 0; i < count; ++i) {
        out += set[p[i] >> 4];
        out += set[p[i] & 15];
    }
}

std::string toHex(const void* bytes, size_t count) {
    std::string out;
    out.reserve(count * 2);
    appendHex(out, bytes, count);
    return out;
}

std::string toHex(std::span<const uint8_t> bytes) {
    return toHex(bytes.data(), bytes.size());
}

// ---- UTF-8 ----

uint32_t nextCodePoint(std::string_view text, size_t& inOutPos) {
    const unsigned char lead = static_cast<unsigned char>(text[inOutPos++]);
    if (lead < 0x80) return lead;
    int more;
    uint32_t c;
    if (lead < 0xE0) {
        more = 1;
        c = lead & 0x1F;
    } else if (lead < 0xF0) {
        more = 2;
        c = lead & 0x0F;
    } else {
        more = 3;
        c = lead & 0x07;
    }
    while (more-- > 0 && inOutPos < text.size())
        c = c * 64 + (static_cast<unsigned char>(text[inOutPos++]) & 0x3F);
    return c;
}

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | ((cp >> 18) & 0x07));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

namespace {
bool isContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}
} // namespace

size_t codePointCount(std::string_view text) {
    return static_cast<size_t>(std::count_if(
        text.begin(), text.end(), [](char c) { return !isContinuation(static_cast<unsigned char>(c)); }));
}

size_t utf8SequenceLength(std::string_view text, size_t pos) {
    if (pos >= text.size()) return 0;
    const unsigned char c = static_cast<unsigned char>(text[pos]);
    if (c < 0x80) return 1;
    // Lead byte: the length, and the range its first continuation byte must lie in (which
    // rules out overlong forms, surrogates and values past U+10FFFF).
    size_t length;
    unsigned char low = 0x80, high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        if (c == 0xE0) low = 0xA0;
        if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        if (c == 0xF0) low = 0x90;
        if (c == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (text.size() - pos < length) return 0;
    const unsigned char first = static_cast<unsigned char>(text[pos + 1]);
    if (first < low || first > high) return 0;
    for (size_t k = 2; k < length; ++k)
        if (!isContinuation(static_cast<unsigned char>(text[pos + k]))) return 0;
    return length;
}

std::string_view cutAtCharBoundary(std::string_view text, size_t maxBytes) {
    if (text.size() <= maxBytes) return text;
    size_t cut = maxBytes;
    for (int back = 0; back < 3 && cut > 0 && isContinuation(static_cast<unsigned char>(text[cut])); ++back)
        --cut;
    if (isContinuation(static_cast<unsigned char>(text[cut]))) cut = maxBytes;
    return text.substr(0, cut);
}

// ---- paths ----

std::string forwardSlashes(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

// ---- secrets ----

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

} // namespace platform
