// accounts.h - the users file and its password hashes, shared by morlaken-devhost's account
// service and morlaken_server. Built on the launcher's own SHA-256 and libsodium, with no
// OpenSSL, so the game server builds for Windows too.
//
// The users file: one account per line, '#' starts a comment line, fields split by '|':
//   name|email|password-hash|totp-secret|verified|masked-email
// name or email (either may be empty) logs in; password-hash is what
// `morlaken-devhost --hash-password PASS` prints ("pbkdf2-sha256$ITER$SALT$HASH", salt and
// hash in hex; PBKDF2 with HMAC-SHA-256, RFC 8018); totp-secret is base32 (RFC 4648; case,
// blanks and '=' ignored), empty = no two-step code; verified is "1" or "0"; masked-email is
// what the service shows of an unverified address.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace devhost {

// ---- tunables ----
inline constexpr int kPbkdf2Iterations = 100000;
inline constexpr long kMaxPbkdf2Iterations = 10000000;

// "pbkdf2-sha256$ITER$SALT$HASH" for `password` with a fresh random salt; "" on failure.
std::string hashPassword(const std::string& password, int iterations = kPbkdf2Iterations);
// True when `password` gives `stored`'s hash; false for a malformed `stored` too. The hashes
// are compared in constant time.
bool verifyPassword(const std::string& password, const std::string& stored);
// The rounds of a well-formed stored hash; 0 when `stored` is malformed (verifyPassword then
// derives nothing and answers at once).
long pbkdf2Rounds(const std::string& stored);

// Base32 (RFC 4648) to bytes; false on a character outside the alphabet.
bool decodeBase32(const std::string& text, std::string& outBytes);

// `count` random bytes as lower-case hex.
std::string randomHex(size_t count);

struct Account {
    std::string name, email, passwordHash, totpKey, maskedEmail;
    bool verified = true;
};

// The accounts of a users file's text; false with `outError` ("NAME:LINE: ...", NAME being
// what the text is called in messages) on a malformed line, and `outAccounts` then holds
// nothing. Lines end in LF or CR LF.
bool parseAccounts(std::string_view text, const std::string& name, std::vector<Account>& outAccounts,
                   std::string& outError);
// Reads the users file and parses it; an unreadable file fails the same way.
bool loadAccounts(const std::string& usersFile, std::vector<Account>& outAccounts, std::string& outError);

// The account that `user` names (by name or by e-mail, never by an empty field); null if none.
const Account* findAccount(const std::vector<Account>& accounts, const std::string& user);

// ---- logins ----

// A well-formed hash of a random password with the rounds most of `accounts` use
// (kPbkdf2Iterations when there are none): what a name that no account has is checked
// against. "" on failure.
std::string decoyHash(const std::vector<Account>& accounts);

// The hash a login of `user` is checked against: that of the account `user` names, or
// `decoy` for a name no account has. The caller runs one verifyPassword on it either way, so
// an unknown name costs the same PBKDF2 as a wrong password and its answer comes no sooner.
// `outAccount` is the account, or null.
const std::string& loginHash(const std::vector<Account>& accounts, const std::string& decoy,
                             const std::string& user, const Account*& outAccount);

// `text` from the network made safe for a terminal: bytes below 0x20, 0x7F, the C1 controls
// (U+0080 to U+009F) and bytes that are not part of well-formed UTF-8 become "\xNN", a backslash "\\";
// printable ASCII and UTF-8 letters stay as they are.
std::string consoleText(std::string_view text);

} // namespace devhost
