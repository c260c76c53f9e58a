// devhost_account_test.cpp - the account service of morlaken-devhost: RFC 6238 codes,
// replayed codes, lock-out after repeated failures (also when they come in parallel),
// malformed requests, the decoy hash that names no account has are checked against.
#include "../tools/devhost/accounts.h"
#include "login/account.h"
#include "login/json.h"
#include "net/http.h"
#include "support/child_process.h"
#include "support/devhost.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <ctime>
#include <thread>
#include <vector>

using namespace testsupport;

namespace {

std::string devhost() {
    return builtProgram("morlaken-devhost");
}

// The RFC 6238 appendix B vectors for HMAC-SHA1 (secret "12345678901234567890", 8 digits).
TEST(DevHostAccounts, CodesMatchTheRfcVectors) {
    const std::string secret = "GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ";
    struct Case {
        const char* time;
        const char* code;
    } cases[] = {{"59", "94287082"},         {"1111111109", "07081804"}, {"1111111111", "14050471"},
                 {"1234567890", "89005924"}, {"2000000000", "69279037"}, {"20000000000", "65353130"}};
    for (const auto& c : cases) {
        ProgramRun run = runCaptured(devhost(), {"--totp", secret, "--time", c.time, "--digits", "8"});
        EXPECT_EQ(run.out, std::string(c.code) + "\n") << c.time << run.err;
        // The six-digit code the service checks is the last six digits of the same value.
        run = runCaptured(devhost(), {"--totp", "gezdgnbvgy3tqojq gezdgnbvgy3tqojq", "--time", c.time});
        EXPECT_EQ(run.out, std::string(c.code + 2) + "\n") << c.time;
    }
    EXPECT_NE(runCaptured(devhost(), {"--totp", "1!", "--time", "59"}).exitCode, 0);
}

// Hashes made by another PBKDF2-HMAC-SHA-256 (Python's hashlib): "passwd" with salt "salt"
// and one round (RFC 7914's vector), and a 105-byte password, longer than a SHA-256 block.
const std::string kLongPassword = [] {
    std::string p;
    for (int i = 0; i < 5; ++i)
        p += "Çok-uzun-bir-şifre-";
    return p;
}();
const char* const kForeignHashes =
    "kisa||pbkdf2-sha256$1$73616c74$55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc||1|\n"
    "uzun||pbkdf2-sha256$1000$00112233445566778899aabbccddeeff$"
    "2f6eaf7b6d75505f547df4f4dc9b0fa6df4a3c4c68adb2840b1bc9c1ddaa8661||1|\n";

class DevHostAccountService : public ::testing::Test {
  protected:
    void SetUp() override {
        ProgramRun hash = runCaptured(devhost(), {"--hash-password", "doğru", "--iterations", "2000"});
        ASSERT_EQ(hash.exitCode, 0);
        ASSERT_EQ(hash.out.rfind("pbkdf2-sha256$2000$", 0), 0u) << hash.out;
        std::string h = hash.out.substr(0, hash.out.find('\n'));
        // "yavas" takes long enough to check that requests sent together overlap.
        writeFile(root / "users.txt", "iki||" + h + "|GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ|1|\ntek|t@e.st|" + h +
                                          "||1|\nyavas||" + devhost::hashPassword("doğru", 300000) +
                                          "||1|\n" + kForeignHashes);
        ASSERT_TRUE(host.start({"--root", root.path(), "--port", "0", "--users", root / "users.txt",
                                "--account-base", "/api/v1/"}));
    }
    // (status, message) of one request.
    std::pair<uint32_t, std::string> post(const std::string& body) {
        uint32_t status = 0;
        std::string answer, error, message;
        EXPECT_TRUE(postJson(host.url() + "api/v1/ticket", body, status, answer, error)) << error;
        jsonGetTopLevelString(answer, status == 200 ? "ticket" : "message", message);
        return {status, message};
    }
    std::string code(int64_t stepOffset = 0) {
        std::string t = std::to_string(static_cast<long long>(std::time(nullptr)) + stepOffset * 30);
        ProgramRun run = runCaptured(devhost(), {"--totp", "GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ", "--time", t});
        return run.out.substr(0, 6);
    }
    TempFolder root;
    DevHost host;
};

TEST_F(DevHostAccountService, ACodeIsTakenOnceAndOnlyWithinOneStep) {
    auto r = post(accountLoginBody("iki", "doğru", ""));
    EXPECT_EQ(r, std::make_pair(401u, std::string("TOTP_REQUIRED")));
    std::string now = code();
    r = post(accountLoginBody("iki", "doğru", now));
    EXPECT_EQ(r.first, 200u);
    EXPECT_EQ(r.second.size(), 64u);
    std::string ticket = r.second;
    r = post(accountLoginBody("iki", "doğru", now));
    EXPECT_EQ(r, std::make_pair(401u, std::string("TOTP_INVALID"))) << "replayed";
    r = post(accountLoginBody("iki", "doğru", code(-1)));
    EXPECT_EQ(r, std::make_pair(401u, std::string("TOTP_INVALID"))) << "older than the used one";
    r = post(accountLoginBody("iki", "doğru", code(3)));
    EXPECT_EQ(r, std::make_pair(401u, std::string("TOTP_INVALID"))) << "three steps ahead";
    r = post(accountLoginBody("iki", "doğru", code(1)));
    EXPECT_EQ(r.first, 200u) << "one step of drift";
    EXPECT_NE(r.second, ticket) << "every ticket is fresh";
}

TEST_F(DevHostAccountService, HashesOfAnotherPbkdf2ImplementationVerify) {
    EXPECT_EQ(post(accountLoginBody("kisa", "passwd", "")).first, 200u);
    EXPECT_EQ(post(accountLoginBody("kisa", "passwc", "")).second, "INVALID_CREDENTIALS");
    EXPECT_EQ(post(accountLoginBody("uzun", kLongPassword, "")).first, 200u);
}

TEST_F(DevHostAccountService, RepeatedFailuresLockTheAccount) {
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(post(accountLoginBody("t@e.st", "yanlış", "")),
                  std::make_pair(401u, std::string("INVALID_CREDENTIALS")));
    auto r = post(accountLoginBody("tek", "doğru", ""));
    EXPECT_EQ(r.first, 429u) << "locked even with the right password";
    EXPECT_EQ(r.second, "Çok fazla hatalı deneme. Biraz bekleyip tekrar dene.");
    EXPECT_EQ(post(accountLoginBody("iki", "doğru", "")).second, "TOTP_REQUIRED") << "other accounts go on";
    struct Case {
        std::string body;
        uint32_t status;
        std::string message;
    } bad[] = {{R"({"username":"tek"})", 400, "Geçersiz istek."},
               {R"({"password":"doğru"})", 400, "Geçersiz istek."},
               {"not json", 400, "Geçersiz istek."},
               {accountLoginBody("kimse", "doğru", ""), 401, "INVALID_CREDENTIALS"}};
    for (const auto& c : bad)
        EXPECT_EQ(post(c.body), std::make_pair(c.status, c.message)) << c.body;
    uint32_t status = 0;
    std::string answer, error;
    EXPECT_TRUE(postJson(host.url() + "ticket", "{}", status, answer, error));
    EXPECT_EQ(status, 404u) << "only under the account base";
}

// An attempt counts before its password is checked: requests sent together get no more
// checks than the limit, the others the lock-out answer at once.
TEST_F(DevHostAccountService, ParallelFailuresAreCountedBeforeTheirCheck) {
    std::vector<std::pair<uint32_t, std::string>> answers(20);
    std::vector<std::thread> threads;
    for (auto& a : answers)
        threads.emplace_back([&] { a = post(accountLoginBody("yavas", "yanlış", "")); });
    for (auto& t : threads)
        t.join();
    int checked = 0, locked = 0;
    for (const auto& a : answers) {
        checked += a == std::make_pair(401u, std::string("INVALID_CREDENTIALS"));
        locked += a.first == 429u;
    }
    EXPECT_EQ(checked, 5);
    EXPECT_EQ(locked, 15);
}

// A name that no account has is checked against a decoy with the rounds most accounts use,
// so its login costs one PBKDF2 of the same length as a wrong password's.
TEST(DevHostLoginHash, UnknownNamesCheckADecoyOfTheAccountsRounds) {
    std::vector<devhost::Account> accounts;
    std::string error;
    ASSERT_TRUE(devhost::parseAccounts("tek|t@e.st|" + devhost::hashPassword("a", 3000) + "||1|\niki||" +
                                           devhost::hashPassword("b", 3000) + "||1|\n" + kForeignHashes,
                                       "users", accounts, error))
        << error;
    const std::string decoy = devhost::decoyHash(accounts);
    EXPECT_FALSE(devhost::verifyPassword("", decoy));
    struct Case {
        std::string user, account;
        long rounds;
    } cases[] = {{"tek", "tek", 3000}, {"t@e.st", "tek", 3000}, {"uzun", "uzun", 1000},
                 {"kimse", "", 3000},  {"", "", 3000},          {"Tek", "", 3000}};
    for (const Case& c : cases) {
        const devhost::Account* account = nullptr;
        EXPECT_EQ(devhost::pbkdf2Rounds(devhost::loginHash(accounts, decoy, c.user, account)), c.rounds)
            << c.user;
        EXPECT_EQ(account ? account->name : "", c.account) << c.user;
    }
    EXPECT_EQ(devhost::pbkdf2Rounds(devhost::decoyHash({})), devhost::kPbkdf2Iterations);
}

} // namespace
