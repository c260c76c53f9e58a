// json.h - the small JSON scanner and quoting used by the account login.
//
// Not a parser: the account service's answers are read by a scan that finds string
// members of the outermost object, and requests are built by quoting each value. The
// exact rules are part of the login's wire behaviour. Any thread; no state.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Appends `text` as a quoted JSON string literal to `out`: '"' and '\' are escaped with a
// backslash, every byte below 0x20 becomes "\u00XX" (lower-case hex, so a line feed is
// \u000a), every other byte (0x7F and all bytes from 0x80 up included) is copied as is, so
// UTF-8 passes through. Grows `out` by at most 6 * size + 2 bytes; a caller that reserved
// that much gets no reallocation (secrets leave no stray copy behind).
void jsonQuoteAppend(std::string& out, std::string_view text);
std::string jsonQuote(std::string_view text);

// Reads the string whose opening quote is at `openQuote` into `outValue` (replaced).
// Returns the index where reading stopped: the closing quote, or json.size() when the
// text ends first. Escapes: \n \t \r give their byte; \b and \f give nothing; \uXXXX
// (either case) gives that code point as UTF-8, a D800-DBFF value directly followed by
// another \uXXXX being combined with it as a pair (high * 1024 + low - 0x35FDC00, the
// second value not checked); a \u without four hex digits stores the 'u'; any other
// escaped byte is stored as itself; a final lone backslash is stored as itself.
// `outValue` never needs more than the bytes read, and is reserved up front so it is
// never reallocated while it fills.
size_t jsonReadString(std::string_view json, size_t openQuote, std::string& outValue);

// Finds the first member `key` of the outermost object whose value is a string. Scan:
// '{' and '[' deepen, '}' and ']' rise; each string is read with jsonReadString; one that
// is followed (after blanks, tabs, CR, LF) by a colon is a key. At depth 1 and equal to
// `key` byte for byte, the value decides: a string with its closing quote is read into
// `outValue` (true); anything else, a string the text ends in included, returns false at
// once and leaves `outValue` empty (and wiped). False at the end of the text.
// The scratch space that held other strings of the text is wiped before it is freed.
bool jsonGetTopLevelString(std::string_view json, std::string_view key, std::string& outValue);
