// account_service.cpp - users file, password hashes, RFC 6238 codes and the answers.
#include "account_service.h"

#include "login/json.h"
#include "login/wipe.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <chrono>
#include <cstdio>
#include <fstream>

namespace devhost {

namespace {

std::string toHexText(const unsigned char* bytes, size_t count) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        out += kHex[bytes[i] >> 4];
        out += kHex[bytes[i] & 15];
    }
    return out;
}

bool fromHexText(const std::string& text, std::string& out) {
    auto v = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    if (text.size() % 2) return false;
    out.clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        int hi = v(text[i]), lo = v(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
    }
    return true;
}

std::vector<std::string> split(const std::string& line, char sep) {
    std::vector<std::string> parts(1);
    for (char c : line)
        if (c == sep)
            parts.emplace_back();
        else
            parts.back() += c;
    return parts;
}

bool derive(const std::string& password, const std::string& salt, int iterations, unsigned char* out) {
    return PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                             reinterpret_cast<const unsigned char*>(salt.data()),
                             static_cast<int>(salt.size()), iterations, EVP_sha256(), 32, out) == 1;
}

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

// ---- password hashes ----

std::string hashPassword(const std::string& password, int iterations) {
    unsigned char salt[16], hash[32];
    if (iterations < 1 || RAND_bytes(salt, sizeof salt) != 1) return {};
    if (!derive(password, std::string(reinterpret_cast<char*>(salt), sizeof salt), iterations, hash))
        return {};
    return "pbkdf2-sha256$" + std::to_string(iterations) + "$" + toHexText(salt, sizeof salt) + "$" +
           toHexText(hash, sizeof hash);
}

bool verifyPassword(const std::string& password, const std::string& stored) {
    auto parts = split(stored, '$');
    if (parts.size() != 4 || parts[0] != "pbkdf2-sha256") return false;
    char* end = nullptr;
    long iterations = std::strtol(parts[1].c_str(), &end, 10);
    std::string salt, expected;
    if (parts[1].empty() || *end || iterations < 1 || iterations > 10000000 || !fromHexText(parts[2], salt) ||
        !fromHexText(parts[3], expected) || expected.size() != 32)
        return false;
    unsigned char hash[32];
    if (!derive(password, salt, static_cast<int>(iterations), hash)) return false;
    return CRYPTO_memcmp(hash, expected.data(), 32) == 0;
}

// ---- RFC 6238 ----

bool decodeBase32(const std::string& text, std::string& outBytes) {
    outBytes.clear();
    uint32_t buffer = 0;
    int bits = 0;
    for (char c : text) {
        if (c == ' ' || c == '=' || c == '-') continue;
        int v;
        if (c >= 'A' && c <= 'Z')
            v = c - 'A';
        else if (c >= 'a' && c <= 'z')
            v = c - 'a';
        else if (c >= '2' && c <= '7')
            v = c - '2' + 26;
        else
            return false;
        buffer = (buffer << 5) | static_cast<uint32_t>(v);
        bits += 5;
        if (bits >= 8) {
            bits -= 8;
            outBytes += static_cast<char>((buffer >> bits) & 0xFF);
        }
    }
    return true;
}

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

bool AccountService::load(const std::string& usersFile, std::string& outError) {
    std::ifstream in(usersFile, std::ios::binary);
    if (!in) {
        outError = "cannot read users file " + usersFile;
        return false;
    }
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        auto f = split(line, '|');
        Account a;
        if (f.size() != 6 || (f[0].empty() && f[1].empty()) || (f[4] != "0" && f[4] != "1") ||
            !decodeBase32(f[3], a.totpKey)) {
            outError =
                usersFile + ":" + std::to_string(number) + ": expected name|email|hash|totp|verified|masked";
            return false;
        }
        a.name = f[0];
        a.email = f[1];
        a.passwordHash = f[2];
        a.verified = f[4] == "1";
        a.maskedEmail = f[5];
        accounts_.push_back(std::move(a));
    }
    return true;
}

bool AccountService::handle(const tinyhttp::Request& request, tinyhttp::Stream& stream, int& outStatus) {
    if (request.method != "POST" || request.path != base_ + "ticket") return false;
    std::string user, password, code;
    bool hasCode = jsonGetTopLevelString(request.body, "totpCode", code);
    if (!jsonGetTopLevelString(request.body, "username", user) ||
        !jsonGetTopLevelString(request.body, "password", password) || user.empty()) {
        answer(stream, outStatus = 400, messageBody("Geçersiz istek."));
        return true;
    }
    size_t index = accounts_.size();
    for (size_t i = 0; i < accounts_.size() && index == accounts_.size(); ++i)
        if ((!accounts_[i].name.empty() && accounts_[i].name == user) ||
            (!accounts_[i].email.empty() && accounts_[i].email == user))
            index = i;
    if (index == accounts_.size()) {
        verifyPassword(password, hashPassword("", kPbkdf2Iterations)); // same work as a known name
        wipeText(password);
        answer(stream, outStatus = 401, messageBody("INVALID_CREDENTIALS"));
        return true;
    }
    const Account& account = accounts_[index];
    const int64_t now = unixSeconds();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Record& r = records_[index];
        if (r.lockedUntil > now) {
            wipeText(password);
            answer(stream, outStatus = 429,
                   messageBody("Çok fazla hatalı deneme. Biraz bekleyip tekrar dene."));
            return true;
        }
    }
    bool passwordOk = verifyPassword(password, account.passwordHash);
    wipeText(password);
    std::lock_guard<std::mutex> lock(mutex_);
    Record& r = records_[index];
    auto fail = [&](const char* message) {
        if (++r.failures >= kMaxFailures) {
            r.failures = 0;
            r.lockedUntil = now + kLockSeconds;
        }
        answer(stream, outStatus = 401, messageBody(message));
        return true;
    };
    if (!passwordOk) return fail("INVALID_CREDENTIALS");
    if (!account.verified) {
        answer(stream, outStatus = 403,
               "{\"message\":\"EMAIL_NOT_VERIFIED\",\"maskedEmail\":" + jsonQuote(account.maskedEmail) + "}");
        return true;
    }
    if (!account.totpKey.empty()) {
        if (!hasCode || code.empty()) {
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
    unsigned char ticket[32];
    if (RAND_bytes(ticket, sizeof ticket) != 1) {
        answer(stream, outStatus = 500, messageBody("Bilet üretilemedi."));
        return true;
    }
    answer(stream, outStatus = 200, "{\"ticket\":\"" + toHexText(ticket, sizeof ticket) + "\"}");
    return true;
}

} // namespace devhost
