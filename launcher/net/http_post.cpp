// http_post.cpp - postJson on libcurl: the account login's one request.
//
// Index
//   ---- tunables ----
//   ---- transfer state and callbacks ----
//   ---- postJson ----
#include "net/curl_options.h"
#include "net/http.h"

#include <curl/curl.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

// ---- tunables ----
namespace {
constexpr long kPostTimeoutSeconds = 15; // connect, and no progress while sending or receiving
constexpr int kPostStopPollMilliseconds = 50;
constexpr long kPostMaxRedirects = 0; // a redirect is the answer: the password goes nowhere else

// ---- transfer state and callbacks ----

struct PostTransfer {
    std::string* response = nullptr;
    const std::atomic<bool>* stop = nullptr;
    bool headSeen = false; // a final (non-1xx) status line arrived
    bool capped = false;   // the answer reached the cap; the rest is not read
    bool stopped = false;
    curl_off_t lastUp = -1, lastDown = -1;
    std::chrono::steady_clock::time_point lastProgress = std::chrono::steady_clock::now();
};

size_t onPostHeader(char* line, size_t size, size_t count, void* user) {
    auto& t = *static_cast<PostTransfer*>(user);
    size_t length = size * count;
    t.lastProgress = std::chrono::steady_clock::now();
    // "HTTP/1.1 200 OK": a 1xx head is followed by the real one.
    if (length > 9 && std::memcmp(line, "HTTP/", 5) == 0) {
        const char* sp = static_cast<const char*>(std::memchr(line, ' ', length));
        t.headSeen = !(sp && sp + 1 < line + length && sp[1] == '1');
    }
    return length;
}

size_t onPostBody(char* data, size_t size, size_t count, void* user) {
    auto& t = *static_cast<PostTransfer*>(user);
    size_t length = size * count;
    t.lastProgress = std::chrono::steady_clock::now();
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
        t.lastProgress = std::chrono::steady_clock::now();
    }
    if (t.stop && t.stop->load()) {
        t.stopped = true;
        return 1;
    }
    return 0;
}

struct PostHandles {
    CURL* easy = curl_easy_init();
    CURLM* multi = nullptr;
    bool added = false;
    curl_slist* headers = nullptr;
    CURLU* parsed = nullptr;
    ~PostHandles() {
        if (added) curl_multi_remove_handle(multi, easy);
        if (multi) curl_multi_cleanup(multi);
        if (easy) curl_easy_cleanup(easy);
        curl_slist_free_all(headers);
        if (parsed) curl_url_cleanup(parsed);
    }
};

// "http" or "https" when `url` is a complete address with one of them, else "".
std::string schemeOf(PostHandles& h, const std::string& url) {
    h.parsed = curl_url();
    if (!h.parsed || curl_url_set(h.parsed, CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) return {};
    char* scheme = nullptr;
    char* host = nullptr;
    std::string result;
    if (curl_url_get(h.parsed, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
        curl_url_get(h.parsed, CURLUPART_HOST, &host, 0) == CURLUE_OK && host && *host) {
        if (std::strcmp(scheme, "http") == 0 || std::strcmp(scheme, "https") == 0) result = scheme;
    }
    curl_free(scheme);
    curl_free(host);
    return result;
}

} // namespace

// ---- postJson ----

bool postJson(const std::string& url, const std::string& body, uint32_t& outStatus, std::string& outResponse,
              std::string& outError, const std::atomic<bool>* stop) {
    outStatus = 0;
    outResponse.clear();
    PostHandles h;
    std::string scheme = schemeOf(h, url);
    if (scheme.empty()) {
        outError = kErrPostAddress;
        return false;
    }
    if (!h.easy) {
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
    CURL* c = h.easy;
    h.headers = curl_slist_append(h.headers, "Content-Type: application/json");
    if (h.headers) h.headers = curl_slist_append(h.headers, "Accept: application/json");
    if (h.headers) h.headers = curl_slist_append(h.headers, "Expect:"); // no 100-continue round trip
    h.multi = curl_multi_init();
    if (!h.headers || !h.multi) {
        outError = kErrPostConnect;
        return false;
    }
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, h.headers);
    curl_easy_setopt(c, CURLOPT_POST, 1L);
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.data()); // not copied: the caller wipes it
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    setSharedTransferOptions(c, kPostTimeoutSeconds, kPostMaxRedirects, scheme.c_str());
    curl_easy_setopt(c, CURLOPT_BUFFERSIZE, static_cast<long>(kPostChunkBytes));
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, onPostHeader);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, onPostBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, onPostProgress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &t);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    if (curl_multi_add_handle(h.multi, c) != CURLM_OK) {
        outError = kErrPostConnect;
        return false;
    }
    h.added = true;

    // Short waits, so a stop request and the no-progress limit are seen while nothing arrives.
    const auto noProgressLimit = std::chrono::seconds(kPostTimeoutSeconds);
    CURLcode rc = CURLE_OK;
    for (bool done = false; !done;) {
        int running = 0;
        if (curl_multi_perform(h.multi, &running) != CURLM_OK) {
            rc = CURLE_FAILED_INIT;
            break;
        }
        int queued = 0;
        while (CURLMsg* msg = curl_multi_info_read(h.multi, &queued))
            if (msg->msg == CURLMSG_DONE) {
                rc = msg->data.result;
                done = true;
            }
        if (done) break;
        if (stop && stop->load()) {
            t.stopped = true;
            break;
        }
        if (std::chrono::steady_clock::now() - t.lastProgress > noProgressLimit) {
            rc = CURLE_OPERATION_TIMEDOUT;
            break;
        }
        if (curl_multi_poll(h.multi, nullptr, 0, kPostStopPollMilliseconds, nullptr) != CURLM_OK) {
            rc = CURLE_FAILED_INIT;
            break;
        }
    }
    if (t.stopped) return false;
    if (t.headSeen && (rc == CURLE_OK || t.capped)) {
        long status = 0;
        curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
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
