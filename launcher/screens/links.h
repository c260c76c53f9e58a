// links.h - hands configured web addresses to the browser. Main thread only.
#pragma once

#include <string>

struct MessageDialog;

inline constexpr const char* kLinkNotReady = "Bu bağlantı henüz hazır değil.";

// "https://..." or "http://..." (byte-exact, case-sensitive) goes to the browser;
// anything else raises the notice kLinkNotReady.
void openLink(MessageDialog& message, const std::string& address);
