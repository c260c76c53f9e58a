// links_test.cpp - the link opener: which addresses go to the browser (a fake xdg-open
// first on PATH records its arguments) and which raise the "not ready" notice. How the
// browser is started (one argument, no shell) is tested with the platform layer.
#include "screens/links.h"
#include "screens/message_dialog.h"
#include "support/fake_program.h"
#include "support/wait.h"

#include <gtest/gtest.h>

namespace {

TEST(OpenLink, OnlyHttpAndHttpsAddressesReachTheBrowserEverythingElseGivesTheNotice) {
    testsupport::FakeProgram browser{"xdg-open"};
    MessageDialog message;
    for (const char* address :
         {"", "example.org", "HTTPS://example.org", "Http://example.org", " https://example.org",
          "\thttp://example.org", "https:/example.org", "https:", "http:/", "ftp://example.org", "discord",
          "javascript:alert(1)", "file:///etc/passwd"}) {
        hideMessage(message);
        openLink(message, address);
        EXPECT_EQ(message.visible ? message.messageText : "", "Bu bağlantı henüz hazır değil.") << address;
    }
    // None of them reached the browser: after good links (a bare scheme is still one) the
    // log holds only those, in order.
    hideMessage(message);
    std::string expected;
    for (const char* good : {"https://example.org/son", "http://"}) { // the opener runs asynchronously
        openLink(message, good);
        expected += "argc=1\n<" + std::string(good) + ">\n";
        EXPECT_TRUE(testsupport::waitFor([&] { return browser.calls() == expected; }, 10.0))
            << browser.calls();
    }
    EXPECT_FALSE(message.visible);
}

} // namespace
