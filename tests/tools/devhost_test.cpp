// devhost_test.cpp - morlaken-devhost started by the test on 127.0.0.1 with an ephemeral port:
// serving a published folder and refusing paths outside it, news, clients that would hold a
// connection, signals, options; its account service (RFC 6238 codes, replays, lock-out also
// under parallel requests, malformed requests) and the decoy hash of unknown names.
#include "../tools/devhost/accounts.h"
#include "login/account.h"
#include "login/json.h"
#include "net/http.h"
#include "support/child_process.h"
#include "support/devhost.h"
#include "support/temp_folder.h"
#include "support/test_server.h"

#include <enet/enet.h>
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <thread>
#include <vector>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

// GET `url`; the body, or "!" and the error.
std::string get(const std::string& url) {
    std::string body, error;
    return httpGet(url, makeStringSink(body, kFileListCap), error, neverStop()) ? body : "!" + error;
}

// Ends `host` with `signalNumber`: it must stop cleanly, exit code 0.
void expectCleanStop(DevHost& host, int signalNumber) {
    host.child().signal(signalNumber);
    int code = -1;
    ASSERT_TRUE(host.child().wait(10, code));
    EXPECT_EQ(code, 0) << signalNumber;
}

// ---- serving (whole update passes through the dev host: tests/screens, tests/app) ----

TEST(DevHost, ServesItsFolderAndNewsRefusesPathsOutsideAndStopsOnTerm) {
    TempFolder site, scratch;
    writeFile(site / "ic/dosya.txt", "inside");
    writeFile(scratch / "gizli.txt", "secret");
    writeFile(scratch / "haberler.txt", "duyuru|Bakım|Sunucular 10:00'da kapanacak\n");
    fs::create_directory_symlink(scratch.path(), site / "kacis");
    DevHost host;
    ASSERT_TRUE(host.start({"--root", site.path(), "--port", "0", "--news", scratch / "haberler.txt"}));
    const std::pair<const char*, const char*> cases[] = {
        {"haberler.txt", "duyuru|Bakım|Sunucular 10:00'da kapanacak\n"},
        {"ic/dosya.txt", "inside"},
        {"ic/dos%79a.txt", "inside"},
        {"%2e%2e/gizli.txt", "!sunucu 404 dondu"},
        {"ic/%2e%2e/%2e%2e/gizli.txt", "!sunucu 404 dondu"},
        {"ic%2f..%2f..%2fgizli.txt", "!sunucu 404 dondu"},
        {"kacis/gizli.txt", "!sunucu 404 dondu"},
        {"%2fetc%2fhostname", "!sunucu 404 dondu"},
        {"ic/", "!sunucu 404 dondu"},
        {"ic", "!sunucu 404 dondu"},
        {"", "!sunucu 404 dondu"},
        {"ic%5c..%5c..%5cgizli.txt", "!sunucu 404 dondu"},
        {"c:%2fgizli.txt", "!sunucu 404 dondu"},
        {"ic/dosya%2", "!sunucu 400 dondu"},
        {"ic/dosya%zz.txt", "!sunucu 400 dondu"},
        {"ic/%00.txt", "!sunucu 400 dondu"},
    };
    for (const auto& [path, answer] : cases)
        EXPECT_EQ(get(host.url() + path), answer) << path;
    expectCleanStop(host, kSigTerm);
}

// A TLS client that never says hello is let go after a few seconds, and a body above 1 MiB is
// answered with 413 instead of being cut off unanswered; without --news there is no feed.
TEST(DevHost, SilentTlsClientsAreLetGoLongBodiesRefusedAndIntStops) {
    TempFolder site;
    DevHost host;
    ASSERT_TRUE(
        host.start({"--root", site.path(), "--port", "0", "--cert", testCertificate(), "--key", testKey()}));
    ENetSocket silent = enet_socket_create(ENET_SOCKET_TYPE_STREAM);
    ENetAddress address{};
    enet_address_set_host(&address, "127.0.0.1");
    address.port = static_cast<enet_uint16>(host.port());
    ASSERT_EQ(enet_socket_connect(silent, &address), 0);

    ScopedEnv trust("SSL_CERT_FILE", testCertificate().c_str());
    uint32_t status = 0;
    std::string answer, error;
    EXPECT_TRUE(
        postJson(host.url("https") + "hesap/ticket", std::string(1048577, 'x'), status, answer, error))
        << error;
    EXPECT_EQ(status, 413u);
    char byte = 0;
    ENetBuffer buffer{&byte, 1};
    EXPECT_TRUE(waitUntil(
        [&] {
            enet_uint32 wait = ENET_SOCKET_WAIT_RECEIVE;
            if (enet_socket_wait(silent, &wait, 100) != 0) return true;
            // Readable with nothing to read: the server closed it (or reset it: -1).
            return (wait & ENET_SOCKET_WAIT_RECEIVE) && enet_socket_receive(silent, nullptr, &buffer, 1) <= 0;
        },
        20));
    enet_socket_destroy(silent);
    EXPECT_EQ(get(host.url("https") + "haberler.txt"), "!sunucu 404 dondu");
    expectCleanStop(host, kSigInt);
}

TEST(DevHost, BadOptionsAreRefused) {
    TempFolder site;
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"--port", "0"},
        {"--root", site / "yok"},
        {"--root", site.path(), "--port", "70000"},
        {"--root", site.path(), "--port", "12ab"},
        {"--root", site.path(), "--cert", testCertificate()},
        {"--root", site.path(), "--news", site / "yok.txt"},
        {"--root", site.path(), "--bind", "not-an-address"},
        {"--root", site.path(), "--frobnicate", "1"},
        {"--root"},
        {"--totp", "1!", "--time", "59"},
    };
    for (const auto& args : bad) {
        ProgramRun run = runCaptured(builtProgram("morlaken-devhost"), args, {}, 10);
        EXPECT_TRUE(run.exitCode == 1 || run.exitCode == 2)
            << "args " << args.size() << " exit " << run.exitCode;
        EXPECT_EQ(run.out.find("port "), std::string::npos);
    }
}

// ---- the account service ----

constexpr const char* kSecret = "GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ"; // "12345678901234567890"

ProgramRun devhost(const std::vector<std::string>& args) {
    return runCaptured(builtProgram("morlaken-devhost"), args);
}

// The RFC 6238 appendix B vectors for HMAC-SHA1 (8 digits); the six-digit code the service
// checks is the last six digits of the same value, whatever the secret's case and blanks.
TEST(DevHostAccounts, CodesMatchTheRfcVectors) {
    const std::pair<const char*, const char*> cases[] = {
        {"59", "94287082"},         {"1111111109", "07081804"}, {"1111111111", "14050471"},
        {"1234567890", "89005924"}, {"2000000000", "69279037"}, {"20000000000", "65353130"}};
    for (const auto& [time, code] : cases) {
        EXPECT_EQ(devhost({"--totp", kSecret, "--time", time, "--digits", "8"}).out,
                  std::string(code) + "\n");
        EXPECT_EQ(devhost({"--totp", "gezdgnbvgy3tqojq gezdgnbvgy3tqojq", "--time", time}).out,
                  std::string(code + 2) + "\n");
    }
}

// Hashes made by another PBKDF2-HMAC-SHA-256 (Python's hashlib): "passwd" with salt "salt"
// and one round (RFC 7914's vector), and a 105-byte password, longer than a SHA-256 block.
const std::string kLongPassword =
    "Çok-uzun-bir-şifre-Çok-uzun-bir-şifre-Çok-uzun-bir-şifre-Çok-uzun-bir-şifre-"
    "Çok-uzun-bir-şifre-";
const char* const kForeignHashes =
    "kisa||pbkdf2-sha256$1$73616c74$55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc||1|\n"
    "uzun||pbkdf2-sha256$1000$00112233445566778899aabbccddeeff$"
    "2f6eaf7b6d75505f547df4f4dc9b0fa6df4a3c4c68adb2840b1bc9c1ddaa8661||1|\n";

class DevHostAccountService : public ::testing::Test {
  protected:
    void SetUp() override {
        ProgramRun hash = devhost({"--hash-password", "doğru", "--iterations", "2000"});
        ASSERT_EQ(hash.out.rfind("pbkdf2-sha256$2000$", 0), 0u) << hash.out;
        const std::string h = hash.out.substr(0, hash.out.find('\n'));
        // "yavas" takes long enough to check that requests sent together overlap.
        writeFile(root / "users.txt", "iki||" + h + "|" + kSecret + "|1|\ntek|t@e.st|" + h + "||1|\nyavas||" +
                                          devhost::hashPassword("doğru", 300000) + "||1|\n" + kForeignHashes);
        ASSERT_TRUE(host.start({"--root", root.path(), "--port", "0", "--users", root / "users.txt",
                                "--account-base", "/api/v1/"}));
    }
    // (status, message or ticket) of one request.
    std::pair<uint32_t, std::string> post(const std::string& body,
                                          const std::string& path = "api/v1/ticket") {
        uint32_t status = 0;
        std::string answer, error, message;
        EXPECT_TRUE(postJson(host.url() + path, body, status, answer, error)) << error;
        jsonGetTopLevelString(answer, status == 200 ? "ticket" : "message", message);
        return {status, message};
    }
    std::pair<uint32_t, std::string> login(const std::string& user, const std::string& password,
                                           const std::string& code = "") {
        return post(accountLoginBody(user, password, code));
    }
    std::string code(int64_t stepOffset = 0) {
        const long long t = static_cast<long long>(std::time(nullptr)) + stepOffset * 30;
        return devhost({"--totp", kSecret, "--time", std::to_string(t)}).out.substr(0, 6);
    }
    TempFolder root;
    DevHost host;
};

using Answer = std::pair<uint32_t, std::string>;
const Answer kInvalidCode{401, "TOTP_INVALID"}, kWrong{401, "INVALID_CREDENTIALS"};

// A code is taken once and only within one step; foreign hashes verify; failures lock an
// account; bad requests are refused.
TEST_F(DevHostAccountService, CodesHashesLockOutAndBadRequests) {
    EXPECT_EQ(login("iki", "doğru"), Answer(401, "TOTP_REQUIRED"));
    const std::string now = code();
    const Answer first = login("iki", "doğru", now);
    EXPECT_EQ(first.first, 200u);
    EXPECT_EQ(first.second.size(), 64u);
    EXPECT_EQ(login("iki", "doğru", now), kInvalidCode) << "replayed";
    EXPECT_EQ(login("iki", "doğru", code(-1)), kInvalidCode) << "older than the used one";
    EXPECT_EQ(login("iki", "doğru", code(3)), kInvalidCode) << "three steps ahead";
    const Answer drift = login("iki", "doğru", code(1));
    EXPECT_EQ(drift.first, 200u) << "one step of drift";
    EXPECT_NE(drift.second, first.second) << "every ticket is fresh";

    EXPECT_EQ(login("kisa", "passwd").first, 200u);
    EXPECT_EQ(login("kisa", "passwc"), kWrong);
    EXPECT_EQ(login("uzun", kLongPassword).first, 200u);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(login("t@e.st", "yanlış"), kWrong);
    EXPECT_EQ(login("tek", "doğru"), Answer(429, "Çok fazla hatalı deneme. Biraz bekleyip tekrar dene."))
        << "locked even with the right password, under either name";
    EXPECT_EQ(login("iki", "doğru").second, "TOTP_REQUIRED") << "other accounts go on";
    const Answer invalid{400, "Geçersiz istek."};
    EXPECT_EQ(post(R"({"username":"tek"})"), invalid);
    EXPECT_EQ(post(R"({"password":"doğru"})"), invalid);
    EXPECT_EQ(post("not json"), invalid);
    EXPECT_EQ(login("kimse", "doğru"), kWrong);
    EXPECT_EQ(post("{}", "ticket").first, 404u) << "only under the account base";
}

// An attempt counts before its password is checked: requests sent together get no more
// checks than the limit, the others the lock-out answer at once.
TEST_F(DevHostAccountService, ParallelFailuresAreCountedBeforeTheirCheck) {
    std::vector<Answer> answers(20);
    std::vector<std::thread> threads;
    for (auto& a : answers)
        threads.emplace_back([&] { a = login("yavas", "yanlış"); });
    for (auto& t : threads)
        t.join();
    int checked = 0, locked = 0;
    for (const auto& a : answers)
        checked += a == kWrong, locked += a.first == 429u;
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
    const struct {
        std::string user, account;
        long rounds;
    } cases[] = {{"tek", "tek", 3000}, {"t@e.st", "tek", 3000}, {"uzun", "uzun", 1000},
                 {"kimse", "", 3000},  {"", "", 3000},          {"Tek", "", 3000}};
    for (const auto& c : cases) {
        const devhost::Account* account = nullptr;
        EXPECT_EQ(devhost::pbkdf2Rounds(devhost::loginHash(accounts, decoy, c.user, account)), c.rounds)
            << c.user;
        EXPECT_EQ(account ? account->name : "", c.account) << c.user;
    }
    EXPECT_EQ(devhost::pbkdf2Rounds(devhost::decoyHash({})), devhost::kPbkdf2Iterations);
}

} // namespace
