// signature_fuzz.cpp - the layout of a signed file list (splitSignedList), the sequence
// number rule (parseSequenceNumber) and the launcher's record of accepted sequences
// (parseSequenceRecord).
//
// Property: an accepted list ends in exactly one signature line (one optional CR and LF
// after it) whose hex is the parsed signature, the part it covers ends at a line break and
// holds exactly one sequence line, with the parsed number, and no other signature line;
// and the covered part, signed afresh, verifies, while the same part with one byte
// changed does not. The whole input is a sequence number exactly when it is 1 to 19
// digits worth at most kMaxSequence, and then its value. An accepted record writes back
// as text that reads back the same.
#include "fuzz_check.h"
#include "update/signature.h"

#include <cstdint>
#include <map>
#include <string>

namespace {

void checkSequenceNumber(std::string_view text) {
    uint64_t value = 0;
    const bool accepted = parseSequenceNumber(text, value);
    const bool digitsOnly =
        !text.empty() && text.size() <= 19 && text.find_first_not_of("0123456789") == std::string_view::npos;
    if (!digitsOnly) {
        FUZZ_CHECK(!accepted);
        return;
    }
    const unsigned long long expected = std::stoull(std::string(text)); // 19 digits fit
    FUZZ_CHECK(accepted == (expected <= kMaxSequence));
    if (accepted) FUZZ_CHECK(value == expected);
}

void checkRecord(std::string_view text) {
    std::map<std::string, uint64_t> records;
    if (!parseSequenceRecord(text, records)) return;
    std::map<std::string, uint64_t> again;
    FUZZ_CHECK(parseSequenceRecord(sequenceRecordText(records), again) && again == records);
    FUZZ_CHECK(text.find('\r') == std::string_view::npos);
}

struct FixedKey {
    ListPublicKey pub{};
    ListSecretKey secret{};
    FixedKey() { newListKeyPair(pub, secret); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    checkSequenceNumber(body);
    checkRecord(body);
    SignedListParts parts;
    if (!splitSignedList(body, parts)) return 0;

    FUZZ_CHECK(parts.signedLength > 0 && parts.signedLength < body.size());
    FUZZ_CHECK(body[parts.signedLength - 1] == '\n');
    std::string_view last = body.substr(parts.signedLength);
    if (!last.empty() && last.back() == '\n') last.remove_suffix(1);
    if (!last.empty() && last.back() == '\r') last.remove_suffix(1);
    FUZZ_CHECK(last == std::string(kSignatureLinePrefix) +
                           platform::toHex(parts.signature.data(), parts.signature.size()));

    const std::string_view covered = body.substr(0, parts.signedLength);
    int sequenceLines = 0;
    for (size_t pos = 0; pos < covered.size();) {
        size_t end = covered.find('\n', pos);
        std::string_view line = covered.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        FUZZ_CHECK(line.substr(0, 6) != "# imza");
        if (line.substr(0, kSequenceLinePrefix.size()) == kSequenceLinePrefix) {
            ++sequenceLines;
            FUZZ_CHECK(line.substr(kSequenceLinePrefix.size()).find_first_not_of("0123456789") ==
                       std::string::npos);
            FUZZ_CHECK(std::stoull(std::string(line.substr(kSequenceLinePrefix.size()))) == parts.sequence);
        }
    }
    FUZZ_CHECK(sequenceLines == 1);

    static const FixedKey key;
    const std::string resigned = std::string(covered) + signatureLine(covered, key.secret);
    uint64_t sequence = 0;
    FUZZ_CHECK(verifySignedList(resigned, key.pub, sequence) && sequence == parts.sequence);
    std::string altered = resigned;
    altered[size % parts.signedLength] ^= 0x20;
    FUZZ_CHECK(!verifySignedList(altered, key.pub, sequence));
    return 0;
}
