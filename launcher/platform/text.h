// text.h - the small text jobs every layer shares, each written once: ASCII letter case,
// hex digits, UTF-8, configured paths and wiping secrets. Pure text, no operating-system
// call; any thread.
//
// Index
//   ---- ASCII letter case ----  equalsIgnoringCase, startsWithIgnoringCase
//   ---- hex ----                appendHex, toHex
//   ---- UTF-8 ----              nextCodePoint, appendUtf8, codePointCount,
//                                utf8SequenceLength, cutAtCharBoundary
//   ---- paths ----              forwardSlashes
//   ---- secrets ----            wipeText
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace platform {

// ---- ASCII letter case ----

// True when `a` and `b` are the same text with A-Z and a-z taken as equal; every other
// byte must match exactly ("Location" equals "location", "İ" only "İ").
bool equalsIgnoringCase(std::string_view a, std::string_view b);
// True when `text` begins with `prefix` by the rule of equalsIgnoringCase.
bool startsWithIgnoringCase(std::string_view text, std::string_view prefix);

// ---- hex ----

enum class HexDigits { Lower, Upper };

// Appends two hex digits per byte, high nibble first ("0a", or "0A" with Upper).
void appendHex(std::string& out, const void* bytes, size_t count, HexDigits digits = HexDigits::Lower);
// Two lower-case hex digits per byte, high nibble first: the form of every hash and key
// the launcher writes.
std::string toHex(const void* bytes, size_t count);
std::string toHex(std::span<const uint8_t> bytes);

// ---- UTF-8 ----

// Decodes the code point at `inOutPos` and moves past it, as drawing does: a lead byte
// below 0x80 stands alone, else 1, 2 or 3 following bytes are taken (lead below 0xE0,
// below 0xF0, else) while the text lasts, six bits of each. Nothing is validated:
// malformed input gives some code point and never reads past the text. `inOutPos` must be
// below text.size().
uint32_t nextCodePoint(std::string_view text, size_t& inOutPos);

// Appends `codePoint` in 1 to 4 bytes (up to 0x7F, 0x7FF, 0xFFFF, beyond). Surrogates are
// encoded like any other value; above 0x1FFFFF only the low 21 bits count.
void appendUtf8(std::string& out, uint32_t codePoint);

// The number of bytes that are not continuation bytes (10xxxxxx): the letters of valid
// UTF-8, and a count that never splits one.
size_t codePointCount(std::string_view text);

// The length (1 to 4) of the well-formed UTF-8 sequence that starts at `pos`: shortest
// form, no surrogate, at most U+10FFFF, complete within the text. 0 when the bytes there
// are none, or `pos` is at the end.
size_t utf8SequenceLength(std::string_view text, size_t pos);

// The longest start of `text` of at most `maxBytes` bytes that does not end inside a UTF-8
// character: the cut steps back over at most three continuation bytes; a longer run is no
// UTF-8 and is cut where it is.
std::string_view cutAtCharBoundary(std::string_view text, size_t maxBytes);

// ---- paths ----

// A configured path with every '\' read as '/', so Windows-style values such as
// "..\build\morlaken_server.exe" name the same file on every platform.
std::string forwardSlashes(std::string path);

// ---- secrets ----

// Overwrites every byte the string owns (its whole capacity, so what a longer earlier
// content left behind goes too) with zero, then makes it empty. The capacity is kept. The
// zeros are written even when the string is destroyed right after.
void wipeText(std::string& text);

} // namespace platform
