// morlaken-devhost - the local update host for development, tests and the demo.
//
//   morlaken-devhost --root DIR [--port N] [--bind ADDR] [--cert FILE --key FILE] [--news FILE]
//                    [--users FILE [--account-base /hesap/]]
//   morlaken-devhost --hash-password PASS [--iterations N]   prints a users-file hash field
//   morlaken-devhost --totp BASE32 [--time UNIXSECONDS] [--digits N]   prints the code
//
// Serves DIR as the update base (GET of "dosyalar.txt" and every file under DIR), the news
// feed at "/haberler.txt" when --news is given, and with --users the account service
// (POST <account-base>ticket; account_service.h documents the answers and the users file),
// over HTTP, or HTTPS with --cert and --key.
// The first line on standard output is "port N" (the port actually bound, so --port 0
// works for tests and scripts). SIGTERM or SIGINT stops it cleanly (exit 0).
//
// Index
//   ---- tunables ----
//   ---- options ----
//   ---- files ----
//   ---- account service ----
//   ---- main ----
#include "account_service.h"
#include "tiny_http.h"

#include "update/filelist.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace fs = std::filesystem;

// ---- tunables ----
namespace {
constexpr size_t kSendChunkBytes = 65536;
constexpr auto kSignalPollInterval = std::chrono::milliseconds(100);
constexpr const char* kNewsPath = "/haberler.txt";

volatile std::sig_atomic_t gStop = 0;
void onSignal(int) {
    gStop = 1;
}

// ---- options ----

struct Options {
    std::string root;
    std::string bind = "127.0.0.1";
    int port = 8080;
    std::string cert;
    std::string key;
    std::string news;
    std::string users;
    std::string accountBase = "/hesap/";
};

void usage() {
    std::fprintf(stderr,
                 "usage: morlaken-devhost --root DIR [--port N] [--bind ADDR] [--cert FILE --key FILE] "
                 "[--news FILE] [--users FILE [--account-base /hesap/]]\n"
                 "       morlaken-devhost --hash-password PASS [--iterations N]\n"
                 "       morlaken-devhost --totp BASE32 [--time UNIXSECONDS] [--digits N]\n");
}

bool parseOptions(int argc, char** argv, Options& out) {
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        if (i + 1 >= argc) {
            std::fprintf(stderr, "morlaken-devhost: %s needs a value\n", name.c_str());
            return false;
        }
        std::string value = argv[++i];
        if (name == "--root")
            out.root = value;
        else if (name == "--bind")
            out.bind = value;
        else if (name == "--cert")
            out.cert = value;
        else if (name == "--key")
            out.key = value;
        else if (name == "--news")
            out.news = value;
        else if (name == "--users")
            out.users = value;
        else if (name == "--account-base")
            out.accountBase = value;
        else if (name == "--port") {
            char* end = nullptr;
            long port = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || port < 0 || port > 65535) {
                std::fprintf(stderr, "morlaken-devhost: bad port %s\n", value.c_str());
                return false;
            }
            out.port = static_cast<int>(port);
        } else {
            std::fprintf(stderr, "morlaken-devhost: unknown option %s\n", name.c_str());
            return false;
        }
    }
    if (out.root.empty()) {
        std::fprintf(stderr, "morlaken-devhost: --root is required\n");
        return false;
    }
    if (out.accountBase.empty() || out.accountBase.front() != '/' || out.accountBase.back() != '/') {
        std::fprintf(stderr, "morlaken-devhost: --account-base must start and end with /\n");
        return false;
    }
    if (out.cert.empty() != out.key.empty()) {
        std::fprintf(stderr, "morlaken-devhost: --cert and --key go together\n");
        return false;
    }
    return true;
}

// ---- files ----

// Returns the status sent.
int sendFile(const fs::path& file, bool headOnly, tinyhttp::Stream& stream) {
    std::error_code ec;
    auto size = fs::file_size(file, ec);
    std::ifstream in(file, std::ios::binary);
    if (ec || !in) {
        stream.sendResponse(404, "not found\n");
        return 404;
    }
    const char* type = file.extension() == ".txt" ? "text/plain; charset=utf-8" : "application/octet-stream";
    if (!stream.sendHead(200, static_cast<long long>(size), type) || headOnly) return 200;
    std::vector<char> buffer(kSendChunkBytes);
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        if (in.gcount() > 0 && !stream.write(buffer.data(), static_cast<size_t>(in.gcount()))) break;
    }
    return 200;
}

// Maps a decoded request path to a file under `root`, refusing anything the launcher would
// refuse in a list (empty, ".", ".." segments, ':' ...) and anything that leads out of
// `root` through a link. Returns "" when refused.
fs::path resolveUnderRoot(const fs::path& root, const std::string& requestPath) {
    if (requestPath.size() < 2 || requestPath[0] != '/') return {};
    std::string relative = requestPath.substr(1);
    if (!isSafeRelativePath(relative) || relative.back() == '/') return {};
    std::error_code ec;
    fs::path candidate = fs::weakly_canonical(root / relative, ec);
    if (ec) return {};
    auto rel = candidate.lexically_relative(root);
    if (rel.empty() || *rel.begin() == "..") return {};
    return candidate;
}

// ---- account service ----

// The one-shot helper modes: print a users-file hash field or a TOTP code, then exit.
// Returns -1 when `argv` asks for neither.
int runHelperMode(int argc, char** argv) {
    if (argc < 3) return -1;
    std::string mode = argv[1];
    if (mode != "--hash-password" && mode != "--totp") return -1;
    long iterations = devhost::kPbkdf2Iterations, digits = 6;
    long long time = static_cast<long long>(std::time(nullptr));
    for (int i = 3; i + 1 < argc; i += 2) {
        std::string name = argv[i];
        char* end = nullptr;
        long long value = std::strtoll(argv[i + 1], &end, 10);
        if (*end || value < 0) return 2;
        if (name == "--iterations" && value >= 1 && value <= 10000000)
            iterations = static_cast<long>(value);
        else if (name == "--digits" && value >= 6 && value <= 9)
            digits = static_cast<long>(value);
        else if (name == "--time")
            time = value;
        else
            return 2;
    }
    if ((argc - 3) % 2) return 2;
    std::string out;
    if (mode == "--hash-password") {
        out = devhost::hashPassword(argv[2], static_cast<int>(iterations));
    } else {
        std::string key;
        if (!devhost::decodeBase32(argv[2], key) || key.empty()) return 2;
        out = devhost::totpCode(key, static_cast<uint64_t>(time / devhost::kTotpStepSeconds),
                                static_cast<int>(digits));
    }
    if (out.empty()) return 1;
    std::printf("%s\n", out.c_str());
    return 0;
}

} // namespace

// ---- main ----

int main(int argc, char** argv) {
    if (int code = runHelperMode(argc, argv); code >= 0) {
        if (code == 2) usage();
        return code;
    }
    Options options;
    if (!parseOptions(argc, argv, options)) {
        usage();
        return 2;
    }
    std::error_code ec;
    fs::path root = fs::canonical(options.root, ec);
    if (ec || !fs::is_directory(root)) {
        std::fprintf(stderr, "morlaken-devhost: --root %s is not a folder\n", options.root.c_str());
        return 2;
    }
    fs::path news;
    if (!options.news.empty()) {
        news = fs::absolute(options.news, ec);
        if (!fs::is_regular_file(news, ec)) {
            std::fprintf(stderr, "morlaken-devhost: --news %s is not a file\n", options.news.c_str());
            return 2;
        }
    }

    std::string error;
    devhost::AccountService accounts;
    const bool accountService = !options.users.empty();
    if (accountService && !accounts.load(options.users, error)) {
        std::fprintf(stderr, "morlaken-devhost: %s\n", error.c_str());
        return 2;
    }
    accounts.setBase(options.accountBase);

    tinyhttp::Server server;
    if (!options.cert.empty() && !server.enableTls(options.cert, options.key, error)) {
        std::fprintf(stderr, "morlaken-devhost: %s\n", error.c_str());
        return 2;
    }
    auto handler = [&](const tinyhttp::Request& request, tinyhttp::Stream& stream) {
        int status = 200;
        if (request.method == "POST") {
            if (!accountService || !accounts.handle(request, stream, status)) {
                status = 404;
                stream.sendResponse(404, "not found\n");
            }
        } else if (request.method != "GET" && request.method != "HEAD") {
            status = 405;
            stream.sendResponse(405, "method not allowed\n", "text/plain", "Allow: GET, HEAD\r\n");
        } else if (!request.pathValid) {
            status = 400;
            stream.sendResponse(400, "bad path\n");
        } else if (!news.empty() && request.path == kNewsPath) {
            status = sendFile(news, request.method == "HEAD", stream);
        } else if (fs::path file = resolveUnderRoot(root, request.path);
                   !file.empty() && fs::is_regular_file(file, ec)) {
            status = sendFile(file, request.method == "HEAD", stream);
        } else {
            status = 404;
            stream.sendResponse(404, "not found\n");
        }
        std::fprintf(stderr, "%s %s %d\n", devhost::consoleText(request.method).c_str(),
                     devhost::consoleText(request.target).c_str(), status);
    };
    if (!server.listen(options.bind, options.port, handler, error)) {
        std::fprintf(stderr, "morlaken-devhost: %s\n", error.c_str());
        return 1;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::printf("port %d\n", server.port());
    std::fflush(stdout);
    std::fprintf(stderr, "morlaken-devhost: serving %s on %s://%s:%d/\n", root.c_str(),
                 options.cert.empty() ? "http" : "https", options.bind.c_str(), server.port());

    while (!gStop)
        std::this_thread::sleep_for(kSignalPollInterval);
    server.stop();
    std::fprintf(stderr, "morlaken-devhost: stopped\n");
    return 0;
}
