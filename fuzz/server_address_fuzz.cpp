// server_address_fuzz.cpp - libFuzzer harness for parseServerAddress.
//
// Properties checked on every input (not only "no crash"):
//   - an accepted address has a non-empty host with no colon and no blank at its start,
//     and a port of 1..65535;
//   - without a colon the host has no blank at its end either;
//   - an accepted host:port written back as "host:port" parses to the same host and port;
//   - an accepted address without a colon keeps the default port 27015.
#include "fuzz_check.h"
#include "login/gameserver.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::string host;
    uint16_t port = 0;
    if (!parseServerAddress(input, host, port)) return 0;
    FUZZ_CHECK(!host.empty());
    FUZZ_CHECK(port >= 1);
    FUZZ_CHECK(host.find(':') == std::string::npos);
    FUZZ_CHECK(host.front() != ' ' && host.front() != '\t');
    // Blanks are stripped from the ends of the whole text only ("a :80" keeps "a ").
    if (input.find(':') == std::string::npos)
        FUZZ_CHECK(port == kDefaultGamePort && host.back() != ' ' && host.back() != '\t');
    std::string againHost;
    uint16_t againPort = 0;
    FUZZ_CHECK(parseServerAddress(host + ":" + std::to_string(port), againHost, againPort));
    FUZZ_CHECK(againHost == host && againPort == port);
    return 0;
}
