// http_wininet.cpp - httpGet and postJson on WinINet (http.h), for the Windows build. The
// libcurl build has the same functions in the same order in http_curl.cpp; the sinks are
// shared (http_sinks.cpp).
//
// A blocking WinINet call cannot look at a stop flag, and closing a handle from another
// thread does not end a blocked send or read everywhere (Wine's WinINet waits on). So both
// calls make their blocking calls on a thread of their own and the caller only waits for
// its results: a stop request returns at once, and the thread ends by itself when its call
// returns, touching nothing of the caller's.
//
// Time-outs are set on the handle that does the work as well as on the root: Wine does not
// pass the root's send and receive time-outs on to a connection.
//
// Index
//   ---- tunables ----
//   ---- library start ----   startHttpLibrary
//   ---- shared helpers ----  setTimeout, statusOf, finalAddress, leftHttps, readBuffer
//   ---- session ----
//   ---- httpGet ----         transfer state, readGet, httpGet
//   ---- postJson ----        transfer state, sendPost, postJson
#include "net/http.h"
#include "platform/text.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <wininet.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// ---- tunables ----

// Always from the server, never into a cache, never a dialog, a no-cache pragma: 0x84000300.
constexpr DWORD kGetFlags =
    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI | INTERNET_FLAG_PRAGMA_NOCACHE;
// The login request also keeps no cookies and follows no redirect (a 3xx is its answer,
// the password goes nowhere else): 0x84280200, plus INTERNET_FLAG_SECURE for https.
constexpr DWORD kPostFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_COOKIES |
                             INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_AUTO_REDIRECT;
constexpr int kStopPollMilliseconds = 50; // how often a waiting caller looks at the stop flag
constexpr DWORD kHostBufferChars = 256;
constexpr DWORD kPathBufferChars = 2048;
constexpr const char* kPostHeaders = "Content-Type: application/json\r\nAccept: application/json\r\n";
constexpr DWORD kConnectTimeoutMs = kConnectTimeoutSeconds * 1000;

static_assert(kGetFlags == 0x84000300u, "GET request flags");
static_assert(kPostFlags == 0x84280200u, "POST request flags");

// ---- library start ----

// WinINet starts itself with each InternetOpenA and frees its own buffers: nothing to do
// once per process.
void startHttpLibrary() {}

// ---- shared helpers ----

void setTimeout(HINTERNET h, DWORD option, DWORD milliseconds) {
    ::InternetSetOptionA(h, option, &milliseconds, sizeof milliseconds); // failures are ignored
}

uint32_t statusOf(HINTERNET request) {
    DWORD status = 0;
    DWORD length = sizeof status;
    if (!::HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length,
                          nullptr))
        status = 0;
    return status;
}

// The address the request finally answered from, after every redirect.
std::string finalAddress(HINTERNET request) {
    DWORD length = 0;
    ::InternetQueryOptionA(request, INTERNET_OPTION_URL, nullptr, &length);
    if (length == 0) return "";
    std::string url(length, '\0');
    if (!::InternetQueryOptionA(request, INTERNET_OPTION_URL, url.data(), &length)) return "";
    url.resize(std::strlen(url.c_str()));
    return url;
}

// WinINet refuses an https-to-http redirect by itself; the final address is checked as
// well, so no setting of the system can let a transfer leave https.
bool leftHttps(const std::string& requested, HINTERNET request) {
    return platform::startsWithIgnoringCase(requested, "https:") &&
           platform::startsWithIgnoringCase(finalAddress(request), "http:");
}

// One read buffer per thread, kept for the thread's next download.
std::vector<uint8_t>& readBuffer() {
    thread_local std::vector<uint8_t> buffer(kReadChunkBytes, 0);
    return buffer;
}

} // namespace

// ---- session ----

// WinINet keeps connections to a server alive and reuses them on its own, process-wide, so
// a session holds only its options.
struct HttpSession::Handles {};
HttpSession::HttpSession(const HttpOptions& options) : options(options) {
    startHttpLibrary();
}
HttpSession::~HttpSession() = default;

// ---- httpGet ----
namespace {

// One GET, shared between the calling thread and the reader thread that makes the
// blocking WinINet calls. The reader hands each chunk over and waits until the caller's
// sink has taken it; a caller that sees the stop flag stops waiting at once and leaves,
// and the reader, when its blocking call returns, closes the handles and ends without
// touching anything of the caller's.
struct GetTransfer {
    std::mutex mutex;
    std::condition_variable cue;
    std::vector<uint8_t> chunk; // the chunk waiting for the sink (reader fills it)
    bool chunkReady = false;    // reader sets; caller clears once the sink has it
    bool finished = false;      // reader: no more chunks
    bool ok = false;            // with finished: the body was read to its end
    std::string error;          // with finished and !ok
    bool abandoned = false;     // caller left (stop or a refused chunk): reader ends
};

// The Content-Range a ranged GET must carry: exactly "bytes FROM-LAST/TOTAL".
bool rangeMatches(HINTERNET request, const HttpRange& range) {
    char value[128] = {};
    DWORD length = sizeof value - 1;
    if (!::HttpQueryInfoA(request, HTTP_QUERY_CONTENT_RANGE, value, &length, nullptr)) return false;
    return std::string(value, length) == rangeAnswerText(range);
}

void readGet(std::shared_ptr<GetTransfer> t, std::string url, DWORD noDataMs, bool ranged, HttpRange range) {
    auto finish = [&t](bool ok, const char* error) {
        std::lock_guard<std::mutex> lock(t->mutex);
        t->finished = true;
        t->ok = ok;
        if (error) t->error = error;
        t->cue.notify_all();
    };
    HINTERNET root = ::InternetOpenA(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!root) return finish(false, kErrOpen);
    setTimeout(root, INTERNET_OPTION_CONNECT_TIMEOUT, kConnectTimeoutMs);
    setTimeout(root, INTERNET_OPTION_RECEIVE_TIMEOUT, noDataMs);
    const std::string rangeHeader = ranged ? "Range: bytes=" + rangeRequestText(range) + "\r\n" : "";
    HINTERNET request = ::InternetOpenUrlA(root, url.c_str(), ranged ? rangeHeader.c_str() : nullptr,
                                           ranged ? static_cast<DWORD>(-1) : 0, kGetFlags, 0);
    std::string status;
    const char* error = nullptr;
    bool ok = false;
    const uint32_t wanted = ranged ? 206 : 200;
    if (request) setTimeout(request, INTERNET_OPTION_RECEIVE_TIMEOUT, noDataMs);
    if (!request || leftHttps(url, request)) {
        error = kErrConnect;
    } else if (uint32_t code = statusOf(request);
               code != wanted || (ranged && !rangeMatches(request, range))) {
        status = "sunucu " + std::to_string(code) + " dondu";
    } else {
        std::vector<uint8_t>& buffer = readBuffer();
        for (;;) {
            DWORD n = 0;
            if (!::InternetReadFile(request, buffer.data(), static_cast<DWORD>(buffer.size()), &n)) {
                error = kErrRead;
                break;
            }
            if (n == 0) {
                ok = true;
                break;
            }
            std::unique_lock<std::mutex> lock(t->mutex);
            if (t->abandoned) break;
            t->chunk.assign(buffer.data(), buffer.data() + n);
            t->chunkReady = true;
            t->cue.notify_all();
            t->cue.wait(lock, [&t] { return !t->chunkReady || t->abandoned; });
            if (t->abandoned) break;
        }
    }
    if (request) ::InternetCloseHandle(request);
    ::InternetCloseHandle(root);
    if (!status.empty()) {
        std::lock_guard<std::mutex> lock(t->mutex);
        t->error = status;
    }
    finish(ok, error);
}

} // namespace

bool httpGet(const std::string& url, const DownloadSink& sink, std::string& error,
             const std::atomic<bool>& stop, HttpSession* session, const HttpRange* range) {
    startHttpLibrary();
    auto t = std::make_shared<GetTransfer>();
    const HttpOptions options = session ? session->options : HttpOptions{};
    const DWORD noDataMs = static_cast<DWORD>(options.noDataTimeoutSeconds * 1000);
    try {
        std::thread(readGet, t, url, noDataMs, range != nullptr, range ? *range : HttpRange{}).detach();
    } catch (...) {
        error = kErrOpen;
        return false;
    }
    std::unique_lock<std::mutex> lock(t->mutex);
    for (;;) {
        if (stop.load()) {
            t->abandoned = true;
            t->cue.notify_all();
            return false; // no error word for a stop
        }
        if (t->chunkReady) {
            // The reader waits while the sink works, so the chunk is not touched meanwhile.
            lock.unlock();
            const bool accepted = sink(t->chunk.data(), static_cast<uint32_t>(t->chunk.size()));
            lock.lock();
            if (!accepted) {
                t->abandoned = true;
                t->cue.notify_all();
                error = kErrSink;
                return false;
            }
            t->chunkReady = false;
            t->cue.notify_all();
            continue;
        }
        if (t->finished) {
            if (!t->ok) {
                error = t->error;
                return false;
            }
            return !stop.load();
        }
        t->cue.wait_for(lock, std::chrono::milliseconds(kStopPollMilliseconds));
    }
}

// ---- postJson ----
namespace {

// One POST, shared between the calling thread and the thread that makes the blocking
// WinINet calls. The request thread owns a copy of the body (wiped once sent) and collects
// the answer; the caller takes the results once `finished` is set, or leaves on a stop and
// sets `abandoned`. Whoever drops the last reference wipes what is left.
struct PostTransfer {
    std::mutex mutex;
    std::condition_variable cue;
    std::string body;   // request thread: what it sends; wiped as soon as it is sent
    std::string answer; // request thread, then (after finished) the caller
    uint32_t status = 0;
    std::string error;      // with finished and !ok
    bool finished = false;  // request thread: the results are complete
    bool ok = false;        // with finished: an answer head arrived
    bool abandoned = false; // caller left (stop): the request thread stops reading
    DWORD noDataMs = 0;     // receive and send time-out
    ~PostTransfer() {
        platform::wipeText(body);
        platform::wipeText(answer);
    }
};

struct PostAddress {
    std::string host, path;
    INTERNET_PORT port = 0;
    bool https = false;
};

// Connecting (kConnectTimeoutMs), sending and each wait for answer bytes (`noDataMs`).
void setPostTimeouts(HINTERNET h, DWORD noDataMs) {
    setTimeout(h, INTERNET_OPTION_CONNECT_TIMEOUT, kConnectTimeoutMs);
    setTimeout(h, INTERNET_OPTION_RECEIVE_TIMEOUT, noDataMs);
    setTimeout(h, INTERNET_OPTION_SEND_TIMEOUT, noDataMs);
}

void sendPost(std::shared_ptr<PostTransfer> t, std::string url, PostAddress address) {
    std::string error;
    bool ok = false;
    uint32_t status = 0;
    HINTERNET root = ::InternetOpenA(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    HINTERNET connection = nullptr;
    HINTERNET request = nullptr;
    if (!root) {
        error = kErrPostOpen;
    } else {
        setPostTimeouts(root, t->noDataMs);
        connection = ::InternetConnectA(root, address.host.c_str(), address.port, nullptr, nullptr,
                                        INTERNET_SERVICE_HTTP, 0, 0);
        if (connection) {
            setPostTimeouts(connection, t->noDataMs);
            request = ::HttpOpenRequestA(connection, "POST", address.path.c_str(), nullptr, nullptr, nullptr,
                                         kPostFlags | (address.https ? INTERNET_FLAG_SECURE : 0), 0);
        }
        BOOL sent = FALSE;
        DWORD sendError = 0;
        if (request) {
            sent = ::HttpSendRequestA(request, kPostHeaders, static_cast<DWORD>(-1), t->body.data(),
                                      static_cast<DWORD>(t->body.size()));
            sendError = sent ? 0 : ::GetLastError();
        }
        platform::wipeText(t->body); // only this thread ever touches it
        if (!request) {
            error = kErrPostConnect;
        } else if (!sent) {
            error = std::string(kErrPostConnect) + " (" + std::to_string(sendError) + ")";
        } else if (address.https && leftHttps(url, request)) {
            // The password must never have been sent in the clear; the answer is not taken.
            error = std::string(kErrPostConnect) + " (" +
                    std::to_string(ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR) + ")";
        } else {
            status = statusOf(request);
            DWORD readError = 0;
            char chunk[kPostChunkBytes];
            while (t->answer.size() < kPostAnswerCap) {
                DWORD n = 0;
                if (!::InternetReadFile(request, chunk, sizeof chunk, &n)) {
                    readError = ::GetLastError();
                    break;
                }
                if (n == 0) break;
                std::lock_guard<std::mutex> lock(t->mutex);
                if (t->abandoned) break;
                t->answer.append(chunk, n); // reserved: never moves
            }
            std::memset(chunk, 0, sizeof chunk);
            // An answer that broke off before its end (WinINet ends a body cut short of its
            // Content-Length as if it were complete) is no answer: it may hold a cut ticket.
            DWORD declared = 0;
            DWORD length = sizeof declared;
            const bool hasLength = ::HttpQueryInfoA(
                request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &declared, &length, nullptr);
            const bool capped = t->answer.size() >= kPostAnswerCap;
            if (!capped && readError == 0 && hasLength && t->answer.size() < declared)
                readError = ERROR_INTERNET_CONNECTION_ABORTED;
            if (!capped && readError != 0) {
                status = 0;
                error = std::string(kErrPostConnect) + " (" + std::to_string(readError) + ")";
                std::lock_guard<std::mutex> lock(t->mutex);
                platform::wipeText(t->answer);
            } else {
                ok = true;
            }
        }
    }
    if (request) ::InternetCloseHandle(request);
    if (connection) ::InternetCloseHandle(connection);
    if (root) ::InternetCloseHandle(root);
    std::lock_guard<std::mutex> lock(t->mutex);
    t->finished = true;
    t->ok = ok;
    t->status = status;
    t->error = error;
    t->cue.notify_all();
}

} // namespace

bool postJson(const std::string& url, const std::string& body, uint32_t& outStatus, std::string& outResponse,
              std::string& outError, const std::atomic<bool>* stop, const HttpOptions& options) {
    outStatus = 0;
    outResponse.clear();
    startHttpLibrary();

    char host[kHostBufferChars] = {};
    char path[kPathBufferChars] = {};
    URL_COMPONENTSA parts{};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = kHostBufferChars;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = kPathBufferChars;
    if (!::InternetCrackUrlA(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts) ||
        (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) ||
        host[0] == '\0') {
        outError = kErrPostAddress;
        return false;
    }
    PostAddress address{host, path[0] ? path : "/", parts.nPort, parts.nScheme == INTERNET_SCHEME_HTTPS};

    auto t = std::make_shared<PostTransfer>();
    t->noDataMs = static_cast<DWORD>(options.noDataTimeoutSeconds * 1000);
    try {
        // Both rooms are reserved zeroed, once: neither buffer ever moves, so no copy of the
        // password or the answer is left behind in freed memory unwiped.
        t->body.resize(body.size());
        t->body.clear();
        t->body.assign(body);
        t->answer.resize(kPostAnswerCap + kPostChunkBytes);
        t->answer.clear();
        std::thread(sendPost, t, url, std::move(address)).detach();
    } catch (...) {
        outError = kErrPostOpen;
        return false;
    }
    std::unique_lock<std::mutex> lock(t->mutex);
    while (!t->finished) {
        if (stop && stop->load()) {
            t->abandoned = true;
            return false; // no error word for a stop; the request thread ends by itself
        }
        t->cue.wait_for(lock, std::chrono::milliseconds(kStopPollMilliseconds));
    }
    if (stop && stop->load()) return false;
    if (!t->ok) {
        outError = t->error;
        return false;
    }
    // Room for the cap plus the one chunk that may cross it, zeroed, so the answer never moves.
    outResponse.resize(kPostAnswerCap + kPostChunkBytes);
    outResponse.clear();
    outResponse.append(t->answer);
    outStatus = t->status;
    return true;
}
