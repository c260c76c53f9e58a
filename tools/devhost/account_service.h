// account_service.h - the development account service of morlaken-devhost.
//
// POST <base>ticket with {"username":..,"password":..[,"totpCode":..]} answers:
//   200 {"ticket":"<32 random bytes in hex>"}
//   401 {"message":"INVALID_CREDENTIALS"}  unknown user or wrong password
//   403 {"message":"EMAIL_NOT_VERIFIED","maskedEmail":".."}
//   401 {"message":"TOTP_REQUIRED"}        the account has a secret and no code came
//   401 {"message":"TOTP_INVALID"}         wrong code, or a code already used once
//   429 {"message":"Çok fazla hatalı deneme. Biraz bekleyip tekrar dene."} after
//       kMaxFailures wrong passwords or codes in a row for one account, for kLockSeconds
//   400 {"message":"Geçersiz istek."}      a body without a user name or password string
//
// The users file: one account per line, '#' starts a comment line, fields split by '|':
//   name|email|password-hash|totp-secret|verified|masked-email
// name or email (either may be empty) logs in; password-hash is what
// `morlaken-devhost --hash-password PASS` prints ("pbkdf2-sha256$ITER$SALT$HASH", salt and
// hash in hex); totp-secret is base32 (RFC 4648; case, blanks and '=' ignored), empty = no
// two-step code; verified is "1" or "0"; masked-email is sent with EMAIL_NOT_VERIFIED.
// Codes follow RFC 6238: HMAC-SHA1, 30 s steps, 6 digits, one step of drift either way.
#pragma once

#include "tiny_http.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace devhost {

// ---- tunables ----
inline constexpr int kPbkdf2Iterations = 100000;
inline constexpr int kMaxFailures = 5;
inline constexpr int kLockSeconds = 300;
inline constexpr int kTotpStepSeconds = 30;

// "pbkdf2-sha256$ITER$SALT$HASH" for `password` with a fresh random salt; "" on failure.
std::string hashPassword(const std::string& password, int iterations = kPbkdf2Iterations);
bool verifyPassword(const std::string& password, const std::string& stored);

// Base32 (RFC 4648) to bytes; false on a character outside the alphabet.
bool decodeBase32(const std::string& text, std::string& outBytes);
// RFC 4226/6238 code of `key` for time step `counter`, `digits` long (leading zeros kept).
std::string totpCode(const std::string& key, uint64_t counter, int digits = 6);

struct Account {
    std::string name, email, passwordHash, totpKey, maskedEmail;
    bool verified = true;
};

class AccountService {
  public:
    // Reads the users file; false with `outError` on a malformed line.
    bool load(const std::string& usersFile, std::string& outError);
    // `base` is the path the service lives under, ending in '/' ("/hesap/").
    void setBase(const std::string& base) { base_ = base; }
    // True when the request was for the service (it then answered); the status sent goes
    // to `outStatus`.
    bool handle(const tinyhttp::Request& request, tinyhttp::Stream& stream, int& outStatus);
    // The accounts read (morlaken_server logs in from the same users file).
    const std::vector<Account>& accounts() const { return accounts_; }

  private:
    struct Record {
        int failures = 0;
        int64_t lockedUntil = 0;
        int64_t lastCounter = -1; // the last time step whose code was accepted
    };
    std::string base_ = "/hesap/";
    std::vector<Account> accounts_;
    std::map<size_t, Record> records_;
    std::mutex mutex_;
};

} // namespace devhost
