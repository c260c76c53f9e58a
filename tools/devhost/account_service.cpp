// account_service.cpp - RFC 6238 codes and the answers of the account service.
#include "account_service.h"

#include "login/json.h"
#include "platform/text.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <chrono>
#include <cstdio>

namespace devhost {

namespace {

int64_t unixSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void answer(tinyhttp::Stream& stream, int status, const std::string& body) {
    stream.sendResponse(status, body, "application/json; charset=utf-8");
}

std::string messageBody(const std::string& message) {
    return "{\"message\":" + jsonQuote(message) + "}";
}

} // namespace

// ---- RFC 6238 ----

std::string totpCode(const std::string& key, uint64_t counter, int digits) {
    unsigned char message[8];
    for (int i = 7; i >= 0; --i) {
        message[i] = static_cast<unsigned char>(counter & 0xFF);
        counter >>= 8;
    }
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int macLength = 0;
    if (!HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()), message, sizeof message, mac,
              &macLength) ||
        macLength < 20)
        return {};
    int offset = mac[macLength - 1] & 0x0F;
    uint32_t binary = (static_cast<uint32_t>(mac[offset] & 0x7F) << 24) |
                      (static_cast<uint32_t>(mac[offset + 1]) << 16) |
                      (static_cast<uint32_t>(mac[offset + 2]) << 8) | mac[offset + 3];
    uint32_t modulus = 1;
    for (int i = 0; i < digits; ++i)
        modulus *= 10;
    char text[16];
    std::snprintf(text, sizeof text, "%0*u", digits, binary % modulus);
    return text;
}

// ---- the service ----

bool AccountService::handle(const tinyhttp::Request& request, tinyhttp::Stream& stream, int& outStatus) {
    if (request.method != "POST" || request.path != base_ + "ticket") return false;
    std::string user, password, code;
    bool hasCode = jsonGetTopLevelString(request.body, "totpCode", code);
    if (!jsonGetTopLevelString(request.body, "username", user) ||
        !jsonGetTopLevelString(request.body, "password", password) || user.empty()) {
        answer(stream, outStatus = 400, messageBody("Geçersiz istek."));
        return true;
    }
    const Account* found = nullptr;
    const std::string& hash = loginHash(accounts_, decoy_, user, found);
    const int64_t now = unixSeconds();
    Record* record = nullptr; // map nodes stay where they are
    if (found) {
        std::lock_guard<std::mutex> lock(mutex_);
        Record& r = records_[static_cast<size_t>(found - accounts_.data())];
        if (r.lockedUntil > now || r.failures >= kMaxFailures) {
            platform::wipeText(password);
            answer(stream, outStatus = 429,
                   messageBody("Çok fazla hatalı deneme. Biraz bekleyip tekrar dene."));
            return true;
        }
        ++r.failures; // given back below when the attempt does not fail
        record = &r;
    }
    const bool passwordOk = verifyPassword(password, hash); // an unknown name checks the decoy
    platform::wipeText(password);
    if (!found) {
        answer(stream, outStatus = 401, messageBody("INVALID_CREDENTIALS"));
        return true;
    }
    const Account& account = *found;
    std::lock_guard<std::mutex> lock(mutex_);
    Record& r = *record;
    auto fail = [&](const char* message) {
        if (r.failures >= kMaxFailures) {
            r.failures = 0;
            r.lockedUntil = now + kLockSeconds;
        }
        answer(stream, outStatus = 401, messageBody(message));
        return true;
    };
    auto giveBack = [&] {
        if (r.failures > 0) --r.failures;
    };
    if (!passwordOk) return fail("INVALID_CREDENTIALS");
    if (!account.verified) {
        giveBack();
        answer(stream, outStatus = 403,
               "{\"message\":\"EMAIL_NOT_VERIFIED\",\"maskedEmail\":" + jsonQuote(account.maskedEmail) + "}");
        return true;
    }
    if (!account.totpKey.empty()) {
        if (!hasCode || code.empty()) {
            giveBack();
            answer(stream, outStatus = 401, messageBody("TOTP_REQUIRED"));
            return true;
        }
        const int64_t step = now / kTotpStepSeconds;
        int64_t accepted = -1;
        if (code.size() == 6)
            for (int64_t s = step - 1; s <= step + 1 && accepted < 0; ++s)
                if (s > r.lastCounter && totpCode(account.totpKey, static_cast<uint64_t>(s)) == code)
                    accepted = s;
        if (accepted < 0) return fail("TOTP_INVALID"); // wrong, or used once already
        r.lastCounter = accepted;
    }
    r.failures = 0;
    const std::string ticket = randomHex(32);
    if (ticket.empty()) {
        answer(stream, outStatus = 500, messageBody("Bilet üretilemedi."));
        return true;
    }
    answer(stream, outStatus = 200, "{\"ticket\":\"" + ticket + "\"}");
    return true;
}

} // namespace devhost
