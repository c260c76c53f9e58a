// links_test.cpp - the link opener: which addresses go to the browser (a fake xdg-open
// first on PATH records its arguments) and which raise the "not ready" notice.
#include "screens/links.h"
#include "screens/message_dialog.h"
#include "screens/screen_test_support.h"
#include "support/fake_program.h"

#include <gtest/gtest.h>

using screentest::waitFor;
using testsupport::readFile;

namespace {

class OpenLink : public ::testing::Test {
  protected:
    // Waits until the browser's log holds `expected` exactly (the opener runs asynchronously).
    bool logBecomes(const std::string& expected) {
        return waitFor([&] { return browser_.calls() == expected; }, 10.0);
    }
    testsupport::FakeProgram browser_{"xdg-open"};
    const std::string log_ = browser_.log();
    MessageDialog message_;
};

// How the browser is started (one argument, no shell) is tested with the platform layer.
TEST_F(OpenLink, OnlyHttpAndHttpsAddressesReachTheBrowserEverythingElseGivesTheNotice) {
    const std::string bad[] = {"",
                               "example.org",
                               "HTTPS://example.org",
                               "Http://example.org",
                               " https://example.org",
                               "\thttp://example.org",
                               "https:/example.org",
                               "https:",
                               "http:/",
                               "ftp://example.org",
                               "discord",
                               "javascript:alert(1)",
                               "file:///etc/passwd"};
    for (const std::string& address : bad) {
        hideMessage(message_);
        openLink(message_, address);
        EXPECT_TRUE(message_.visible) << address;
        EXPECT_EQ(message_.messageText, "Bu bağlantı henüz hazır değil.") << address;
    }
    // None of them reached the browser: after good links (a bare scheme is still one) the
    // log holds only those.
    hideMessage(message_);
    openLink(message_, "https://example.org/son");
    ASSERT_TRUE(logBecomes("argc=1\n<https://example.org/son>\n")) << readFile(log_);
    openLink(message_, "http://");
    ASSERT_TRUE(logBecomes("argc=1\n<https://example.org/son>\nargc=1\n<http://>\n")) << readFile(log_);
    EXPECT_FALSE(message_.visible);
}

} // namespace
