// http.h - one blocking HTTP(S) GET and the account login's POST, run only on background
// threads.
//
// Two implementations with the same functions in the same order: http_curl.cpp (libcurl,
// here) and http_wininet.cpp (WinINet, the Windows build); the sinks are shared
// (http_sinks.cpp). Both keep: user agent "MorlakenLauncher", 15 s to connect, a transfer
// that receives nothing for the no-data limit fails (15 s unless the caller chooses
// otherwise), no caches (no-cache request headers), a GET's redirects followed (only the
// final status counts), TLS verification on, the system's proxies (here the standard
// environment variables), the body handed to a sink in chunks of at most 64 KiB. A stop
// request ends a running transfer within a fraction of a second. OpenSSL's SSL_CERT_FILE
// and SSL_CERT_DIR, when set, choose the trusted certificates (libcurl does not read them by
// itself). Redirects go to http and https only, and a request made over https is never
// redirected to http, at any hop of a chain (the transfer fails as unreachable).
//
// The HTTP library is started by the first call that needs it, on whichever thread, once
// (libcurl is opened then, not at program start; a GET or POST fails with the "internet
// acilamadi" error when it cannot be): libcurl and OpenSSL under it are given heap
// functions that zero every block before freeing it (platform/wiping_alloc.h), so no copy
// of the login request or its answer stays behind in their freed buffers. OpenSSL takes
// heap functions only before its first allocation: in the launcher nothing uses it earlier
// (a process that did, such as a test with its own TLS server, keeps OpenSSL's own heap,
// which is no error).
//
// Index
//   ---- tunables ----
//   ---- error words ----
//   ---- sinks ----
//   ---- options and session ----
//   ---- httpGet ----
//   ---- postJson ----
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// ---- tunables ----
inline constexpr const char* kUserAgent = "MorlakenLauncher";
inline constexpr long kConnectTimeoutSeconds = 15;
inline constexpr long kNoDataTimeoutSeconds = 15;
inline constexpr size_t kReadChunkBytes = 65536;
inline constexpr size_t kFileListCap = 67108864; // 64 MiB
inline constexpr size_t kNewsCap = 1048576;      // 1 MiB

// ---- error words ----

// httpGet's, stored in `error`:
inline constexpr const char* kErrOpen = "internet acilamadi";
inline constexpr const char* kErrConnect = "sunucuya ulasilamadi";
inline constexpr const char* kErrRead = "indirme yarida kesildi";
inline constexpr const char* kErrSink = "diske yazilamadi";
// Any status but 200: "sunucu " + status + " dondu".

// ---- sinks ----

// A sink takes each chunk; false refuses it and ends the transfer with kErrSink.
using DownloadSink = std::function<bool(const uint8_t* bytes, uint32_t count)>;

// Appends to a caller-owned string; refuses once the string would reach `cap` bytes.
DownloadSink makeStringSink(std::string& out, size_t cap);

// ---- options and session ----

// What a caller may choose about its transfers.
struct HttpOptions {
    // Seconds without a byte of an answer (head or body) before a transfer fails: a GET with
    // "indirme yarida kesildi" once its answer began (else "sunucuya ulasilamadi"), a POST as
    // a request whose answer did not arrive whole. The product keeps kNoDataTimeoutSeconds.
    long noDataTimeoutSeconds = kNoDataTimeoutSeconds;
};

// A connection kept from one GET to the next: the requests of one update pass share a
// connection and TLS session to the update server (one handshake per pass, not per file).
// Used by one thread at a time; a transfer that failed or was stopped drops its
// connection and the next GET opens a new one. Its options hold for every GET through it.
class HttpSession {
  public:
    explicit HttpSession(const HttpOptions& options = {});
    ~HttpSession();
    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;
    const HttpOptions options;
    struct Handles;
    std::unique_ptr<Handles> handles;
};

// ---- httpGet ----

// A GET of part of a file of `total` bytes: "Range: bytes=FROM-" (continuing a download,
// `length` -1) or "Range: bytes=FROM-LAST" (`length` bytes from FROM; one range per
// request, as every server that honours ranges at all accepts). Only a 206 answer whose
// Content-Range is exactly "bytes FROM-LAST/TOTAL" counts as success; a 200 (a server
// that ignores ranges), 416 or any other range fails as "sunucu STATUS dondu" before a
// byte reaches the sink; the caller's sink bounds the body.
struct HttpRange {
    int64_t from = 0;
    int64_t total = 0;
    int64_t length = -1; // -1: to the end of the file
    int64_t last() const { return length < 0 ? total - 1 : from + length - 1; }
};
// "FROM-" or "FROM-LAST", the value after "bytes=" in the request.
std::string rangeRequestText(const HttpRange& range);
// "bytes FROM-LAST/TOTAL", the Content-Range an answer must carry.
std::string rangeAnswerText(const HttpRange& range);

// GET `url` (complete and encoded by the caller) into `sink`. True only for status 200,
// the body read to its end, every chunk accepted and no stop requested. On failure
// `error` gets one of the words above; on a stop request it is left untouched.
// Setting `stop` (from any thread) ends the transfer within a fraction of a second.
// Any background thread. With `session` the GET reuses that session's connection and
// takes its options; without one the default options hold.
bool httpGet(const std::string& url, const DownloadSink& sink, std::string& error,
             const std::atomic<bool>& stop, HttpSession* session = nullptr, const HttpRange* range = nullptr);

// ---- postJson ----

// Error words of postJson (stored in `outError`).
inline constexpr const char* kErrPostAddress = "adres hatali";
inline constexpr const char* kErrPostOpen = "internet acilamadi";
inline constexpr const char* kErrPostConnect = "giris sunucusuna ulasilamadi";
// A request that could not be sent, or whose answer did not arrive whole:
// kErrPostConnect + " (" + libcurl's decimal error code + ")", where Windows puts its
// system error code (12030 for an answer shorter than its Content-Length).
inline constexpr size_t kPostAnswerCap = 65536; // no chunk is taken once this much arrived
inline constexpr size_t kPostChunkBytes = 4096;

// POSTs `body` to `url` (http or https only) with "Content-Type: application/json" and
// "Accept: application/json", the user agent, 15 s to connect and `options`' no-data limit
// without progress in either direction. No redirect is followed: a 3xx is an answer like any other, so the
// password never goes to a second address. Sets `outStatus` to 0 and empties
// `outResponse` first. True once a whole answer arrived, whatever its status:
// `outStatus` is its status and `outResponse` its body, read in chunks of 4096 bytes until
// it ends, or until it already holds kPostAnswerCap bytes or more before the next chunk
// (the rest is never read). False, with `outError` set to one of the words above,
// `outStatus` 0 and `outResponse` empty (and zeroed), when no answer came or the answer
// broke off before its end (fewer bytes than its Content-Length, a reset, the no-data
// limit). `outResponse` is reserved once, so the answer is never copied into memory that
// is freed unwiped. `stop` (may be null), when it turns true, ends the request within
// about 50 ms: false, `outError` untouched.
// `body` is sent from the caller's buffer, not copied (the WinINet build sends one copy,
// wiped once sent: its blocking calls run on a thread that may outlive a stopped call).
// Any background thread.
bool postJson(const std::string& url, const std::string& body, uint32_t& outStatus, std::string& outResponse,
              std::string& outError, const std::atomic<bool>* stop = nullptr,
              const HttpOptions& options = {});
