// wire.cpp - the game server's messages (see wire.h).
#include "login/wire.h"

#include <algorithm>

namespace wire {

// ---- reader ----

uint8_t WireReader::u8() {
    if (!ok_ || pos_ >= bytes_.size()) {
        ok_ = false;
        return 0;
    }
    return static_cast<uint8_t>(bytes_[pos_++]);
}

uint32_t WireReader::u32() {
    if (!ok_ || bytes_.size() - pos_ < 4) {
        ok_ = false;
        return 0;
    }
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value |= static_cast<uint32_t>(static_cast<uint8_t>(bytes_[pos_ + i])) << (8 * i);
    pos_ += 4;
    return value;
}

std::string WireReader::text(size_t length, size_t limit) {
    if (!ok_ || length > limit || length > bytes_.size() - pos_) {
        ok_ = false;
        return {};
    }
    std::string out(bytes_.substr(pos_, length));
    pos_ += length;
    return out;
}

std::string WireReader::str8(size_t limit) {
    const uint8_t length = u8();
    if (!ok_) return {};
    return text(length, limit);
}

std::string WireReader::str16(size_t limit) {
    const uint8_t low = u8();
    const uint8_t high = u8();
    if (!ok_) return {};
    return text(static_cast<size_t>(low) | (static_cast<size_t>(high) << 8), limit);
}

// ---- messages ----

namespace {

void putU32(std::string& out, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

void putStr8(std::string& out, std::string_view text, size_t limit = kMaxText) {
    text = text.substr(0, std::min(limit, text.size()));
    out.push_back(static_cast<char>(text.size()));
    out.append(text);
}

void putStr16(std::string& out, std::string_view text, size_t limit = kMaxBody) {
    text = text.substr(0, std::min(limit, text.size()));
    out.push_back(static_cast<char>(text.size() & 0xFF));
    out.push_back(static_cast<char>((text.size() >> 8) & 0xFF));
    out.append(text);
}

} // namespace

std::string encodeProbeRequest() {
    return std::string(1, static_cast<char>(kProbeRequest));
}

std::string encodeLoginRequest(std::string_view user, std::string_view password, uint32_t version) {
    std::string out;
    // One reservation, so the password is never left behind in a freed smaller buffer.
    out.reserve(8 + kMaxText * 2);
    out.push_back(static_cast<char>(kLoginRequest));
    putU32(out, version);
    putStr8(out, user);
    putStr8(out, password);
    out.push_back('\0');
    return out;
}

bool decodeLoginRequest(std::string_view bytes, LoginRequest& out, std::string& reason) {
    WireReader reader(bytes);
    if (reader.u8() != kLoginRequest) {
        reason = "giriş isteği değil";
        return false;
    }
    out.version = reader.u32();
    out.user = reader.str8();
    out.password = reader.str8();
    const uint8_t end = reader.u8();
    if (!reader.ok()) {
        reason = "bozuk giriş isteği";
        return false;
    }
    if (end != 0 || reader.position() != bytes.size()) {
        reason = "giriş isteğinin sonu hatalı";
        return false;
    }
    return true;
}

std::string encodeNewsAnswer(const std::vector<NewsItem>& items) {
    const size_t count = std::min(items.size(), kMaxNewsItems);
    std::string out;
    out.push_back(static_cast<char>(kNewsAnswer));
    out.push_back(static_cast<char>(count));
    for (size_t i = 0; i < count; ++i) {
        putStr8(out, items[i].tag);
        putStr8(out, items[i].title);
        putStr16(out, items[i].body);
    }
    return out;
}

std::string encodeLoginAccepted(std::string_view account, std::string_view ticket) {
    std::string out;
    out.reserve(3 + kMaxText * 2);
    out.push_back(static_cast<char>(kLoginAccepted));
    putStr8(out, account);
    putStr8(out, ticket);
    return out;
}

std::string encodeLoginRefused(uint8_t reason, std::string_view message) {
    std::string out;
    out.push_back(static_cast<char>(kLoginRefused));
    out.push_back(static_cast<char>(reason));
    putStr8(out, message);
    return out;
}

std::string encodeRejected(std::string_view reason) {
    std::string out;
    out.push_back(static_cast<char>(kRejected));
    putStr8(out, reason);
    return out;
}

NewsAnswer decodeNewsAnswer(std::string_view bytes) {
    NewsAnswer answer;
    if (bytes.size() < 2) return answer;
    answer.hasCount = true;
    WireReader reader(bytes, 1);
    const uint8_t count = reader.u8();
    for (uint8_t i = 0; i < count && reader.ok(); ++i) {
        NewsItem item;
        item.tag = reader.str8();
        item.title = reader.str8();
        item.body = reader.str16();
        if (reader.ok()) answer.items.push_back(std::move(item));
    }
    answer.ok = reader.ok();
    if (!answer.ok) answer.items.clear();
    answer.consumed = reader.position();
    return answer;
}

LoginAccepted decodeLoginAccepted(std::string_view bytes) {
    LoginAccepted accepted;
    WireReader reader(bytes, 1);
    accepted.account = reader.str8();
    accepted.ticket = reader.str8();
    accepted.ok = reader.ok() && !accepted.ticket.empty();
    accepted.consumed = reader.position();
    return accepted;
}

LoginRefused decodeLoginRefused(std::string_view bytes) {
    LoginRefused refused;
    WireReader reader(bytes, 1);
    refused.reason = reader.u8();
    refused.message = reader.str8();
    refused.ok = reader.ok();
    refused.consumed = reader.position();
    return refused;
}

Rejected decodeRejected(std::string_view bytes) {
    Rejected rejected;
    WireReader reader(bytes, 1);
    rejected.reason = reader.str8();
    rejected.ok = reader.ok();
    rejected.consumed = reader.position();
    return rejected;
}

} // namespace wire
