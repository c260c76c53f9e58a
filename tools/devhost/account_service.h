// account_service.h - the development account service of morlaken-devhost.
//
// POST <base>ticket with {"username":..,"password":..[,"totpCode":..]} answers:
//   200 {"ticket":"<32 random bytes in hex>"}
//   401 {"message":"INVALID_CREDENTIALS"}  unknown user or wrong password
//   403 {"message":"EMAIL_NOT_VERIFIED","maskedEmail":".."}
//   401 {"message":"TOTP_REQUIRED"}        the account has a secret and no code came
//   401 {"message":"TOTP_INVALID"}         wrong code, or a code already used once
//   429 {"message":"Çok fazla hatalı deneme. Biraz bekleyip tekrar dene."} after
//       kMaxFailures wrong passwords or codes in a row for one account, for kLockSeconds,
//       and while kMaxFailures attempts for it are being checked
//   400 {"message":"Geçersiz istek."}      a body without a user name or password string
//
// The users file and its password hashes: accounts.h.
// Codes follow RFC 6238: HMAC-SHA1, 30 s steps, 6 digits, one step of drift either way.
#pragma once

#include "accounts.h"
#include "tiny_http.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace devhost {

// ---- tunables ----
inline constexpr int kMaxFailures = 5;
inline constexpr int kLockSeconds = 300;
inline constexpr int kTotpStepSeconds = 30;

// RFC 4226/6238 code of `key` for time step `counter`, `digits` long (leading zeros kept).
std::string totpCode(const std::string& key, uint64_t counter, int digits = 6);

class AccountService {
  public:
    // Reads the users file (loadAccounts) and makes the decoy hash that names no account has
    // are checked against; false with `outError` on a malformed line.
    bool load(const std::string& usersFile, std::string& outError) {
        if (!loadAccounts(usersFile, accounts_, outError)) return false;
        decoy_ = decoyHash(accounts_);
        return true;
    }
    // `base` is the path the service lives under, ending in '/' ("/hesap/").
    void setBase(const std::string& base) { base_ = base; }
    // True when the request was for the service (it then answered); the status sent goes
    // to `outStatus`.
    bool handle(const tinyhttp::Request& request, tinyhttp::Stream& stream, int& outStatus);

  private:
    struct Record {
        // Failed attempts, and attempts still being checked: an attempt counts before its
        // slow hash, so requests in parallel cannot try more than kMaxFailures.
        int failures = 0;
        int64_t lockedUntil = 0;
        int64_t lastCounter = -1; // the last time step whose code was accepted
    };
    std::string base_ = "/hesap/";
    std::vector<Account> accounts_;
    std::string decoy_;
    std::map<size_t, Record> records_;
    std::mutex mutex_;
};

} // namespace devhost
