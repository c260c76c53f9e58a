// devhost_test.cpp - morlaken-devhost started by the test on 127.0.0.1 with an ephemeral
// port: serving a published folder, refusing paths outside it, news, clients that would hold
// a connection, signals; two hosts in all. (HTTPS with the given certificate:
// login/account_test.cpp, AccountServiceFlow/https.)
#include "net/http.h"
#include "support/child_process.h"
#include "support/devhost.h"
#include "support/temp_folder.h"
#include "support/test_server.h"

#include <enet/enet.h>
#include <gtest/gtest.h>

#include <filesystem>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

class DevHostTest : public ::testing::Test {
  protected:
    bool get(const std::string& url, std::string& outBody, std::string& outError) {
        outBody.clear();
        outError.clear();
        return httpGet(url, makeStringSink(outBody, kFileListCap), outError, neverStop());
    }
    TempFolder site, scratch;
};

// Ends `host` with `signalNumber`: it must stop cleanly, exit code 0.
void expectCleanStop(DevHost& host, int signalNumber) {
    host.child().signal(signalNumber);
    int code = -1;
    ASSERT_TRUE(host.child().wait(10, code));
    EXPECT_EQ(code, 0) << signalNumber;
}

// ---- serving (whole update passes through devhost run in screens/login_e2e_test.cpp) ----

TEST_F(DevHostTest, ServesItsFolderAndNewsRefusesPathsOutsideAndStopsOnTerm) {
    writeFile(site / "ic/dosya.txt", "inside");
    writeFile(scratch / "gizli.txt", "secret");
    writeFile(scratch / "haberler.txt", "duyuru|Bakım|Sunucular 10:00'da kapanacak\n");
    fs::create_directory_symlink(scratch.path(), site / "kacis");
    DevHost host;
    ASSERT_TRUE(host.start({"--root", site.path(), "--port", "0", "--news", scratch / "haberler.txt"}));
    std::string body, error;
    EXPECT_TRUE(get(host.url() + "haberler.txt", body, error)) << error;
    EXPECT_EQ(body, "duyuru|Bakım|Sunucular 10:00'da kapanacak\n");
    EXPECT_TRUE(get(host.url() + "ic/dosya.txt", body, error));
    EXPECT_EQ(body, "inside");
    EXPECT_TRUE(get(host.url() + "ic/dos%79a.txt", body, error)) << "percent-decoding";
    EXPECT_EQ(body, "inside");
    const char* refused[] = {"%2e%2e/gizli.txt",
                             "ic/%2e%2e/%2e%2e/gizli.txt",
                             "ic%2f..%2f..%2fgizli.txt",
                             "kacis/gizli.txt",
                             "%2fetc%2fhostname",
                             "ic/",
                             "ic",
                             "",
                             "ic%5c..%5c..%5cgizli.txt",
                             "c:%2fgizli.txt"};
    for (const char* path : refused) {
        EXPECT_FALSE(get(host.url() + path, body, error)) << path;
        EXPECT_EQ(error, "sunucu 404 dondu") << path;
    }
    for (const char* path : {"ic/dosya%2", "ic/dosya%zz.txt", "ic/%00.txt"}) {
        EXPECT_FALSE(get(host.url() + path, body, error)) << path;
        EXPECT_EQ(error, "sunucu 400 dondu") << path;
    }
    expectCleanStop(host, kSigTerm);
}

// ---- clients that would hold a connection ----

// A TLS client that never says hello is let go after a few seconds, and a body above 1 MiB
// is answered with 413 instead of being cut off unanswered; without --news there is no feed.
TEST_F(DevHostTest, SilentTlsClientsAreLetGoLongBodiesRefusedAndIntStops) {
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
    std::string body;
    EXPECT_FALSE(
        httpGet(host.url("https") + "haberler.txt", makeStringSink(body, kNewsCap), error, neverStop()));
    EXPECT_EQ(error, "sunucu 404 dondu");
    expectCleanStop(host, kSigInt);
}

// ---- options ----

TEST_F(DevHostTest, BadOptionsAreRefused) {
    std::string out;
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"--port", "0"},
        {"--root", (site / "yok")},
        {"--root", site.path(), "--port", "70000"},
        {"--root", site.path(), "--port", "12ab"},
        {"--root", site.path(), "--cert", testCertificate()},
        {"--root", site.path(), "--news", (site / "yok.txt")},
        {"--root", site.path(), "--bind", "not-an-address"},
        {"--root", site.path(), "--frobnicate", "1"},
        {"--root"},
    };
    for (const auto& args : bad) {
        int code = runProgram(builtProgram("morlaken-devhost"), args, out, 10);
        EXPECT_TRUE(code == 1 || code == 2) << "args " << args.size() << " exit " << code;
        EXPECT_EQ(out.find("port "), std::string::npos);
    }
}

} // namespace
