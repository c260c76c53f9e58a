// accounts.cpp - users file, PBKDF2 password hashes, base32 secrets.
#include "accounts.h"

#include "platform/lines.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "update/sha256.h"

#include <sodium.h>

#include <cstdlib>
#include <cstring>
#include <map>

namespace devhost {

namespace {

bool sodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
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

std::vector<std::string> split(std::string_view line, char sep) {
    std::vector<std::string> parts(1);
    for (char c : line)
        if (c == sep)
            parts.emplace_back();
        else
            parts.back() += c;
    return parts;
}

// PBKDF2-HMAC-SHA-256 (RFC 8018), one 32-byte block, on the launcher's own SHA-256 (which
// uses the processor's SHA extensions where it has them). The two keyed states are set up
// once and copied for every round, so a round costs two compressions, not four.
void derive(const std::string& password, const std::string& salt, long iterations, uint8_t out[32]) {
    uint8_t key[64] = {};
    if (password.size() > sizeof key) {
        Sha256 h;
        h.update(password.data(), password.size());
        const std::vector<uint8_t> digest = h.finish();
        std::memcpy(key, digest.data(), digest.size());
    } else {
        std::memcpy(key, password.data(), password.size());
    }
    uint8_t pad[64];
    Sha256 inner, outer;
    for (size_t i = 0; i < sizeof pad; ++i)
        pad[i] = key[i] ^ 0x36;
    inner.update(pad, sizeof pad);
    for (size_t i = 0; i < sizeof pad; ++i)
        pad[i] = key[i] ^ 0x5c;
    outer.update(pad, sizeof pad);
    sodium_memzero(key, sizeof key);
    sodium_memzero(pad, sizeof pad);

    auto mac = [&](const std::vector<uint8_t>& innerDigest) {
        Sha256 h = outer;
        h.update(innerDigest.data(), innerDigest.size());
        return h.finish();
    };
    const uint8_t blockIndex[4] = {0, 0, 0, 1};
    Sha256 round = inner;
    round.update(salt.data(), salt.size());
    round.update(blockIndex, sizeof blockIndex);
    std::vector<uint8_t> u = mac(round.finish());
    std::memcpy(out, u.data(), 32);
    for (long i = 1; i < iterations; ++i) {
        round = inner;
        round.update(u.data(), u.size());
        u = mac(round.finish());
        for (int j = 0; j < 32; ++j)
            out[j] ^= u[j];
    }
    sodium_memzero(u.data(), u.size());
    sodium_memzero(&inner, sizeof inner);
    sodium_memzero(&outer, sizeof outer);
    sodium_memzero(&round, sizeof round);
}

// "pbkdf2-sha256$ITER$SALT$HASH" into its rounds, salt and 32-byte hash; false when malformed.
bool parseHash(const std::string& stored, long& outIterations, std::string& outSalt, std::string& outHash) {
    auto parts = split(stored, '$');
    if (parts.size() != 4 || parts[0] != "pbkdf2-sha256") return false;
    char* end = nullptr;
    outIterations = std::strtol(parts[1].c_str(), &end, 10);
    return !parts[1].empty() && !*end && outIterations >= 1 && outIterations <= kMaxPbkdf2Iterations &&
           fromHexText(parts[2], outSalt) && fromHexText(parts[3], outHash) && outHash.size() == 32;
}

} // namespace

// ---- password hashes ----

std::string hashPassword(const std::string& password, int iterations) {
    if (iterations < 1 || iterations > kMaxPbkdf2Iterations || !sodiumReady()) return {};
    uint8_t salt[16], hash[32];
    randombytes_buf(salt, sizeof salt);
    derive(password, std::string(reinterpret_cast<char*>(salt), sizeof salt), iterations, hash);
    return "pbkdf2-sha256$" + std::to_string(iterations) + "$" + platform::toHex(salt, sizeof salt) + "$" +
           platform::toHex(hash, sizeof hash);
}

bool verifyPassword(const std::string& password, const std::string& stored) {
    long iterations = 0;
    std::string salt, expected;
    if (!parseHash(stored, iterations, salt, expected) || !sodiumReady()) return false;
    uint8_t hash[32];
    derive(password, salt, iterations, hash);
    const bool same = sodium_memcmp(hash, expected.data(), 32) == 0;
    sodium_memzero(hash, sizeof hash);
    return same;
}

long pbkdf2Rounds(const std::string& stored) {
    long iterations = 0;
    std::string salt, hash;
    return parseHash(stored, iterations, salt, hash) ? iterations : 0;
}

// ---- base32 ----

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

std::string randomHex(size_t count) {
    if (!sodiumReady()) return {};
    std::vector<uint8_t> bytes(count);
    randombytes_buf(bytes.data(), bytes.size());
    return platform::toHex(bytes.data(), bytes.size());
}

// ---- the users file ----

bool parseAccounts(std::string_view text, const std::string& name, std::vector<Account>& outAccounts,
                   std::string& outError) {
    outAccounts.clear();
    platform::LineReader lines(text);
    std::string_view line;
    int number = 0;
    while (lines.next(line)) {
        ++number;
        if (line.empty() || line[0] == '#') continue;
        auto f = split(line, '|');
        Account a;
        if (f.size() != 6 || (f[0].empty() && f[1].empty()) || (f[4] != "0" && f[4] != "1") ||
            !decodeBase32(f[3], a.totpKey)) {
            outError =
                name + ":" + std::to_string(number) + ": expected name|email|hash|totp|verified|masked";
            outAccounts.clear();
            return false;
        }
        a.name = f[0];
        a.email = f[1];
        a.passwordHash = f[2];
        a.verified = f[4] == "1";
        a.maskedEmail = f[5];
        outAccounts.push_back(std::move(a));
    }
    return true;
}

bool loadAccounts(const std::string& usersFile, std::vector<Account>& outAccounts, std::string& outError) {
    std::string text;
    if (!platform::readWholeFile(usersFile, text)) {
        outAccounts.clear();
        outError = "cannot read users file " + usersFile;
        return false;
    }
    return parseAccounts(text, usersFile, outAccounts, outError);
}

const Account* findAccount(const std::vector<Account>& accounts, const std::string& user) {
    if (user.empty()) return nullptr;
    for (const Account& account : accounts)
        if (account.name == user || account.email == user) return &account;
    return nullptr;
}

// ---- logins ----

std::string decoyHash(const std::vector<Account>& accounts) {
    std::map<long, int> uses;
    for (const Account& account : accounts)
        if (long rounds = pbkdf2Rounds(account.passwordHash)) ++uses[rounds];
    long rounds = kPbkdf2Iterations;
    int most = 0;
    for (const auto& [r, n] : uses)
        if (n > most) {
            most = n;
            rounds = r;
        }
    const std::string password = randomHex(16);
    return password.empty() ? std::string() : hashPassword(password, static_cast<int>(rounds));
}

const std::string& loginHash(const std::vector<Account>& accounts, const std::string& decoy,
                             const std::string& user, const Account*& outAccount) {
    outAccount = findAccount(accounts, user);
    return outAccount ? outAccount->passwordHash : decoy;
}

// ---- console ----

std::string consoleText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    auto escape = [&](unsigned char c) {
        out += "\\x";
        platform::appendHex(out, &c, 1);
    };
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\\') {
            out += "\\\\";
            ++i;
            continue;
        }
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        // A well-formed UTF-8 sequence stays whole unless it is a C1 control (C2 80 to C2 9F);
        // anything else goes byte by byte.
        const size_t length = platform::utf8SequenceLength(text, i);
        const bool whole = length > 1 && !(c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0);
        if (whole) {
            out.append(text.substr(i, length));
            i += length;
        } else {
            escape(c);
            ++i;
        }
    }
    return out;
}

} // namespace devhost
