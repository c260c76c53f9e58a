// accounts_fuzz.cpp - libFuzzer harness for the users file of morlaken-devhost and
// morlaken_server (parseAccounts), and for how they print names from the network
// (consoleText).
//
// Properties checked on every input (not only "no crash"):
//   - an accepted text gives one account per line that is neither empty nor a comment,
//     each with a name or an e-mail, and no field holding '|' or LF;
//   - a refused text gives no accounts and names a line that exists;
//   - comment lines and blank lines added at the end change nothing;
//   - the printed form of the bytes holds no control byte (C0, DEL, C1 as UTF-8) and
//     reading its escapes back gives the bytes themselves.
#include "../tools/devhost/accounts.h"
#include "fuzz_check.h"
#include "platform/lines.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void checkConsoleText(const std::string& text) {
    const std::string shown = devhost::consoleText(text);
    std::string back;
    for (size_t i = 0; i < shown.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(shown[i]);
        FUZZ_CHECK(c >= 0x20 && c != 0x7F);
        FUZZ_CHECK(!(c == 0xC2 && i + 1 < shown.size() && static_cast<unsigned char>(shown[i + 1]) < 0xA0));
        if (c != '\\') {
            back += shown[i];
        } else if (i + 1 < shown.size() && shown[i + 1] == '\\') {
            back += '\\';
            ++i;
        } else {
            FUZZ_CHECK(i + 3 < shown.size() && shown[i + 1] == 'x');
            back += static_cast<char>(std::strtol(shown.substr(i + 2, 2).c_str(), nullptr, 16));
            i += 3;
        }
    }
    FUZZ_CHECK(back == text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    checkConsoleText(text);
    std::vector<devhost::Account> accounts;
    std::string error;
    const bool ok = devhost::parseAccounts(text, "f", accounts, error);

    size_t lines = 0, entries = 0;
    platform::LineReader reader(text);
    std::string_view line;
    while (reader.next(line)) {
        ++lines;
        if (!line.empty() && line[0] != '#') ++entries;
    }
    if (!ok) {
        FUZZ_CHECK(accounts.empty());
        FUZZ_CHECK(error.rfind("f:", 0) == 0);
        const long number = std::strtol(error.c_str() + 2, nullptr, 10);
        FUZZ_CHECK(number >= 1 && static_cast<size_t>(number) <= lines);
        return 0;
    }
    FUZZ_CHECK(accounts.size() == entries);
    for (const devhost::Account& a : accounts) {
        FUZZ_CHECK(!a.name.empty() || !a.email.empty());
        for (const std::string* field : {&a.name, &a.email, &a.passwordHash, &a.maskedEmail})
            FUZZ_CHECK(field->find_first_of("|\n") == std::string::npos);
    }
    std::vector<devhost::Account> again;
    const std::string padded = text + (text.empty() || text.back() == '\n' ? "" : "\n") + "# yorum\n\n#\n";
    FUZZ_CHECK(devhost::parseAccounts(padded, "f", again, error));
    FUZZ_CHECK(again.size() == accounts.size());
    for (size_t i = 0; i < again.size(); ++i)
        FUZZ_CHECK(again[i].name == accounts[i].name && again[i].passwordHash == accounts[i].passwordHash &&
                   again[i].totpKey == accounts[i].totpKey && again[i].verified == accounts[i].verified);
    return 0;
}
