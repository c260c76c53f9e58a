// wire.h - the game server's messages, byte for byte: pure encoding and decoding, no
// network. Shared by the launcher's link (gameserver.h) and the local server
// (tools/server), so both sides read and write exactly the same bytes.
//
// Index
//   ---- tunables ----   message types, text limits, launcher version
//   ---- reader ----     WireReader (str8, str16, bytes; every length checked before a copy)
//   ---- messages ----   encode/decode of probe, login request, news answer, login
//                        accepted, login refused, rejected
//
// All numbers are little-endian. A str8 is one length byte and that many bytes, a str16 a
// 16-bit length and that many bytes; texts are raw bytes, never terminated. A decoder
// never reads past the end: a missing byte, a text running past the end or a length above
// its limit fails the reader, and every later read of a failed reader yields empty.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace wire {

// ---- tunables ----
inline constexpr uint8_t kProbeRequest = 0x0D;
inline constexpr uint8_t kLoginRequest = 0x0A;
inline constexpr uint8_t kNewsAnswer = 0x0E;
inline constexpr uint8_t kLoginAccepted = 0x0B;
inline constexpr uint8_t kLoginRefused = 0x0C;
inline constexpr uint8_t kRejected = 0x07;

// Why the server refused a login (the second byte of kLoginRefused). Any other value is
// shown with the server's own text.
inline constexpr uint8_t kRefusedCredentials = 1;  // wrong name or password
inline constexpr uint8_t kRefusedOldLauncher = 2;  // the launcher's wire version is too old
inline constexpr uint8_t kRefusedTooManyTries = 3; // too many failures: wait a minute
inline constexpr uint8_t kRefusedInGame = 4;       // the account is playing right now

inline constexpr uint32_t kLauncherVersion = 5;
inline constexpr size_t kMaxText = 64;   // every str8
inline constexpr size_t kMaxBody = 2000; // a news body (str16)
inline constexpr size_t kMaxNewsItems = 255;
// The longest message of each direction, every text at its limit: what an ENet host needs to
// take in one packet, and all it should.
inline constexpr size_t kMaxLoginRequestBytes = 8 + 2 * kMaxText;
inline constexpr size_t kMaxNewsAnswerBytes =
    2 + kMaxNewsItems * (1 + kMaxText + 1 + kMaxText + 2 + kMaxBody);

// ---- reader ----

class WireReader {
  public:
    explicit WireReader(std::string_view bytes, size_t start = 0)
        : bytes_(bytes), pos_(start), ok_(start <= bytes.size()) {}
    bool ok() const { return ok_; }
    size_t position() const { return pos_; }
    size_t left() const { return ok_ && pos_ < bytes_.size() ? bytes_.size() - pos_ : 0; }
    uint8_t u8();
    uint32_t u32();
    std::string str8(size_t limit = kMaxText);
    std::string str16(size_t limit = kMaxBody);

  private:
    std::string text(size_t length, size_t limit);
    std::string_view bytes_;
    size_t pos_;
    bool ok_;
};

// ---- messages ----

struct NewsItem {
    std::string tag;   // <= 64 bytes
    std::string title; // <= 64 bytes
    std::string body;  // <= 2000 bytes
};

// Launcher -> server.
std::string encodeProbeRequest();
// User name and password are cut to their first 64 bytes.
std::string encodeLoginRequest(std::string_view user, std::string_view password,
                               uint32_t version = kLauncherVersion);
struct LoginRequest {
    uint32_t version = 0;
    std::string user;
    std::string password;
};
// The server's strict reading: exactly 8 + n + m bytes, n and m at most 64, end byte 0.
// False with a short reason ("kısa mesaj", ...) otherwise.
bool decodeLoginRequest(std::string_view bytes, LoginRequest& out, std::string& reason);

// Server -> launcher. Encoders cut texts to their limits and the list to 255 items.
std::string encodeNewsAnswer(const std::vector<NewsItem>& items);
std::string encodeLoginAccepted(std::string_view account, std::string_view ticket);
std::string encodeLoginRefused(uint8_t reason, std::string_view message);
std::string encodeRejected(std::string_view reason);

struct NewsAnswer {
    bool hasCount = false; // false: one byte only, nothing parsed
    bool ok = false;       // every item parsed (a count of 0 is ok)
    size_t consumed = 0;   // bytes the items took, type byte included
    std::vector<NewsItem> items;
};
NewsAnswer decodeNewsAnswer(std::string_view bytes);

struct LoginAccepted {
    bool ok = false; // both texts read and the ticket non-empty
    std::string account;
    std::string ticket;
    size_t consumed = 0;
};
LoginAccepted decodeLoginAccepted(std::string_view bytes);

struct LoginRefused {
    uint8_t reason = 0; // 0 when the message has no second byte
    bool ok = false;    // reason and message both read
    std::string message;
    size_t consumed = 0;
};
LoginRefused decodeLoginRefused(std::string_view bytes);

struct Rejected {
    bool ok = false;
    std::string reason;
    size_t consumed = 0;
};
Rejected decodeRejected(std::string_view bytes);

} // namespace wire
