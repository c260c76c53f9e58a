// json.cpp - quoting, string reading and the top-level member scan.
#include "login/json.h"

#include "platform/text.h"

#include <cstdint>
#include <cstring>

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Four hex digits at `at`, or -1 when the text ends first or one is not a digit.
long readHex4(std::string_view json, size_t at) {
    if (at > json.size() || json.size() - at < 4) return -1;
    long value = 0;
    for (size_t i = 0; i < 4; ++i) {
        int d = hexValue(json[at + i]);
        if (d < 0) return -1;
        value = value * 16 + d;
    }
    return value;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

} // namespace

void jsonQuoteAppend(std::string& out, std::string_view text) {
    out += '"';
    for (char c : text) {
        auto b = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (b < 0x20) {
            out += "\\u00";
            platform::appendHex(out, &b, 1);
        } else {
            out += c;
        }
    }
    out += '"';
}

std::string jsonQuote(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 6 + 2);
    jsonQuoteAppend(out, text);
    return out;
}

size_t jsonReadString(std::string_view json, size_t openQuote, std::string& outValue) {
    outValue.clear();
    size_t i = openQuote + 1;
    if (i >= json.size()) return json.size();
    outValue.reserve(json.size() - i);
    while (i < json.size()) {
        char c = json[i];
        if (c == '"') return i;
        if (c != '\\') {
            outValue += c;
            ++i;
            continue;
        }
        if (i + 1 >= json.size()) { // a backslash that ends the text
            outValue += c;
            return json.size();
        }
        char e = json[i + 1];
        i += 2;
        switch (e) {
        case 'n':
            outValue += '\n';
            break;
        case 't':
            outValue += '\t';
            break;
        case 'r':
            outValue += '\r';
            break;
        case 'b':
        case 'f':
            break;
        case 'u': {
            long cp = readHex4(json, i);
            if (cp < 0) {
                outValue += 'u';
                break;
            }
            i += 4;
            if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < json.size() && json[i] == '\\' &&
                json[i + 1] == 'u') {
                long low = readHex4(json, i + 2);
                if (low >= 0) {
                    cp = cp * 1024 + low - 0x35FDC00;
                    i += 6;
                }
            }
            platform::appendUtf8(outValue, static_cast<uint32_t>(cp));
            break;
        }
        default:
            outValue += e;
            break;
        }
    }
    return json.size();
}

bool jsonGetTopLevelString(std::string_view json, std::string_view key, std::string& outValue) {
    std::string scratch; // every string of the text passes through here, the ticket too
    struct Wiper {
        std::string& s;
        ~Wiper() { platform::wipeText(s); }
    } wiper{scratch};
    long depth = 0;
    size_t i = 0;
    while (i < json.size()) {
        char c = json[i];
        if (c == '{' || c == '[') {
            ++depth;
            ++i;
            continue;
        }
        if (c == '}' || c == ']') {
            --depth;
            ++i;
            continue;
        }
        if (c != '"') {
            ++i;
            continue;
        }
        size_t end = jsonReadString(json, i, scratch);
        if (end >= json.size()) return false;
        size_t j = end + 1;
        while (j < json.size() && isBlank(json[j]))
            ++j;
        if (j < json.size() && json[j] == ':' && depth == 1 && std::string_view(scratch) == key) {
            ++j;
            while (j < json.size() && isBlank(json[j]))
                ++j;
            if (j < json.size() && json[j] == '"') {
                // A string the text ends in (an answer cut short) is no value: half a
                // ticket must never pass for one.
                if (jsonReadString(json, j, outValue) < json.size()) return true;
                platform::wipeText(outValue);
            }
            return false;
        }
        i = end + 1;
    }
    return false;
}
