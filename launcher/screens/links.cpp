// links.cpp - the one way a link leaves the launcher.
#include "screens/links.h"

#include "platform/platform.h"
#include "screens/message_dialog.h"

#include <string_view>

namespace {
bool startsWith(const std::string& text, std::string_view prefix) {
    // Byte-exact and case-sensitive: "HTTPS://" and " https://" are not web addresses here.
    return text.size() >= prefix.size() && std::string_view(text).substr(0, prefix.size()) == prefix;
}
} // namespace

void openLink(const std::string& address) {
    if (startsWith(address, "https://") || startsWith(address, "http://")) {
        platform::openWebAddress(address);
        return;
    }
    showInfo(kLinkNotReady);
}
