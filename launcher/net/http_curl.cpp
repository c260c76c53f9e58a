// http_curl.cpp - httpGet and postJson on libcurl (http.h). The WinINet build has the same
// functions in the same order in http_wininet.cpp; the sinks are shared (http_sinks.cpp).
//
// Both requests run on the multi interface in short waits, so a stop request and the
// no-data limit are seen while no byte arrives.
//
// Index
//   ---- tunables ----
//   ---- library start ----   Curl, curl, startHttpLibrary
//   ---- shared helpers ----  setSharedOptions, runTransfer
//   ---- session ----
//   ---- httpGet ----         transfer state, callbacks, result rules, httpGet
//   ---- postJson ----        transfer state, callbacks, postJson
#include "net/http.h"
#include "platform/clock.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "platform/wiping_alloc.h"

#include <curl/curl.h>
#include <openssl/crypto.h>
#include <openssl/opensslv.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>

namespace {

// ---- tunables ----

constexpr long kMaxRedirects = 20;        // a GET's redirect loop ends as "sunucuya ulasilamadi"
constexpr long kPostMaxRedirects = 0;     // a redirect is the answer: the password goes nowhere else
constexpr int kStopPollMilliseconds = 50; // how often a waiting transfer looks at the stop flag
// Opened by the first request (see startHttpLibrary): the files the headers compiled here
// belong to.
constexpr const char* kCurlLibrary = "libcurl.so.4";
constexpr const char* kCryptoLibrary = "libcrypto.so.3";
static_assert(OPENSSL_VERSION_MAJOR == 3, "kCryptoLibrary names OpenSSL 3's libcrypto");

// ---- library start ----

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

// The libcurl functions this file calls, found in the library once it is opened.
struct Curl {
    decltype(&curl_global_init_mem) globalInitMem = nullptr;
    decltype(&curl_easy_init) easyInit = nullptr;
    decltype(&curl_easy_cleanup) easyCleanup = nullptr;
    decltype(&curl_easy_reset) easyReset = nullptr;
    decltype(&curl_easy_setopt) easySetopt = nullptr;
    decltype(&curl_easy_getinfo) easyGetinfo = nullptr;
    decltype(&curl_multi_init) multiInit = nullptr;
    decltype(&curl_multi_cleanup) multiCleanup = nullptr;
    decltype(&curl_multi_add_handle) multiAddHandle = nullptr;
    decltype(&curl_multi_remove_handle) multiRemoveHandle = nullptr;
    decltype(&curl_multi_perform) multiPerform = nullptr;
    decltype(&curl_multi_poll) multiPoll = nullptr;
    decltype(&curl_multi_info_read) multiInfoRead = nullptr;
    decltype(&curl_slist_append) slistAppend = nullptr;
    decltype(&curl_slist_free_all) slistFreeAll = nullptr;
    decltype(&curl_url) url = nullptr;
    decltype(&curl_url_set) urlSet = nullptr;
    decltype(&curl_url_get) urlGet = nullptr;
    decltype(&curl_url_cleanup) urlCleanup = nullptr;
    decltype(&curl_free) free = nullptr;
};

// The opened libraries: process-wide like the libraries' own global state, so the one
// writable static of the HTTP client. Filled once by startHttpLibrary, read-only after it
// (the once orders the writes before every read).
struct HttpLibrary {
    std::once_flag once;
    bool started = false; // both libraries found and libcurl's global start succeeded
    Curl functions;
};
HttpLibrary& httpLibrary() {
    static HttpLibrary library;
    return library;
}

Curl& curl() {
    return httpLibrary().functions;
}

template <typename Function> bool findFunction(platform::Library library, const char* name, Function& out) {
    out = reinterpret_cast<Function>(platform::libraryFunction(library, name));
    return out != nullptr;
}

// Every entry of `c` from `library`; false when one is missing.
bool findCurlFunctions(platform::Library library, Curl& c) {
    bool all = findFunction(library, "curl_global_init_mem", c.globalInitMem);
    all = findFunction(library, "curl_easy_init", c.easyInit) && all;
    all = findFunction(library, "curl_easy_cleanup", c.easyCleanup) && all;
    all = findFunction(library, "curl_easy_reset", c.easyReset) && all;
    all = findFunction(library, "curl_easy_setopt", c.easySetopt) && all;
    all = findFunction(library, "curl_easy_getinfo", c.easyGetinfo) && all;
    all = findFunction(library, "curl_multi_init", c.multiInit) && all;
    all = findFunction(library, "curl_multi_cleanup", c.multiCleanup) && all;
    all = findFunction(library, "curl_multi_add_handle", c.multiAddHandle) && all;
    all = findFunction(library, "curl_multi_remove_handle", c.multiRemoveHandle) && all;
    all = findFunction(library, "curl_multi_perform", c.multiPerform) && all;
    all = findFunction(library, "curl_multi_poll", c.multiPoll) && all;
    all = findFunction(library, "curl_multi_info_read", c.multiInfoRead) && all;
    all = findFunction(library, "curl_slist_append", c.slistAppend) && all;
    all = findFunction(library, "curl_slist_free_all", c.slistFreeAll) && all;
    all = findFunction(library, "curl_url", c.url) && all;
    all = findFunction(library, "curl_url_set", c.urlSet) && all;
    all = findFunction(library, "curl_url_get", c.urlGet) && all;
    all = findFunction(library, "curl_url_cleanup", c.urlCleanup) && all;
    return findFunction(library, "curl_free", c.free) && all;
}

// Opens OpenSSL and libcurl, gives both the wiping heap and starts libcurl: once per
// process, by the first thread that makes a request (others wait for it here). False, on
// every call, when a library or one of its functions could not be found: no request can
// then be made. The libraries are opened here rather than linked: libcurl and what it links
// are some thirty shared objects, whose loading at program start cost every start-up
// several milliseconds and about 5 MiB of resident memory, even a run that makes no request
// (no update or news address); a request runs on a background thread, which now does that
// loading. This libcurl's global start is itself thread-safe (its "threadsafe" feature); the
// once also keeps the heap hand-over ahead of OpenSSL's first allocation: OpenSSL is given
// it before libcurl is even loaded. Both libraries free their buffers zeroed: libcurl's
// hold the login request (the password) and the answer (the ticket); OpenSSL's decrypt the
// answer of an https login in place and keep the plaintext until they are freed.
bool startHttpLibrary() {
    HttpLibrary& library = httpLibrary();
    std::call_once(library.once, [&library] {
        decltype(&CRYPTO_set_mem_functions) setMemFunctions = nullptr;
        if (!findFunction(platform::openLibrary(kCryptoLibrary), "CRYPTO_set_mem_functions", setMemFunctions))
            return;
        setMemFunctions(sslMalloc, sslRealloc, sslFree);
        Curl& c = curl();
        if (!findCurlFunctions(platform::openLibrary(kCurlLibrary), c)) return;
        library.started = c.globalInitMem(CURL_GLOBAL_DEFAULT, wipingMalloc, wipingFree, wipingRealloc,
                                          wipingStrdup, wipingCalloc) == CURLE_OK;
    });
    return library.started;
}

// ---- shared helpers ----

// The callbacks of one request and what they are handed; `chunkBytes` is the largest piece
// libcurl hands to `body`.
struct Callbacks {
    curl_write_callback header, body;
    curl_xferinfo_callback progress;
    void* user;
    size_t chunkBytes;
};

// What every transfer shares, so a TLS or redirect rule cannot drift between GET and POST:
// no signals; kConnectTimeoutSeconds to connect; redirects followed up to `maxRedirects`
// (0: none), http and https only, to a scheme in `redirectProtocols` ("https" keeps an
// https request on https); TLS peer and host verification on; OpenSSL's standard
// SSL_CERT_FILE and SSL_CERT_DIR honoured; progress reported to `calls`.
void setSharedOptions(CURL* c, const std::string& url, long maxRedirects, const char* redirectProtocols,
                      curl_slist* headers, const Callbacks& calls) {
    curl().easySetopt(c, CURLOPT_URL, url.c_str());
    curl().easySetopt(c, CURLOPT_USERAGENT, kUserAgent);
    curl().easySetopt(c, CURLOPT_HTTPHEADER, headers);
    curl().easySetopt(c, CURLOPT_NOSIGNAL, 1L);
    curl().easySetopt(c, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    curl().easySetopt(c, CURLOPT_FOLLOWLOCATION, maxRedirects > 0 ? 1L : 0L);
    curl().easySetopt(c, CURLOPT_MAXREDIRS, maxRedirects);
    curl().easySetopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl().easySetopt(c, CURLOPT_REDIR_PROTOCOLS_STR, redirectProtocols);
    curl().easySetopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl().easySetopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    if (const char* caFile = std::getenv("SSL_CERT_FILE"); caFile && *caFile)
        curl().easySetopt(c, CURLOPT_CAINFO, caFile);
    if (const char* caDir = std::getenv("SSL_CERT_DIR"); caDir && *caDir)
        curl().easySetopt(c, CURLOPT_CAPATH, caDir);
    curl().easySetopt(c, CURLOPT_BUFFERSIZE, static_cast<long>(calls.chunkBytes));
    curl().easySetopt(c, CURLOPT_HEADERFUNCTION, calls.header);
    curl().easySetopt(c, CURLOPT_HEADERDATA, calls.user);
    curl().easySetopt(c, CURLOPT_WRITEFUNCTION, calls.body);
    curl().easySetopt(c, CURLOPT_WRITEDATA, calls.user);
    curl().easySetopt(c, CURLOPT_XFERINFOFUNCTION, calls.progress);
    curl().easySetopt(c, CURLOPT_XFERINFODATA, calls.user);
    curl().easySetopt(c, CURLOPT_NOPROGRESS, 0L);
}

// Runs the transfer added to `multi` to its end, in waits of kStopPollMilliseconds: libcurl's
// result; CURLE_OPERATION_TIMEDOUT once nothing arrived for `noDataSeconds` since
// `lastData` (the callbacks move it on every byte; kept here rather than with
// CURLOPT_LOW_SPEED_TIME, whose speed is averaged over several seconds and so lets a stall
// run on well past the limit). `outStopped` when `stop` (may be null) ended it.
CURLcode runTransfer(CURLM* multi, const std::atomic<bool>* stop, const double& lastData, long noDataSeconds,
                     bool& outStopped) {
    for (;;) {
        int running = 0;
        if (curl().multiPerform(multi, &running) != CURLM_OK) return CURLE_FAILED_INIT;
        int queued = 0;
        while (CURLMsg* msg = curl().multiInfoRead(multi, &queued))
            if (msg->msg == CURLMSG_DONE) return msg->data.result;
        if (stop && stop->load()) {
            outStopped = true;
            return CURLE_ABORTED_BY_CALLBACK;
        }
        if (platform::now() - lastData > static_cast<double>(noDataSeconds)) return CURLE_OPERATION_TIMEDOUT;
        if (curl().multiPoll(multi, nullptr, 0, kStopPollMilliseconds, nullptr) != CURLM_OK)
            return CURLE_FAILED_INIT;
    }
}

// The easy and multi handles of one request. Borrowed from an HttpSession they are handed
// back reset but alive, so the multi handle's connection pool and the easy handle's TLS
// session cache serve the next GET; owned ones are cleaned up.
struct EasyHandle {
    CURL* handle = nullptr;
    curl_slist* headers = nullptr;
    CURLM* multi = nullptr;
    bool added = false;
    bool borrowed = false;
    ~EasyHandle() {
        if (multi && added) curl().multiRemoveHandle(multi, handle);
        curl().slistFreeAll(headers);
        if (borrowed) return;
        if (multi) curl().multiCleanup(multi);
        if (handle) curl().easyCleanup(handle);
    }
};

} // namespace

// ---- session ----

struct HttpSession::Handles {
    CURL* handle = nullptr;
    CURLM* multi = nullptr;
    ~Handles() {
        if (handle) curl().easyCleanup(handle);
        if (multi) curl().multiCleanup(multi);
    }
};

HttpSession::HttpSession(const HttpOptions& options) : options(options), handles(new Handles) {
    if (!startHttpLibrary()) return; // no handles: each GET then fails as httpGet does
    handles->handle = curl().easyInit();
    handles->multi = curl().multiInit();
}
HttpSession::~HttpSession() = default;

// ---- httpGet ----
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
    double lastData = platform::now();
};

// True when a redirect of a request made over https points to plain http. Checked at
// every hop, so a chain that went from http to https never falls back to clear text
// either. Relative and scheme-relative locations keep the request's scheme.
bool leavesHttps(const Transfer& t, std::string_view line) {
    if (t.headStatus < 300 || t.headStatus >= 400) return false;
    const char* current = nullptr;
    if (curl().easyGetinfo(t.handle, CURLINFO_EFFECTIVE_URL, &current) != CURLE_OK || !current) return false;
    if (!platform::startsWithIgnoringCase(current, "https:")) return false;
    line.remove_prefix(std::strlen("location:"));
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
        line.remove_prefix(1);
    return platform::startsWithIgnoringCase(line, "http:");
}

size_t onHeader(char* data, size_t size, size_t count, void* user) {
    auto& t = *static_cast<Transfer*>(user);
    const std::string_view line(data, size * count);
    t.lastData = platform::now();
    if (platform::startsWithIgnoringCase(line, "http/")) {
        // Status line: "HTTP/1.1 200 OK". A new head begins (after a redirect or a 100).
        const size_t space = line.find(' ');
        long status = 0;
        for (size_t p = space == std::string_view::npos ? line.size() : space + 1;
             p < line.size() && p <= space + 3 && line[p] >= '0' && line[p] <= '9'; ++p)
            status = status * 10 + (line[p] - '0');
        t.headStatus = status;
        t.headHasLocation = false;
        t.headRangeMatches = false;
    } else if (platform::startsWithIgnoringCase(line, "location:")) {
        t.headHasLocation = true;
        if (leavesHttps(t, line)) {
            t.leftHttps = true;
            return 0; // ends the transfer before the redirect is followed
        }
    } else if (t.range && platform::startsWithIgnoringCase(line, "content-range:")) {
        const std::string expected = rangeAnswerText(*t.range);
        std::string_view value = line.substr(std::strlen("content-range:"));
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
            value.remove_prefix(1);
        while (!value.empty() && (value.back() == '\r' || value.back() == '\n' || value.back() == ' '))
            value.remove_suffix(1);
        t.headRangeMatches = value == expected;
    } else if (line.size() <= 2 && (line.empty() || line[0] == '\r' || line[0] == '\n')) {
        if (t.headStatus >= 200 || t.headStatus == 0) {
            t.finalRangeMatches = t.headRangeMatches;
            t.finalStatus = t.headStatus;
            t.finalHasLocation = t.headHasLocation;
            t.headComplete = true;
        }
    }
    return line.size();
}

// 200 for a whole file; for a continued one only 206 with exactly the asked range.
bool answerAccepted(const Transfer& t) {
    if (!t.range) return t.finalStatus == 200;
    return t.finalStatus == 206 && t.finalRangeMatches;
}

size_t onBody(char* data, size_t size, size_t count, void* user) {
    auto& t = *static_cast<Transfer*>(user);
    size_t length = size * count;
    t.lastData = platform::now();
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

} // namespace

bool httpGet(const std::string& url, const DownloadSink& sink, std::string& error,
             const std::atomic<bool>& stop, HttpSession* session, const HttpRange* range) {
    if (!startHttpLibrary()) {
        error = kErrOpen;
        return false;
    }
    Transfer t;
    t.sink = &sink;
    t.stop = &stop;
    t.range = range;

    EasyHandle h;
    if (session && session->handles->handle && session->handles->multi) {
        h.handle = session->handles->handle;
        h.multi = session->handles->multi;
        h.borrowed = true;
        curl().easyReset(h.handle); // options only: live connections and TLS sessions stay
    } else {
        h.handle = curl().easyInit();
        h.multi = curl().multiInit();
    }
    if (!h.handle || !h.multi) {
        error = kErrOpen;
        return false;
    }
    CURL* c = h.handle;
    t.handle = c;
    h.headers = curl().slistAppend(h.headers, "Pragma: no-cache");
    h.headers = curl().slistAppend(h.headers, "Cache-Control: no-cache");
    if (!h.headers) {
        error = kErrOpen;
        return false;
    }
    // Never from https to http either: onHeader refuses such a hop before it is followed.
    setSharedOptions(c, url, kMaxRedirects, "http,https", h.headers,
                     {onHeader, onBody, onProgress, &t, kReadChunkBytes});
    const std::string rangeText = range ? rangeRequestText(*range) : std::string();
    if (range) curl().easySetopt(c, CURLOPT_RANGE, rangeText.c_str());
    if (curl().multiAddHandle(h.multi, c) != CURLM_OK) {
        error = kErrOpen;
        return false;
    }
    h.added = true;
    const HttpOptions options = session ? session->options : HttpOptions{};
    const CURLcode rc = runTransfer(h.multi, t.stop, t.lastData, options.noDataTimeoutSeconds, t.stopped);
    long connects = 0;
    curl().easyGetinfo(c, CURLINFO_NUM_CONNECTS, &connects);
    // A GET on a kept connection makes no new one; it reached the server all the same.
    const char* peer = nullptr;
    curl().easyGetinfo(c, CURLINFO_PRIMARY_IP, &peer);
    const bool reused = connects == 0 && rc != CURLE_COULDNT_CONNECT && peer && *peer;
    return finishTransfer(rc, t, connects > 0 || reused, error);
}

// ---- postJson ----
namespace {

struct PostTransfer {
    std::string* response = nullptr;
    const std::atomic<bool>* stop = nullptr;
    bool headSeen = false; // a final (non-1xx) status line arrived
    bool capped = false;   // the answer reached the cap; the rest is not read
    bool stopped = false;
    curl_off_t lastUp = -1, lastDown = -1;
    double lastProgress = platform::now(); // a byte went out or came in
};

size_t onPostHeader(char* data, size_t size, size_t count, void* user) {
    auto& t = *static_cast<PostTransfer*>(user);
    const std::string_view line(data, size * count);
    t.lastProgress = platform::now();
    // "HTTP/1.1 200 OK": a 1xx head is followed by the real one.
    if (line.size() > 9 && line.starts_with("HTTP/")) {
        const size_t space = line.find(' ');
        t.headSeen = !(space != std::string_view::npos && space + 1 < line.size() && line[space + 1] == '1');
    }
    return line.size();
}

size_t onPostBody(char* data, size_t size, size_t count, void* user) {
    auto& t = *static_cast<PostTransfer*>(user);
    size_t length = size * count;
    t.lastProgress = platform::now();
    if (t.stop && t.stop->load()) {
        t.stopped = true;
        return CURL_WRITEFUNC_ERROR;
    }
    while (length > 0) {
        if (t.response->size() >= kPostAnswerCap) {
            t.capped = true;
            return CURL_WRITEFUNC_ERROR;
        }
        size_t piece = length < kPostChunkBytes ? length : kPostChunkBytes;
        t.response->append(data, piece); // within the reserved room: no reallocation
        data += piece;
        length -= piece;
    }
    return size * count;
}

int onPostProgress(void* user, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow) {
    auto& t = *static_cast<PostTransfer*>(user);
    if (dlnow != t.lastDown || ulnow != t.lastUp) {
        t.lastDown = dlnow;
        t.lastUp = ulnow;
        t.lastProgress = platform::now();
    }
    if (t.stop && t.stop->load()) {
        t.stopped = true;
        return 1;
    }
    return 0;
}

// "http" or "https" when `url` is a complete address with one of them, else "".
std::string schemeOf(const std::string& url) {
    CURLU* parsed = curl().url();
    std::string result;
    char* scheme = nullptr;
    char* host = nullptr;
    if (parsed && curl().urlSet(parsed, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK &&
        curl().urlGet(parsed, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
        curl().urlGet(parsed, CURLUPART_HOST, &host, 0) == CURLUE_OK && host && *host &&
        (std::strcmp(scheme, "http") == 0 || std::strcmp(scheme, "https") == 0))
        result = scheme;
    curl().free(scheme);
    curl().free(host);
    curl().urlCleanup(parsed);
    return result;
}

} // namespace

bool postJson(const std::string& url, const std::string& body, uint32_t& outStatus, std::string& outResponse,
              std::string& outError, const std::atomic<bool>* stop, const HttpOptions& options) {
    outStatus = 0;
    outResponse.clear();
    if (!startHttpLibrary()) {
        outError = kErrPostOpen;
        return false;
    }
    const std::string scheme = schemeOf(url);
    if (scheme.empty()) {
        outError = kErrPostAddress;
        return false;
    }
    EasyHandle h;
    h.handle = curl().easyInit();
    if (!h.handle) {
        outError = kErrPostOpen;
        return false;
    }
    // Room for the cap plus the one chunk that may cross it, so the answer never moves.
    outResponse.reserve(kPostAnswerCap + kPostChunkBytes);
    // The room starts zeroed: after the caller's wipe no byte of the buffer, used or not,
    // holds anything but zero (not even what the heap left there before).
    outResponse.resize(outResponse.capacity());
    outResponse.clear();

    PostTransfer t;
    t.response = &outResponse;
    t.stop = stop;
    CURL* c = h.handle;
    h.headers = curl().slistAppend(h.headers, "Content-Type: application/json");
    if (h.headers) h.headers = curl().slistAppend(h.headers, "Accept: application/json");
    if (h.headers) h.headers = curl().slistAppend(h.headers, "Expect:"); // no 100-continue round trip
    h.multi = curl().multiInit();
    if (!h.headers || !h.multi) {
        outError = kErrPostConnect;
        return false;
    }
    setSharedOptions(c, url, kPostMaxRedirects, scheme.c_str(), h.headers,
                     {onPostHeader, onPostBody, onPostProgress, &t, kPostChunkBytes});
    curl().easySetopt(c, CURLOPT_POST, 1L);
    curl().easySetopt(c, CURLOPT_POSTFIELDS, body.data()); // not copied: the caller wipes it
    curl().easySetopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    if (curl().multiAddHandle(h.multi, c) != CURLM_OK) {
        outError = kErrPostConnect;
        return false;
    }
    h.added = true;

    const CURLcode rc = runTransfer(h.multi, stop, t.lastProgress, options.noDataTimeoutSeconds, t.stopped);
    if (t.stopped) return false;
    if (t.headSeen && (rc == CURLE_OK || t.capped)) {
        long status = 0;
        curl().easyGetinfo(c, CURLINFO_RESPONSE_CODE, &status);
        outStatus = static_cast<uint32_t>(status);
        return true;
    }
    // No answer, or one that broke off before its end (shorter than its Content-Length:
    // CURLE_PARTIAL_FILE; a stall or a reset): a cut answer may hold a cut ticket, so none
    // of it is kept.
    outResponse.assign(outResponse.capacity(), '\0');
    outResponse.clear();
    outError = std::string(kErrPostConnect) + " (" + std::to_string(static_cast<int>(rc)) + ")";
    return false;
}
