// signature.h - signed file lists: the sequence and signature lines a studio adds to
// "dosyalar.txt" with morlaken-publish, and the record of the highest sequence accepted.
//
// A signed list ends with "# imza " and 128 lowercase hex digits (an Ed25519 signature,
// libsodium) on its own last line; the signature covers every byte of the list before
// that line. Somewhere before it stands exactly one "# sira " line with a decimal number
// that grows with every signing. Both are comment lines, so a launcher without a key reads
// a signed list exactly like an unsigned one.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

inline constexpr const char* kListKeyName = "liste_anahtari"; // varsayilan.ini only
// The lowest sequence a fresh install accepts (the list the package was made from), so a
// deleted record does not open the door to every older list. varsayilan.ini only.
inline constexpr const char* kListFloorName = "liste_sirasi";
inline constexpr const char* kSequenceFile = "guncelleme.sira";
inline constexpr const char* kListUnverified = "Güncelleme listesi doğrulanamadı";
inline constexpr std::string_view kSequenceLinePrefix = "# sira ";
inline constexpr std::string_view kSignatureLinePrefix = "# imza ";

using ListPublicKey = std::array<uint8_t, 32>;
using ListSecretKey = std::array<uint8_t, 64>;
using ListSignature = std::array<uint8_t, 64>;

// A sequence number as every reader and writer spells it: 1 to 19 ASCII digits (leading
// zeros allowed) with a value of at most kMaxSequence. The one rule for the list's
// "# sira " line, the launcher's record, the floor and morlaken-publish. Pure; fuzzed.
inline constexpr uint64_t kMaxSequence = 9223372036854775807ull; // 2^63 - 1
bool parseSequenceNumber(std::string_view digits, uint64_t& out);

// Where the signature sits in a list. Pure; any thread; the fuzzed parser.
struct SignedListParts {
    size_t signedLength = 0; // bytes before the signature line: what the signature covers
    uint64_t sequence = 0;
    ListSignature signature{};
};
// True when the last line (one trailing LF, and a CR before it, allowed) is a signature
// line, no earlier line starts with "# imza", and the covered part holds exactly one
// well-formed "# sira " line (parseSequenceNumber).
bool splitSignedList(std::string_view body, SignedListParts& out);

// 64 hex digits (either case) to a key; false for anything else.
bool parseListPublicKey(std::string_view hex, ListPublicKey& out);

// True when `body` is split as above and its signature verifies under `key`.
bool verifySignedList(std::string_view body, const ListPublicKey& key, uint64_t& outSequence);

// The record of accepted sequences: "KEYHEX SEQUENCE" LF per key (lowercase hex), always
// written whole through a temporary file renamed over the old one. Pure; fuzzed. False
// when any line is not of that form (`out` then holds what came before it).
bool parseSequenceRecord(std::string_view text, std::map<std::string, uint64_t>& out);
std::string sequenceRecordText(const std::map<std::string, uint64_t>& records);

enum class SequenceRecord {
    Missing, // no file: nothing accepted yet, or deleted (the shipped floor stands in)
    Read,    // read whole; a key it does not name has accepted nothing
    Damaged, // there but unreadable or malformed: since it is only ever replaced whole,
             // someone changed it, and nothing it vouched for can be trusted
};
// The highest sequence accepted so far for `keyHex` in `file` (0 unless Read and named).
SequenceRecord readAcceptedSequence(const std::string& keyHex, uint64_t& outSequence,
                                    const std::string& file = kSequenceFile);
// Raises the record of `keyHex` to `sequence`, keeping other keys' records. False when the
// record is damaged or could not be written (the old one then stays as it was).
bool recordAcceptedSequence(const std::string& keyHex, uint64_t sequence,
                            const std::string& file = kSequenceFile);

// ---- signing (morlaken-publish) ----
void newListKeyPair(ListPublicKey& outPublic, ListSecretKey& outSecret);
// The signature line ("# imza " + hex + LF) for `covered`, which must end with LF.
std::string signatureLine(std::string_view covered, const ListSecretKey& secret);
