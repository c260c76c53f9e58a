// links.cpp - the one way a link leaves the launcher.
#include "screens/links.h"

#include "platform/platform.h"
#include "screens/message_dialog.h"

void openLink(MessageDialog& message, const std::string& address) {
    // Byte-exact and case-sensitive: "HTTPS://" and " https://" are not web addresses here.
    if (address.starts_with("https://") || address.starts_with("http://")) {
        platform::openWebAddress(address);
        return;
    }
    showInfo(message, kLinkNotReady);
}
