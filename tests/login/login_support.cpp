#include "login_support.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstdio>

namespace logintest {

std::string referenceTotp(const std::string& key, uint64_t counter) {
    unsigned char msg[8];
    for (int i = 7; i >= 0; --i, counter >>= 8)
        msg[i] = static_cast<unsigned char>(counter);
    unsigned char mac[20];
    unsigned int length = 0;
    HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()), msg, 8, mac, &length);
    int o = mac[19] & 15;
    unsigned v = ((mac[o] & 0x7Fu) << 24) | (mac[o + 1] << 16) | (mac[o + 2] << 8) | mac[o + 3];
    char text[8];
    std::snprintf(text, sizeof text, "%06u", v % 1000000);
    return text;
}

} // namespace logintest
