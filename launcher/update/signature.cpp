// signature.cpp - Ed25519 signed file lists on libsodium, and the accepted-sequence record.
//
// Index
//   ---- hex ----
//   ---- the signature layout ----
//   ---- verifying and signing ----
//   ---- accepted sequences ----
#include "update/signature.h"

#include "platform/lines.h"
#include "platform/platform.h"
#include "platform/text.h"

#include <sodium.h>

#include <algorithm>
#include <map>
#include <mutex>

namespace {

constexpr size_t kMaxSequenceDigits = 19; // kMaxSequence has 19

// libsodium's start is process-wide state of the library, so the once that guards it is too.
void initSodium() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (sodium_init() < 0) std::abort(); // no usable random source: nothing can be trusted
    });
}

// ---- hex ----

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool parseHex(std::string_view hex, uint8_t* out, size_t count, bool lowerOnly) {
    if (hex.size() != count * 2) return false;
    for (size_t i = 0; i < count; ++i) {
        int hi = hexValue(hex[2 * i]), lo = hexValue(hex[2 * i + 1]);
        if (hi < 0 || lo < 0) return false;
        if (lowerOnly &&
            ((hex[2 * i] >= 'A' && hex[2 * i] <= 'F') || (hex[2 * i + 1] >= 'A' && hex[2 * i + 1] <= 'F')))
            return false;
        out[i] = static_cast<uint8_t>(hi * 16 + lo);
    }
    return true;
}

} // namespace

bool parseListPublicKey(std::string_view hex, ListPublicKey& out) {
    return parseHex(hex, out.data(), out.size(), false);
}

bool parseSequenceNumber(std::string_view digits, uint64_t& out) {
    if (digits.empty() || digits.size() > kMaxSequenceDigits) return false;
    uint64_t value = 0; // 19 digits stay below 2^64
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > kMaxSequence) return false;
    out = value;
    return true;
}

// ---- the signature layout ----

bool splitSignedList(std::string_view body, SignedListParts& out) {
    std::string_view rest = body;
    if (!rest.empty() && rest.back() == '\n') rest.remove_suffix(1);
    if (!rest.empty() && rest.back() == '\r') rest.remove_suffix(1);
    const size_t lastLineStart = rest.rfind('\n') == std::string_view::npos ? 0 : rest.rfind('\n') + 1;
    if (lastLineStart == 0) return false; // a list is at least its header line, then the signature
    const std::string_view last = rest.substr(lastLineStart);
    if (!last.starts_with(kSignatureLinePrefix) ||
        !parseHex(last.substr(kSignatureLinePrefix.size()), out.signature.data(), out.signature.size(), true))
        return false;

    out.signedLength = lastLineStart;
    int sequenceLines = 0;
    platform::LineReader lines(body.substr(0, lastLineStart));
    std::string_view line;
    while (lines.next(line)) {
        if (line.starts_with("# imza")) return false; // a second signature line
        if (!line.starts_with(kSequenceLinePrefix)) continue;
        if (++sequenceLines > 1 ||
            !parseSequenceNumber(line.substr(kSequenceLinePrefix.size()), out.sequence))
            return false;
    }
    return sequenceLines == 1;
}

// ---- verifying and signing ----

bool verifySignedList(std::string_view body, const ListPublicKey& key, uint64_t& outSequence) {
    SignedListParts parts;
    if (!splitSignedList(body, parts)) return false;
    initSodium();
    if (crypto_sign_verify_detached(parts.signature.data(),
                                    reinterpret_cast<const unsigned char*>(body.data()), parts.signedLength,
                                    key.data()) != 0)
        return false;
    outSequence = parts.sequence;
    return true;
}

void newListKeyPair(ListPublicKey& outPublic, ListSecretKey& outSecret) {
    initSodium();
    crypto_sign_keypair(outPublic.data(), outSecret.data());
}

std::string signatureLine(std::string_view covered, const ListSecretKey& secret) {
    initSodium();
    ListSignature signature{};
    crypto_sign_detached(signature.data(), nullptr, reinterpret_cast<const unsigned char*>(covered.data()),
                         covered.size(), secret.data());
    return std::string(kSignatureLinePrefix) + platform::toHex(signature.data(), signature.size()) + "\n";
}

// ---- accepted sequences ----

bool parseSequenceRecord(std::string_view text, std::map<std::string, uint64_t>& out) {
    // Read as written: LF line ends only, so a stray CR is damage like any other byte.
    platform::LineReader lines(text, platform::LineReader::CarriageReturn::Keep);
    std::string_view line;
    while (lines.next(line)) {
        const size_t blank = line.find(' ');
        ListPublicKey key;
        uint64_t sequence = 0;
        if (blank == std::string_view::npos || !parseListPublicKey(line.substr(0, blank), key) ||
            !parseSequenceNumber(line.substr(blank + 1), sequence))
            return false;
        uint64_t& kept = out[platform::toHex(key.data(), key.size())];
        kept = std::max(kept, sequence);
    }
    return true;
}

std::string sequenceRecordText(const std::map<std::string, uint64_t>& records) {
    std::string text;
    for (const auto& [key, value] : records)
        text += key + " " + std::to_string(value) + "\n";
    return text;
}

namespace {

SequenceRecord readRecords(const std::string& file, std::map<std::string, uint64_t>& out) {
    if (platform::entryType(file) == platform::EntryType::Missing) return SequenceRecord::Missing;
    std::string text;
    // Never empty as written: at least the line of the key that was accepted.
    if (!platform::readWholeFile(file, text) || text.empty() || text.back() != '\n' ||
        !parseSequenceRecord(text, out))
        return SequenceRecord::Damaged;
    return SequenceRecord::Read;
}

std::string normalisedKey(const std::string& keyHex) {
    ListPublicKey key;
    return parseListPublicKey(keyHex, key) ? platform::toHex(key.data(), key.size()) : keyHex;
}

} // namespace

SequenceRecord readAcceptedSequence(const std::string& keyHex, uint64_t& outSequence,
                                    const std::string& file) {
    std::map<std::string, uint64_t> records;
    const SequenceRecord state = readRecords(file, records);
    auto it = records.find(normalisedKey(keyHex));
    outSequence = state == SequenceRecord::Read && it != records.end() ? it->second : 0;
    return state;
}

bool recordAcceptedSequence(const std::string& keyHex, uint64_t sequence, const std::string& file) {
    std::map<std::string, uint64_t> records;
    const SequenceRecord state = readRecords(file, records);
    if (state == SequenceRecord::Damaged) return false;
    const std::string key = normalisedKey(keyHex);
    auto it = records.find(key);
    if (state == SequenceRecord::Read && it != records.end() && it->second >= sequence) return true;
    records[key] = sequence;
    return platform::writeFileAtomically(file, sequenceRecordText(records));
}
