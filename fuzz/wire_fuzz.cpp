// wire_fuzz.cpp - libFuzzer harness for every game-server message the launcher decodes
// (news answer, login accepted, login refused, rejected) and the server's reading of the
// login request.
//
// Properties checked on every input (not only "no crash"):
//   - whatever decodes re-encodes to exactly the bytes it was read from (the consumed
//     prefix; trailing bytes are not part of the message);
//   - every decoded text is within its limit (64 bytes, a news body 2000);
//   - a failed news answer hands no item up;
//   - a login request the server accepts is exactly 8 + n + m bytes and re-encodes to
//     the same bytes.
#include "fuzz_check.h"
#include "login/wire.h"

#include <cstdint>
#include <string>
#include <string_view>

using namespace wire;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    if (input.empty()) return 0;

    // Each decoder is fed the input under its own type byte, so every shape reaches each.
    std::string typed(input);

    typed[0] = static_cast<char>(kNewsAnswer);
    const NewsAnswer news = decodeNewsAnswer(typed);
    FUZZ_CHECK(news.hasCount == (typed.size() >= 2));
    if (news.ok) {
        FUZZ_CHECK(encodeNewsAnswer(news.items) == typed.substr(0, news.consumed));
        for (const NewsItem& item : news.items)
            FUZZ_CHECK(item.tag.size() <= kMaxText && item.title.size() <= kMaxText &&
                       item.body.size() <= kMaxBody);
    } else {
        FUZZ_CHECK(news.items.empty());
    }

    typed[0] = static_cast<char>(kLoginAccepted);
    const LoginAccepted accepted = decodeLoginAccepted(typed);
    if (accepted.ok) {
        FUZZ_CHECK(!accepted.ticket.empty() && accepted.ticket.size() <= kMaxText);
        FUZZ_CHECK(encodeLoginAccepted(accepted.account, accepted.ticket) ==
                   typed.substr(0, accepted.consumed));
    }

    typed[0] = static_cast<char>(kLoginRefused);
    const LoginRefused refused = decodeLoginRefused(typed);
    FUZZ_CHECK(refused.message.size() <= kMaxText);
    if (refused.ok)
        FUZZ_CHECK(encodeLoginRefused(refused.reason, refused.message) == typed.substr(0, refused.consumed));
    if (typed.size() < 2) FUZZ_CHECK(refused.reason == 0);

    typed[0] = static_cast<char>(kRejected);
    const Rejected rejected = decodeRejected(typed);
    if (rejected.ok) FUZZ_CHECK(encodeRejected(rejected.reason) == typed.substr(0, rejected.consumed));

    typed[0] = static_cast<char>(kLoginRequest);
    LoginRequest request;
    std::string reason;
    if (decodeLoginRequest(typed, request, reason)) {
        FUZZ_CHECK(typed.size() == 8 + request.user.size() + request.password.size());
        FUZZ_CHECK(encodeLoginRequest(request.user, request.password, request.version) == typed);
    } else {
        FUZZ_CHECK(!reason.empty());
    }
    return 0;
}
