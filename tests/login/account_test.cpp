// account_test.cpp - the account login through the real worker and postJson: against the
// account service of morlaken-devhost (HTTP and HTTPS) and against a test server that
// gives every answer the launcher must know; cancelling; secrets left behind. (The game a
// ticket starts: session_test.cpp.)
#include "login/json.h"
#include "login_support.h"
#include "net/http.h"
#include "support/test_server.h"

#include <ctime>

using namespace logintest;

namespace {

const char* kBadCredentials = "Kullanıcı adı veya şifre hatalı.";

class AccountLoginTest : public ::testing::Test {
  protected:
    void SetUp() override { httpGlobalInit(); }

    // One request: the password is stored as the dialog stores it, then the poll's answer.
    LoginOutcome login(const std::string& api, const std::string& user, const std::string& password,
                       const std::string& code = "") {
        if (!password.empty()) a.accountPassword = password;
        if (!code.empty()) code_ = code;
        startAccountLogin(a, api, user, code.empty() ? std::string() : code_);
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

class AccountServiceFlow : public AccountLoginTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(AccountServiceFlow, EveryAnswerOfTheServiceEndsAsThePlayerMustSeeIt) {
    const std::string scheme = GetParam();
    TempFolder root;
    writeFile(root / "users.txt", "# test accounts\n" +
                                      userLine("oyuncu", "oyuncu@ornek.com", "şifre\"1\\\t", "", true, "") +
                                      userLine("iki", "", "pw2", kTotpBase32, true, "") +
                                      userLine("yeni", "yeni@ornek.com", "pw3", "", false, "y***@ornek.com"));
    DevHost host;
    std::vector<std::string> args = {"--root", root.path(), "--port", "0", "--users", root / "users.txt"};
    if (scheme == "https") args.insert(args.end(), {"--cert", testCertificate(), "--key", testKey()});
    ASSERT_TRUE(host.start(args));
    const std::string api = host.url(scheme) + "hesap"; // the launcher adds the slash

    if (scheme == "https") { // verification is on: an untrusted certificate is no answer
        LoginOutcome p = login(api, "oyuncu", "şifre\"1\\\t");
        EXPECT_EQ(p.text, "Giriş sunucusuna ulaşılamadı (giris sunucusuna ulasilamadi (60)).");
    }
    ScopedEnv trust("SSL_CERT_FILE", scheme == "https" ? testCertificate().c_str() : nullptr);

    // E-mail as the name, a password with a quote, a backslash, a tab and Turkish letters.
    LoginOutcome p = login(api, "oyuncu@ornek.com", "şifre\"1\\\t");
    ASSERT_EQ(p.event, LoginEvent::Ticket) << p.text << host.log();
    EXPECT_EQ(p.ticket.size(), 64u) << p.ticket;
    EXPECT_EQ(p.ticket.find_first_not_of("0123456789abcdef"), std::string::npos);
    expectNoSecretsLeft("success");

    p = login(api, "oyuncu", "yanlış");
    EXPECT_EQ(p.event, LoginEvent::Error);
    EXPECT_EQ(p.text, kBadCredentials);
    expectNoSecretsLeft("wrong password");

    p = login(api, "yeni@ornek.com", "pw3");
    EXPECT_EQ(p.text,
              "E-posta adresin henüz doğrulanmadı (y***@ornek.com). Gelen kutundaki bağlantıya tıkla, "
              "sonra tekrar dene.");
    expectNoSecretsLeft("not verified");

    // Two steps: the code is asked for, a wrong one keeps the step, the right one logs in
    // with the same stored password sent again.
    p = login(api, "iki", "pw2");
    EXPECT_EQ(p.event, LoginEvent::TotpRequired);
    EXPECT_EQ(p.text, "Hesabında iki adımlı doğrulama açık. Doğrulama uygulamandaki 6 haneli kodu gir.");
    EXPECT_TRUE(a.totpStep);
    EXPECT_EQ(a.accountPassword, "pw2");
    const uint64_t step = static_cast<uint64_t>(std::time(nullptr) / 30);
    std::string wrong = "000000";
    while (wrong == referenceTotp(kTotpKey, step - 1) || wrong == referenceTotp(kTotpKey, step) ||
           wrong == referenceTotp(kTotpKey, step + 1) || wrong == referenceTotp(kTotpKey, step + 2))
        wrong[0]++;
    p = login(api, "iki", "", wrong);
    EXPECT_EQ(p.event, LoginEvent::TotpInvalid);
    EXPECT_EQ(p.text, "Doğrulama kodu yanlış. Uygulamadaki güncel kodu gir.");
    EXPECT_TRUE(a.totpStep);
    EXPECT_EQ(a.accountPassword, "pw2");
    EXPECT_TRUE(code_.empty() && allZero(code_));
    p = login(api, "iki", "", referenceTotp(kTotpKey, static_cast<uint64_t>(std::time(nullptr) / 30)));
    ASSERT_EQ(p.event, LoginEvent::Ticket) << p.text;
    EXPECT_EQ(p.ticket.size(), 64u);
    expectNoSecretsLeft("two steps");
}

INSTANTIATE_TEST_SUITE_P(Schemes, AccountServiceFlow, ::testing::Values("http", "https"));

// ---- every answer row ----

TEST_F(AccountLoginTest, AnswersAreReadRowByRow) {
    TestServer server;
    const std::string api = server.baseUrl() + "hesap/";
    const char* bad = "Giriş sunucusundan bozuk cevap geldi.";
    const char* notVerified =
        "E-posta adresin henüz doğrulanmadı. Gelen kutundaki bağlantıya tıkla, sonra tekrar dene.";
    struct Row {
        int status;
        std::string body;
        LoginEvent event;
        std::string text;
    } rows[] = {
        {201, R"({"ticket":"bilet-201"})", LoginEvent::Ticket, ""},
        {200, R"({"user":{"ticket":"nested"},"ticket":"bilet-200"})", LoginEvent::Ticket, ""},
        {200, R"({"ticket":""})", LoginEvent::Error, bad},
        {200, R"({"ticket":12345})", LoginEvent::Error, bad},
        {200, "<html>bakım</html>", LoginEvent::Error, bad},
        {201, "", LoginEvent::Error, bad},
        {401, R"({"message":"INVALID_CREDENTIALS"})", LoginEvent::Error, kBadCredentials},
        {401, R"({"error":{"message":"INVALID_CREDENTIALS"}})", LoginEvent::Error,
         "Giriş yapılamadı (HTTP 401)."},
        {403, R"({"message":"EMAIL_NOT_VERIFIED","maskedEmail":""})", LoginEvent::Error, notVerified},
        {403, R"({"message":"EMAIL_NOT_VERIFIED","maskedEmail":7})", LoginEvent::Error, notVerified},
        {403, R"({"message":"EMAIL_NOT_VERIFIED","maskedEmail":"a***@b.com"})", LoginEvent::Error,
         "E-posta adresin henüz doğrulanmadı (a***@b.com). Gelen kutundaki bağlantıya tıkla, sonra tekrar "
         "dene."},
        {500, R"({"message":"Sunucu bakımda, 10 dakika sonra dene."})", LoginEvent::Error,
         "Sunucu bakımda, 10 dakika sonra dene."},
        {429, "", LoginEvent::Error, "Giriş yapılamadı (HTTP 429)."},
        {404, R"({"message":""})", LoginEvent::Error, "Giriş yapılamadı (HTTP 404)."},
        {401, R"({"message":"TOTP_REQUIRED"})", LoginEvent::TotpRequired,
         "Hesabında iki adımlı doğrulama açık. Doğrulama uygulamandaki 6 haneli kodu gir."},
        {401, R"({"message":"TOTP_INVALID"})", LoginEvent::TotpInvalid,
         "Doğrulama kodu yanlış. Uygulamadaki güncel kodu gir."},
    };
    for (const Row& row : rows) {
        wipeCredentials(a, code_);
        server.route("/hesap/ticket", answer(row.status, row.body));
        LoginOutcome p = login(api, "oyuncu", "gizli", "");
        EXPECT_EQ(p.event, row.event) << row.status << " " << row.body << ": " << p.text;
        EXPECT_EQ(p.text, row.text) << row.status << " " << row.body;
        if (row.event == LoginEvent::Ticket) {
            std::string ticket;
            jsonGetTopLevelString(row.body, "ticket", ticket);
            EXPECT_EQ(p.ticket, ticket);
        }
        if (row.event == LoginEvent::TotpRequired || row.event == LoginEvent::TotpInvalid) {
            EXPECT_EQ(a.accountPassword, "gizli") << row.body;
            EXPECT_EQ(a.loginResponse, row.body) << "the two-step answers are left for the next request";
            EXPECT_EQ(a.totpStep, row.event == LoginEvent::TotpRequired);
        } else {
            expectNoSecretsLeft(row.body.c_str());
        }
    }
    EXPECT_EQ(server.requestCount("/hesap/ticket"), static_cast<int>(std::size(rows)));

    // An answer cut off before its Content-Length is no answer: no game with half a ticket.
    server.route("/hesap/ticket", cutShort(R"({"ticket":"TRUNC)", 16, 60));
    LoginOutcome p = login(api, "oyuncu", "gizli");
    EXPECT_EQ(p.text, "Giriş sunucusuna ulaşılamadı (giris sunucusuna ulasilamadi (18)).");
    expectNoSecretsLeft("cut off");
    // A redirect is an answer like any other: the password is not sent on to its address.
    server.route("/hesap/ticket", redirect(308, server.baseUrl() + "baska/ticket"));
    p = login(api, "oyuncu", "gizli");
    EXPECT_EQ(p.text, "Giriş yapılamadı (HTTP 308).");
    EXPECT_EQ(server.requestCount("/baska/ticket"), 0);
    expectNoSecretsLeft("redirect");
}

TEST_F(AccountLoginTest, AnUnreachableServiceKeepsTheTwoStepStateOnly) {
    const std::string api = "http://127.0.0.1:" + std::to_string(pickFreePort()) + "/hesap";
    const std::string refused = "Giriş sunucusuna ulaşılamadı (giris sunucusuna ulasilamadi (7)).";
    LoginOutcome p = login(api, "oyuncu", "gizli");
    EXPECT_EQ(p.event, LoginEvent::Error);
    EXPECT_EQ(p.text, refused);
    expectNoSecretsLeft("unreachable");

    a.totpStep = true;
    p = login(api, "oyuncu", "gizli", "123456");
    EXPECT_EQ(p.text, refused);
    EXPECT_TRUE(a.totpStep);
    EXPECT_EQ(a.accountPassword, "gizli");
    EXPECT_EQ(code_, "123456");

    wipeCredentials(a, code_);
    for (const char* address : {"ftp://127.0.0.1/hesap", "hesap", "http://[::1/hesap", "http://a b/hesap"}) {
        p = login(address, "oyuncu", "gizli");
        EXPECT_EQ(p.text, "Giriş sunucusuna ulaşılamadı (adres hatali).") << address;
    }
}

// ---- cancelling and exit ----

TEST_F(AccountLoginTest, ClosingInFlightDropsTheAnswerAndLeavesNoSecret) {
    TestServer server;
    server.route("/hesap/ticket", misbehave(Behaviour::Silent));
    code_ = "654321";
    a.totpStep = true;
    a.accountPassword = "gizli";
    startAccountLogin(a, server.baseUrl() + "hesap", "oyuncu", code_);
    ASSERT_TRUE(waitUntil([&] { return server.stalledNow() == 1; }, 20));
    EXPECT_EQ(pollAccountLogin(a, code_).event, LoginEvent::None);
    EXPECT_TRUE(cancelAccountLogin(a, code_));
    EXPECT_EQ(a.accountPassword, "gizli") << "nothing is wiped while the request runs";
    // The stop flag ends the request without waiting for the silent server.
    ASSERT_TRUE(waitUntil([&] { return accountLoginAnswered(a); }, 5));
    EXPECT_EQ(pollAccountLogin(a, code_).event, LoginEvent::Dropped);
    EXPECT_FALSE(accountLoginAnswered(a));
    expectNoSecretsLeft("cancelled");
    server.releaseStalls();

    // With nothing in flight, closing wipes at once.
    a.accountPassword = "gizli";
    code_ = "111111";
    EXPECT_FALSE(cancelAccountLogin(a, code_));
    EXPECT_TRUE(a.accountPassword.empty() && allZero(a.accountPassword));
    EXPECT_TRUE(code_.empty() && allZero(code_));
}

TEST_F(AccountLoginTest, ExitJoinsARunningWorkerAndWipesEverything) {
    TestServer server;
    server.route("/hesap/ticket", misbehave(Behaviour::Silent));
    a.accountPassword = "gizli";
    a.totpStep = true;
    startAccountLogin(a, server.baseUrl() + "hesap", "oyuncu", "");
    ASSERT_TRUE(waitUntil([&] { return server.stalledNow() == 1; }, 20));
    shutdownAccountLogin(a);
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

namespace {

// ---- postJson ----

TEST(PostJson, CapsTheAnswerFailsACutOneAndFollowsNoRedirect) {
    httpGlobalInit();
    TestServer plain;
    TestServer secure(true);
    ScopedEnv trust("SSL_CERT_FILE", testCertificate().c_str());
    plain.route("/buyuk", answer(200, patternBytes(300000, 7)));
    plain.route("/kisa", cutShort(R"({"ticket":"TRUNC)", 16, 60));
    plain.route("/hedef", answer(200, R"({"ticket":"acik"})"));
    secure.route("/geri", redirect(302, plain.baseUrl() + "hedef"));
    secure.route("/ileri", redirect(307, secure.baseUrl() + "son"));
    secure.route("/son", answer(201, R"({"ticket":"t"})"));
    struct Case {
        std::string url;
        bool ok;
        uint32_t status;
        size_t minBytes, maxBytes;
        std::string error;
    } cases[] = {
        {plain.baseUrl() + "buyuk", true, 200, kPostAnswerCap, kPostAnswerCap + kPostChunkBytes - 1, ""},
        {plain.baseUrl() + "kisa", false, 0, 0, 0, "giris sunucusuna ulasilamadi (18)"},
        {secure.baseUrl() + "geri", true, 302, 0, 64, ""},
        {secure.baseUrl() + "ileri", true, 307, 0, 64, ""},
        {plain.baseUrl() + "yok", true, 404, 0, 64, ""},
    };
    for (const auto& c : cases) {
        uint32_t status = 7;
        std::string response = "eski", error;
        EXPECT_EQ(postJson(c.url, "{}", status, response, error), c.ok) << c.url << error;
        EXPECT_EQ(status, c.status) << c.url;
        EXPECT_EQ(error, c.error) << c.url;
        EXPECT_GE(response.size(), c.minBytes) << c.url;
        EXPECT_LE(response.size(), c.maxBytes) << c.url;
    }
    EXPECT_EQ(plain.requestCount("/hedef"), 0) << "the password went out in the clear";
    EXPECT_EQ(secure.requestCount("/son"), 0) << "the password was sent on to a redirect's address";
    for (const auto& r : plain.requests())
        EXPECT_EQ(r.userAgent, "MorlakenLauncher");
    EXPECT_EQ(plain.requests().at(0).method, "POST");
}

} // namespace
