// account_test.cpp - the account login: every answer the service can give (read as the
// worker leaves it), cancelling, exiting, the secrets left behind, and one login over HTTPS
// against the account service of morlaken-devhost.
#include "login_support.h"
#include "platform/text.h"
#include "support/test_server.h"

using namespace logintest;

namespace {

class AccountLoginTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::wipeText(code_); // all its bytes zero, as a field that was never typed into
    }

    // One request without a code, the password stored as the dialog stores it; the answer.
    LoginOutcome login(const std::string& api, const std::string& user, const std::string& password) {
        a.accountPassword = password;
        startAccountLogin(a, api, user, "");
        EXPECT_TRUE(waitUntil([&] { return a.loginDone.load(); }, 40));
        LoginOutcome outcome = pollAccountLogin(a, code_);
        EXPECT_FALSE(a.loginInFlight.load());
        EXPECT_FALSE(a.worker.joinable());
        return outcome;
    }
    // After a path that ends the login: no byte of any secret is left anywhere we own.
    void expectNoSecretsLeft(const char* where) {
        EXPECT_TRUE(a.accountPassword.empty() && allZero(a.accountPassword)) << where;
        EXPECT_TRUE(code_.empty() && allZero(code_)) << where;
        EXPECT_TRUE(a.loginResponse.empty() && allZero(a.loginResponse)) << where;
        EXPECT_FALSE(a.totpStep) << where;
    }

    AccountLogin a;
    std::string code_; // the dialog's code field
};

// ---- against morlaken-devhost ----

// The whole way over HTTPS (the plain way with a two-step account: the launcher's end-to-end
// runs): verification is on, and with the certificate trusted an e-mail name and a password
// with a quote, a backslash, a tab and Turkish letters log in.
TEST_F(AccountLoginTest, TheServiceOverHttpsGivesItsTicketOnlyWithTheCertificateTrusted) {
    TempFolder root;
    writeFile(root / "users.txt", userLine("oyuncu", "oyuncu@ornek.com", "şifre\"1\\\t", "", true, ""));
    DevHost host;
    ASSERT_TRUE(host.start({"--root", root.path(), "--port", "0", "--users", root / "users.txt", "--cert",
                            testCertificate(), "--key", testKey()}));
    const std::string api = host.url("https") + "hesap"; // the launcher adds the slash
    LoginOutcome p = login(api, "oyuncu", "şifre\"1\\\t");
    EXPECT_EQ(p.text, "Giriş sunucusuna ulaşılamadı (giris sunucusuna ulasilamadi (60)).");
    ScopedEnv trust("SSL_CERT_FILE", testCertificate().c_str());

    p = login(api, "oyuncu@ornek.com", "şifre\"1\\\t");
    ASSERT_EQ(p.event, LoginEvent::Ticket) << p.text << host.log();
    EXPECT_FALSE(p.ticket.empty());
    expectNoSecretsLeft("success");
}

// ---- every answer row ----

TEST_F(AccountLoginTest, AnswersAreReadRowByRow) {
    const char* bad = "Giriş sunucusundan bozuk cevap geldi.";
    const char* notVerified =
        "E-posta adresin henüz doğrulanmadı. Gelen kutundaki bağlantıya tıkla, sonra tekrar dene.";
    const char* unreachable = "Giriş sunucusuna ulaşılamadı (giris sunucusuna ulasilamadi (7)).";
    using enum LoginEvent;
    struct Row {
        bool totpStep; // before the answer
        uint32_t status;
        std::string body;
        LoginEvent event;
        std::string text;
        bool secretsKept = false; // the password, the code and the step stay for the next request
        std::string ticket = "";
    } rows[] = {
        {false, 201, R"({"ticket":"bilet-201"})", Ticket, "", false, "bilet-201"},
        {false, 200, R"({"user":{"ticket":"nested"},"ticket":"bilet-200"})", Ticket, "", false, "bilet-200"},
        {false, 200, R"({"ticket":""})", Error, bad},
        {false, 200, R"({"ticket":12345})", Error, bad},
        {false, 200, "<html>bakım</html>", Error, bad},
        {true, 201, "", Error, bad},
        {false, 401, R"({"message":"INVALID_CREDENTIALS"})", Error, kLoginBadCredentials},
        {false, 401, R"({"error":{"message":"INVALID_CREDENTIALS"}})", Error, "Giriş yapılamadı (HTTP 401)."},
        {false, 403, R"({"message":"EMAIL_NOT_VERIFIED","maskedEmail":""})", Error, notVerified},
        {false, 403, R"({"message":"EMAIL_NOT_VERIFIED","maskedEmail":7})", Error, notVerified},
        {false, 403, R"({"message":"EMAIL_NOT_VERIFIED","maskedEmail":"a***@b.com"})", Error,
         "E-posta adresin henüz doğrulanmadı (a***@b.com). Gelen kutundaki bağlantıya tıkla, sonra tekrar "
         "dene."},
        {false, 500, R"({"message":"Sunucu bakımda, 10 dakika sonra dene."})", Error,
         "Sunucu bakımda, 10 dakika sonra dene."},
        {false, 429, "", Error, "Giriş yapılamadı (HTTP 429)."},
        {false, 404, R"({"message":""})", Error, "Giriş yapılamadı (HTTP 404)."},
        // A redirect is not followed (postJson): it is an answer like any other.
        {false, 308, "", Error, "Giriş yapılamadı (HTTP 308)."},
        {false, 401, R"({"message":"TOTP_REQUIRED"})", TotpRequired, kLoginTotpRequired, true},
        {true, 401, R"({"message":"TOTP_INVALID"})", TotpInvalid, kLoginTotpInvalid, true},
        // No answer (or one cut off): the two-step stage keeps what the next try needs.
        {false, 0, "", Error, unreachable},
        {true, 0, "", Error, unreachable, true},
    };
    for (const Row& row : rows) {
        const std::string where = std::to_string(row.status) + " " + row.body;
        a.accountPassword = "gizli";
        code_ = "123456";
        a.totpStep = row.totpStep;
        // The worker's result as it stores it before loginDone (a failed post leaves no answer).
        a.loginHttpStatus = row.status;
        platform::wipeText(a.loginResponse);
        a.loginResponse.append(row.body);
        a.loginError = "giris sunucusuna ulasilamadi (7)";
        a.loginInFlight = a.loginDone = true;
        const LoginOutcome p = pollAccountLogin(a, code_);
        EXPECT_EQ(p.event, row.event) << where << ": " << p.text;
        EXPECT_EQ(p.text, row.text) << where;
        EXPECT_EQ(p.ticket, row.ticket) << where;
        EXPECT_FALSE(accountLoginAnswered(a)) << where << ": taken once";
        if (!row.secretsKept) {
            expectNoSecretsLeft(where.c_str());
            continue;
        }
        EXPECT_EQ(a.accountPassword, "gizli") << where;
        EXPECT_TRUE(a.totpStep) << where;
        // The two-step answers wipe the code and leave the answer for the next request;
        // a failed connection keeps the code for another press.
        EXPECT_EQ(code_, row.status == 0 ? "123456" : "") << where;
        EXPECT_EQ(a.loginResponse, row.body) << where;
        wipeCredentials(a, code_);
    }
}

// ---- cancelling and exit ----

TEST_F(AccountLoginTest, ClosingInFlightDropsTheLateAnswerAndClosingOtherwiseWipesAtOnce) {
    a.accountPassword = "gizli";
    code_ = "654321";
    a.totpStep = true;
    a.loginInFlight = true; // a request runs
    EXPECT_EQ(pollAccountLogin(a, code_).event, LoginEvent::None);
    EXPECT_TRUE(cancelAccountLogin(a, code_));
    EXPECT_TRUE(a.loginCancelled.load()) << "the request is asked to end early";
    EXPECT_EQ(a.accountPassword, "gizli") << "nothing is wiped while the request runs";
    a.loginDone = true; // its answer, a ticket, arrives
    a.loginHttpStatus = 200;
    a.loginResponse = R"({"ticket":"gec-kalan"})";
    const LoginOutcome p = pollAccountLogin(a, code_);
    EXPECT_EQ(p.event, LoginEvent::Dropped);
    EXPECT_TRUE(p.ticket.empty());
    expectNoSecretsLeft("cancelled");

    // With nothing in flight, closing wipes at once.
    a.accountPassword = "gizli";
    code_ = "111111";
    EXPECT_FALSE(cancelAccountLogin(a, code_));
    expectNoSecretsLeft("closed");
}

TEST_F(AccountLoginTest, ExitEndsARequestTheServiceNeverAnswersAndWipesEverything) {
    TestServer server;
    server.route("/hesap/ticket", misbehave(Behaviour::Silent));
    a.accountPassword = "gizli";
    a.totpStep = true;
    startAccountLogin(a, server.baseUrl() + "hesap", "oyuncu", "");
    ASSERT_TRUE(waitUntil([&] { return server.stalledNow() == 1; }, 20));
    shutdownAccountLogin(a); // the cancel flag ends the transfer: no wait for the silent server
    EXPECT_FALSE(a.worker.joinable());
    EXPECT_FALSE(a.loginInFlight.load());
    expectNoSecretsLeft("exit");
    server.releaseStalls();
}

// ---- request ----

TEST(AccountRequest, UrlAndBodyAreBuiltByteForByte) {
    EXPECT_EQ(accountLoginUrl("https://h.example/api"), "https://h.example/api/ticket");
    EXPECT_EQ(accountLoginUrl("https://h.example/api/"), "https://h.example/api/ticket");
    EXPECT_EQ(accountLoginUrl(""), "/ticket");
    struct Case {
        std::string user, password, code, body;
    } cases[] = {
        {"ad", "p\"\\\tş", "", "{\"username\":\"ad\",\"password\":\"p\\\"\\\\\\u0009ş\"}"},
        {"a@b.c", "x", "012345", R"({"username":"a@b.c","password":"x","totpCode":"012345"})"},
        {"", "", "", R"({"username":"","password":""})"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(accountLoginBody(c.user, c.password, c.code), c.body);
}

} // namespace
