// freed_memory_test.cpp - after a login through either path, no block the launcher's code
// or its libraries (libcurl, OpenSSL, ENet) freed holds the password, the code or the
// ticket: login_probe logs in with free_scan preloaded, which searches every freed block
// for them (tests/scan/).
#include "login/gameserver.h"
#include "login/login_support.h"
#include "login/wire.h"
#include "support/test_server.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using namespace logintest;

// Longer than a string keeps in place, so every copy of them lives on the heap.
constexpr const char* kPassword = "parola-3b9e1c7a5d2f4e60";
constexpr const char* kCode = "kod-8c41f07e2b9d";
constexpr const char* kTicket = "bilet-5e0a92c4d71b3f86";
constexpr const char* kControl = "kontrol-71d3a9e04b6c";

class FreedMemoryScan : public ::testing::TestWithParam<const char*> {};

TEST_P(FreedMemoryScan, NoFreedBlockHoldsThePasswordTheCodeOrTheTicket) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer's allocator owns free(): a preloaded free() cannot stand in front of it";
#endif
    const std::string path = GetParam();
    TestServer account(path == "https");
    account.route("/hesap/ticket", answer(200, std::string("{\"ticket\":\"") + kTicket + "\"}"));
    EnetStandIn gameServer(EnetStandIn::Mode::Reply, wire::encodeLoginAccepted("oyuncu", kTicket));
    GameFolder game;
    TempFolder scratch;
    ChildOptions options;
    options.extraEnv = {
        {"LD_PRELOAD", builtProgram("libmorlaken_free_scan.so")},
        {"MORLAKEN_SCAN_MARKERS",
         std::string("parola=") + kPassword + ",kod=" + kCode + ",bilet=" + kTicket + ",kontrol=" + kControl},
        {"MORLAKEN_SCAN_REPORT", scratch / "report.txt"},
        {"SSL_CERT_FILE", testCertificate()},
    };
    const bool viaServer = path == "sunucu";
    ProgramRun run = runCaptured(builtProgram("login_probe"),
                                 {viaServer ? "sunucu" : "hesap",
                                  viaServer ? gameServer.address() : account.baseUrl() + "hesap", "oyuncu",
                                  kPassword, viaServer ? "-" : kCode, game.dir.path(), kControl},
                                 options, 60);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(game.record()["bilet"], kTicket);

    std::map<std::string, int> copies;
    const std::string report = readFile(scratch / "report.txt");
    ASSERT_EQ(report.rfind("scan\n", 0), 0u) << "the scan did not run";
    for (size_t at = 5, end; (end = report.find('\n', at)) != std::string::npos; at = end + 1)
        if (report[at] != '/' && report[at] != '[') copies[report.substr(at, end - at)]++; // not a trace
    EXPECT_EQ(copies["kontrol"], 1) << "the scan missed the one copy freed on purpose";
    // On a find, MORLAKEN_SCAN_TRACE=1 in the environment adds who freed each copy.
    EXPECT_EQ(copies["parola"], 0) << report;
    EXPECT_EQ(copies["kod"], 0) << report;
    EXPECT_EQ(copies["bilet"], 0) << report;
}

INSTANTIATE_TEST_SUITE_P(Paths, FreedMemoryScan, ::testing::Values("http", "https", "sunucu"));

} // namespace
