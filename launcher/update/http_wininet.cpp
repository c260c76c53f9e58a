// http_wininet.cpp - httpGet and postJson on WinINet, for the Windows build (the libcurl
// build uses http.cpp and http_post.cpp; the sinks are shared in http_sinks.cpp).
//
// A blocking WinINet call cannot look at a stop flag, and closing a handle from another
// thread does not end a blocked read everywhere (Wine's WinINet waits on). So a GET makes
// its blocking calls on a reader thread of its own and the caller only waits for chunks:
// a stop request returns at once, and the reader ends by itself when its call returns.
// The login POST has a watcher that closes its handles on a stop request.
//
// Index
//   ---- tunables ----
//   ---- handles, the stop watcher and shared helpers ----
//   ---- httpGet ----
//   ---- postJson ----
#include "update/http.h"

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

// ---- tunables ----
namespace {
// Always from the server, never into a cache, never a dialog, a no-cache pragma: 0x84000300.
constexpr DWORD kGetFlags =
    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI | INTERNET_FLAG_PRAGMA_NOCACHE;
// The login request also keeps no cookies: 0x84080200, plus INTERNET_FLAG_SECURE for https.
constexpr DWORD kPostFlags =
    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI;
constexpr DWORD kPostTimeoutMs = 15000;
constexpr int kStopPollMilliseconds = 50; // how often the watcher looks at the stop flag
constexpr DWORD kHostBufferChars = 256;
constexpr DWORD kPathBufferChars = 2048;
constexpr const char* kPostHeaders = "Content-Type: application/json\r\nAccept: application/json\r\n";
std::atomic<long> gNoDataTimeoutSeconds{kNoDataTimeoutSeconds};

static_assert(kGetFlags == 0x84000300u, "GET request flags");
static_assert(kPostFlags == 0x84080200u, "POST request flags");
} // namespace

void httpSetNoDataTimeoutForTests(long seconds) {
    gNoDataTimeoutSeconds.store(seconds);
}

void httpGlobalInit() {
    // WinINet needs no process-wide start.
}

// ---- handles, the stop watcher and shared helpers ----
namespace {

// The internet handle of one call. The watcher and the calling thread may both want to
// close it; whoever comes first does, under the mutex, and the other leaves it.
class Session {
  public:
    explicit Session(const std::atomic<bool>* stop) : stop_(stop) {}
    ~Session() {
        finish();
        closeRoot();
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool open() {
        root_ = ::InternetOpenA(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
        if (!root_) return false;
        if (stop_) {
            try {
                watcher_ = std::thread([this] { watch(); });
            } catch (...) {
                // Without a watcher a stop is seen between reads only.
            }
        }
        return true;
    }
    HINTERNET root() const { return root_; }
    bool stopped() const { return stopped_.load(); }

    // Ends the watcher; the handles are then the calling thread's alone.
    void finish() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        cue_.notify_all();
        if (watcher_.joinable()) watcher_.join();
    }

    void closeRoot() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (root_) ::InternetCloseHandle(root_);
        root_ = nullptr;
    }

  private:
    void watch() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!done_) {
            if (stop_->load()) {
                stopped_.store(true);
                // Closing the root handle ends a blocked open or read on its children.
                if (root_) ::InternetCloseHandle(root_);
                root_ = nullptr;
                return;
            }
            cue_.wait_for(lock, std::chrono::milliseconds(kStopPollMilliseconds));
        }
    }

    const std::atomic<bool>* stop_;
    HINTERNET root_ = nullptr;
    std::mutex mutex_;
    std::condition_variable cue_;
    bool done_ = false;
    std::atomic<bool> stopped_{false};
    std::thread watcher_;
};

// A child handle (request or connection), closed first. After a stop the watcher has
// already closed the root, which closed this handle with it.
struct ChildHandle {
    HINTERNET handle = nullptr;
    const Session* session = nullptr;
    ~ChildHandle() {
        if (handle && !session->stopped()) ::InternetCloseHandle(handle);
    }
};

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

bool startsWithNoCase(const std::string& text, const char* prefix) {
    size_t n = std::strlen(prefix);
    if (text.size() < n) return false;
    for (size_t i = 0; i < n; ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
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
    return startsWithNoCase(requested, "https:") && startsWithNoCase(finalAddress(request), "http:");
}

// One read buffer per thread, kept for the thread's next download.
std::vector<uint8_t>& readBuffer() {
    thread_local std::vector<uint8_t> buffer(kReadChunkBytes, 0);
    return buffer;
}

} // namespace

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

// The Content-Range a resumed GET must carry: exactly "bytes FROM-(TOTAL-1)/TOTAL".
bool rangeMatches(HINTERNET request, const HttpRange& range) {
    char value[128] = {};
    DWORD length = sizeof value - 1;
    if (!::HttpQueryInfoA(request, HTTP_QUERY_CONTENT_RANGE, value, &length, nullptr)) return false;
    const std::string expected = "bytes " + std::to_string(range.from) + "-" + std::to_string(range.total - 1) +
                                 "/" + std::to_string(range.total);
    return std::string(value, length) == expected;
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
    setTimeout(root, INTERNET_OPTION_CONNECT_TIMEOUT, static_cast<DWORD>(kConnectTimeoutSeconds * 1000));
    setTimeout(root, INTERNET_OPTION_RECEIVE_TIMEOUT, noDataMs);
    const std::string rangeHeader = ranged ? "Range: bytes=" + std::to_string(range.from) + "-\r\n" : "";
    HINTERNET request = ::InternetOpenUrlA(root, url.c_str(), ranged ? rangeHeader.c_str() : nullptr,
                                           ranged ? static_cast<DWORD>(-1) : 0, kGetFlags, 0);
    std::string status;
    const char* error = nullptr;
    bool ok = false;
    const uint32_t wanted = ranged ? 206 : 200;
    if (!request || leftHttps(url, request)) {
        error = kErrConnect;
    } else if (uint32_t code = statusOf(request); code != wanted || (ranged && !rangeMatches(request, range))) {
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

// WinINet keeps connections to a server alive and reuses them on its own, process-wide, so
// a session holds nothing here.
struct HttpSession::Handles {};
HttpSession::HttpSession() = default;
HttpSession::~HttpSession() = default;

bool httpGet(const std::string& url, const DownloadSink& sink, std::string& error,
             const std::atomic<bool>& stop, HttpSession*, const HttpRange* range) {
    auto t = std::make_shared<GetTransfer>();
    const DWORD noDataMs = static_cast<DWORD>(gNoDataTimeoutSeconds.load() * 1000);
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

bool postJson(const std::string& url, const std::string& body, uint32_t& outStatus, std::string& outResponse,
              std::string& outError, const std::atomic<bool>* stop) {
    outStatus = 0;
    outResponse.clear();

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
    const bool https = parts.nScheme == INTERNET_SCHEME_HTTPS;

    Session session(stop);
    if (!session.open()) {
        outError = kErrPostOpen;
        return false;
    }
    setTimeout(session.root(), INTERNET_OPTION_CONNECT_TIMEOUT, kPostTimeoutMs);
    setTimeout(session.root(), INTERNET_OPTION_RECEIVE_TIMEOUT, kPostTimeoutMs);
    setTimeout(session.root(), INTERNET_OPTION_SEND_TIMEOUT, kPostTimeoutMs);

    ChildHandle connection{nullptr, &session};
    connection.handle =
        ::InternetConnectA(session.root(), host, parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    ChildHandle request{nullptr, &session};
    if (connection.handle)
        request.handle = ::HttpOpenRequestA(connection.handle, "POST", path[0] ? path : "/", nullptr, nullptr,
                                            nullptr, kPostFlags | (https ? INTERNET_FLAG_SECURE : 0), 0);
    if (session.stopped()) return false;
    if (!request.handle) {
        outError = kErrPostConnect;
        return false;
    }
    // The body is sent from the caller's buffer: it holds the password and is wiped there.
    BOOL sent = ::HttpSendRequestA(request.handle, kPostHeaders, static_cast<DWORD>(-1),
                                   const_cast<char*>(body.data()), static_cast<DWORD>(body.size()));
    const DWORD sendError = sent ? 0 : ::GetLastError();
    if (session.stopped()) return false;
    if (!sent) {
        outError = std::string(kErrPostConnect) + " (" + std::to_string(sendError) + ")";
        return false;
    }
    if (https && leftHttps(url, request.handle)) {
        // The password must never have been sent in the clear; the answer is not taken.
        outError =
            std::string(kErrPostConnect) + " (" + std::to_string(ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR) + ")";
        return false;
    }
    const uint32_t status = statusOf(request.handle);
    // Room for the cap plus the one chunk that may cross it, so the answer never moves.
    outResponse.reserve(kPostAnswerCap + kPostChunkBytes);
    char chunk[kPostChunkBytes];
    while (outResponse.size() < kPostAnswerCap) {
        if (session.stopped()) break;
        DWORD n = 0;
        if (!::InternetReadFile(request.handle, chunk, sizeof chunk, &n) || n == 0) break;
        outResponse.append(chunk, n);
    }
    std::memset(chunk, 0, sizeof chunk);
    if (session.stopped()) {
        std::fill(outResponse.begin(), outResponse.end(), '\0');
        outResponse.clear();
        return false;
    }
    outStatus = status;
    return true;
}
