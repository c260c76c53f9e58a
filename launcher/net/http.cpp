// http.cpp - httpGet on libcurl (the sinks are in http_sinks.cpp, shared with WinINet).
//
// Index
//   ---- tunables ----
//   ---- transfer state and callbacks ----
//   ---- result rules ----
//   ---- httpGet ----
#include "net/http.h"
#include "net/curl_options.h"
#include "platform/wiping_alloc.h"

#include <curl/curl.h>
#include <openssl/crypto.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>

// ---- tunables ----
namespace {
constexpr long kMaxRedirects = 20;        // a redirect loop ends as "sunucuya ulasilamadi"
constexpr int kStopPollMilliseconds = 50; // how often a waiting transfer looks at the stop flag
std::atomic<long> gNoDataTimeoutSeconds{kNoDataTimeoutSeconds};
} // namespace

void httpSetNoDataTimeoutForTests(long seconds) {
    gNoDataTimeoutSeconds.store(seconds);
}

namespace {

// OpenSSL's heap functions carry the caller's file and line, which are not needed here.
void* sslMalloc(size_t size, const char*, int) {
    return wipingMalloc(size);
}
void* sslRealloc(void* block, size_t size, const char*, int) {
    return wipingRealloc(block, size);
}
void sslFree(void* block, const char*, int) {
    wipingFree(block);
}

} // namespace

void httpGlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Both libraries free their buffers zeroed: libcurl's hold the login request (the
        // password) and the answer (the ticket); OpenSSL's decrypt the answer of an https
        // login in place and keep the plaintext until they are freed. OpenSSL takes heap
        // functions only before its first allocation: in the launcher nothing uses it
        // earlier (a process that did keeps OpenSSL's own heap, which is no error).
        CRYPTO_set_mem_functions(sslMalloc, sslRealloc, sslFree);
        curl_global_init_mem(CURL_GLOBAL_DEFAULT, wipingMalloc, wipingFree, wipingRealloc, wipingStrdup,
                             wipingCalloc);
    });
}

// ---- transfer state and callbacks ----
namespace {

struct Transfer {
    const DownloadSink* sink = nullptr;
    const std::atomic<bool>* stop = nullptr;
    long headStatus = 0; // status of the response head being read
    bool headHasLocation = false;
    long finalStatus = 0; // status of the last complete, non-informational head
    bool finalHasLocation = false;
    bool headComplete = false;  // a non-informational head has been read completely
    bool statusRefused = false; // body of a non-200 answer: nothing reaches the sink
    bool sinkRefused = false;
    bool stopped = false;
    bool leftHttps = false; // a redirect from https to http was refused
    const HttpRange* range = nullptr;
    bool headRangeMatches = false; // the head being read named exactly the asked range
    bool finalRangeMatches = false;
    CURL* handle = nullptr;
    // Last moment a byte of an answer arrived (or the start); the no-data limit counts from it.
    std::chrono::steady_clock::time_point lastData = std::chrono::steady_clock::now();
};

bool startsWithNoCase(const char* text, size_t length, const char* prefix) {
    size_t n = std::strlen(prefix);
    if (length < n) return false;
    for (size_t i = 0; i < n; ++i) {
        char a = text[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (a != prefix[i]) return false;
    }
    return true;
}

// True when a redirect of a request made over https points to plain http. Checked at
// every hop, so a chain that went from http to https never falls back to clear text
// either. Relative and scheme-relative locations keep the request's scheme.
bool leavesHttps(const Transfer& t, const char* line, size_t length) {
    if (t.headStatus < 300 || t.headStatus >= 400) return false;
    const char* current = nullptr;
    if (curl_easy_getinfo(t.handle, CURLINFO_EFFECTIVE_URL, &current) != CURLE_OK || !current) return false;
    if (!startsWithNoCase(current, std::strlen(current), "https:")) return false;
    size_t at = std::strlen("location:");
    while (at < length && (line[at] == ' ' || line[at] == '\t'))
        ++at;
    return startsWithNoCase(line + at, length - at, "http:");
}

size_t onHeader(char* line, size_t size, size_t count, void* user) {
    auto& t = *static_cast<Transfer*>(user);
    size_t length = size * count;
    t.lastData = std::chrono::steady_clock::now();
    if (startsWithNoCase(line, length, "http/")) {
        // Status line: "HTTP/1.1 200 OK". A new head begins (after a redirect or a 100).
        const char* p = static_cast<const char*>(std::memchr(line, ' ', length));
        long status = 0;
        if (p) {
            ++p;
            for (int digits = 0; digits < 3 && p < line + length && *p >= '0' && *p <= '9'; ++digits, ++p)
                status = status * 10 + (*p - '0');
        }
        t.headStatus = status;
        t.headHasLocation = false;
        t.headRangeMatches = false;
    } else if (startsWithNoCase(line, length, "location:")) {
        t.headHasLocation = true;
        if (leavesHttps(t, line, length)) {
            t.leftHttps = true;
            return 0; // ends the transfer before the redirect is followed
        }
    } else if (t.range && startsWithNoCase(line, length, "content-range:")) {
        const std::string expected = "bytes " + std::to_string(t.range->from) + "-" +
                                     std::to_string(t.range->total - 1) + "/" +
                                     std::to_string(t.range->total);
        std::string_view value(line + std::strlen("content-range:"), length - std::strlen("content-range:"));
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
            value.remove_prefix(1);
        while (!value.empty() && (value.back() == '\r' || value.back() == '\n' || value.back() == ' '))
            value.remove_suffix(1);
        t.headRangeMatches = value == expected;
    } else if (length <= 2 && (length == 0 || line[0] == '\r' || line[0] == '\n')) {
        if (t.headStatus >= 200 || t.headStatus == 0) {
            t.finalRangeMatches = t.headRangeMatches;
            t.finalStatus = t.headStatus;
            t.finalHasLocation = t.headHasLocation;
            t.headComplete = true;
        }
    }
    return length;
}

// 200 for a whole file; for a continued one only 206 with exactly the asked range.
bool answerAccepted(const Transfer& t) {
    if (!t.range) return t.finalStatus == 200;
    return t.finalStatus == 206 && t.finalRangeMatches;
}

size_t onBody(char* data, size_t size, size_t count, void* user) {
    auto& t = *static_cast<Transfer*>(user);
    size_t length = size * count;
    t.lastData = std::chrono::steady_clock::now();
    long status = t.finalStatus;
    if (status >= 300 && status < 400 && t.finalHasLocation) return length; // a redirect's own body
    if (!answerAccepted(t)) {
        t.statusRefused = true;
        return CURL_WRITEFUNC_ERROR;
    }
    if (t.stop->load()) {
        t.stopped = true;
        return CURL_WRITEFUNC_ERROR;
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(data);
    while (length > 0) {
        size_t piece = length < kReadChunkBytes ? length : kReadChunkBytes;
        if (!(*t.sink)(bytes, static_cast<uint32_t>(piece))) {
            t.sinkRefused = true;
            return CURL_WRITEFUNC_ERROR;
        }
        bytes += piece;
        length -= piece;
    }
    return size * count;
}

int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto& t = *static_cast<Transfer*>(user);
    if (t.stop->load()) {
        t.stopped = true;
        return 1;
    }
    return 0;
}

// ---- result rules ----

bool isConnectFailure(CURLcode rc) {
    switch (rc) {
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_TOO_MANY_REDIRECTS:
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
        return true;
    default:
        return false;
    }
}

// Decides the result once the transfer has ended; `error` is only assigned on failure.
bool finishTransfer(CURLcode rc, const Transfer& t, bool connected, std::string& error) {
    if (t.stopped || t.stop->load()) return false; // a stop request leaves `error` untouched
    if (t.sinkRefused) {
        error = kErrSink;
        return false;
    }
    if (t.leftHttps) {
        error = kErrConnect;
        return false;
    }
    bool redirectHead = t.finalStatus >= 300 && t.finalStatus < 400 && t.finalHasLocation;
    if (t.headComplete && !isConnectFailure(rc) && !answerAccepted(t) && (!redirectHead || rc == CURLE_OK)) {
        error = "sunucu " + std::to_string(t.finalStatus) + " dondu";
        return false;
    }
    if (rc == CURLE_OK) {
        if (answerAccepted(t)) return true;
        error = "sunucu " + std::to_string(t.finalStatus) + " dondu";
        return false;
    }
    if (rc == CURLE_WEIRD_SERVER_REPLY ||
        (rc == CURLE_UNSUPPORTED_PROTOCOL && connected && !t.headComplete)) {
        // An answer came back but its status line could not be read.
        error = "sunucu 0 dondu";
        return false;
    }
    if (rc == CURLE_FAILED_INIT || rc == CURLE_OUT_OF_MEMORY) {
        error = kErrOpen;
        return false;
    }
    if (t.headComplete && answerAccepted(t) && !isConnectFailure(rc)) {
        error = kErrRead; // the body broke off: closed early, no data for too long, read error
        return false;
    }
    error = kErrConnect;
    return false;
}

// The easy and multi handles of one GET. Borrowed from an HttpSession they are handed back
// reset but alive, so the multi handle's connection pool and the easy handle's TLS session
// cache serve the next GET; owned ones are cleaned up.
struct EasyHandle {
    CURL* handle = nullptr;
    curl_slist* headers = nullptr;
    CURLM* multi = nullptr;
    bool added = false;
    bool borrowed = false;
    ~EasyHandle() {
        if (multi && added) curl_multi_remove_handle(multi, handle);
        curl_slist_free_all(headers);
        if (borrowed) return;
        if (multi) curl_multi_cleanup(multi);
        if (handle) curl_easy_cleanup(handle);
    }
};

} // namespace

// ---- session ----

struct HttpSession::Handles {
    CURL* handle = curl_easy_init();
    CURLM* multi = curl_multi_init();
    ~Handles() {
        if (handle) curl_easy_cleanup(handle);
        if (multi) curl_multi_cleanup(multi);
    }
};

HttpSession::HttpSession() : handles(new Handles) {}
HttpSession::~HttpSession() = default;

// ---- httpGet ----

bool httpGet(const std::string& url, const DownloadSink& sink, std::string& error,
             const std::atomic<bool>& stop, HttpSession* session, const HttpRange* range) {
    Transfer t;
    t.sink = &sink;
    t.stop = &stop;
    t.range = range;

    EasyHandle h;
    if (session && session->handles->handle && session->handles->multi) {
        h.handle = session->handles->handle;
        h.multi = session->handles->multi;
        h.borrowed = true;
        curl_easy_reset(h.handle); // options only: live connections and TLS sessions stay
    } else {
        h.handle = curl_easy_init();
        h.multi = curl_multi_init();
    }
    if (!h.handle || !h.multi) {
        error = kErrOpen;
        return false;
    }
    CURL* c = h.handle;
    t.handle = c;
    h.headers = curl_slist_append(h.headers, "Pragma: no-cache");
    h.headers = curl_slist_append(h.headers, "Cache-Control: no-cache");
    if (!h.headers) {
        error = kErrOpen;
        return false;
    }
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_USERAGENT, kUserAgent);
    const std::string rangeText = range ? std::to_string(range->from) + "-" : std::string();
    if (range) curl_easy_setopt(c, CURLOPT_RANGE, rangeText.c_str());
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, h.headers);
    // Never from https to http either: onHeader refuses such a hop before it is followed.
    setSharedTransferOptions(c, kConnectTimeoutSeconds, kMaxRedirects, "http,https");
    curl_easy_setopt(c, CURLOPT_BUFFERSIZE, static_cast<long>(kReadChunkBytes));
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &t);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);

    // The multi interface lets the transfer wait in short slices, so a stop request is
    // seen within kStopPollMilliseconds even while no byte arrives.
    if (curl_multi_add_handle(h.multi, c) != CURLM_OK) {
        error = kErrOpen;
        return false;
    }
    h.added = true;
    // The no-data limit is kept here rather than with CURLOPT_LOW_SPEED_TIME, whose speed is
    // averaged over several seconds and so lets a stall run on well past the limit.
    const auto noDataLimit = std::chrono::seconds(gNoDataTimeoutSeconds.load());
    CURLcode rc = CURLE_OK;
    bool done = false;
    while (!done) {
        int running = 0;
        if (curl_multi_perform(h.multi, &running) != CURLM_OK) {
            rc = CURLE_FAILED_INIT;
            break;
        }
        int queued = 0;
        while (CURLMsg* msg = curl_multi_info_read(h.multi, &queued)) {
            if (msg->msg == CURLMSG_DONE) {
                rc = msg->data.result;
                done = true;
            }
        }
        if (done) break;
        if (t.stop->load()) {
            t.stopped = true;
            break;
        }
        if (std::chrono::steady_clock::now() - t.lastData > noDataLimit) {
            rc = CURLE_OPERATION_TIMEDOUT;
            break;
        }
        if (curl_multi_poll(h.multi, nullptr, 0, kStopPollMilliseconds, nullptr) != CURLM_OK) {
            rc = CURLE_FAILED_INIT;
            break;
        }
    }
    long connects = 0;
    curl_easy_getinfo(c, CURLINFO_NUM_CONNECTS, &connects);
    // A GET on a kept connection makes no new one; it reached the server all the same.
    const char* peer = nullptr;
    curl_easy_getinfo(c, CURLINFO_PRIMARY_IP, &peer);
    const bool reused = connects == 0 && rc != CURLE_COULDNT_CONNECT && peer && *peer;
    return finishTransfer(rc, t, connects > 0 || reused, error);
}

// ---- options shared with the POST ----

void setSharedTransferOptions(CURL* c, long connectTimeoutSeconds, long maxRedirects,
                              const char* redirectProtocols) {
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, connectTimeoutSeconds);
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, maxRedirects > 0 ? 1L : 0L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, maxRedirects);
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, redirectProtocols);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    if (const char* caFile = std::getenv("SSL_CERT_FILE"); caFile && *caFile)
        curl_easy_setopt(c, CURLOPT_CAINFO, caFile);
    if (const char* caDir = std::getenv("SSL_CERT_DIR"); caDir && *caDir)
        curl_easy_setopt(c, CURLOPT_CAPATH, caDir);
}
