// test_server.h - an HTTP(S) server on 127.0.0.1 (ephemeral port) that a test starts, scripts
// and stops itself, and that misbehaves on purpose when told to; built on the dev host's
// tinyhttp. Routes are matched on the percent-decoded path; anything without a route is served
// from the folder given to serveFolder (404 when absent).
#pragma once

#include "../../tools/devhost/tiny_http.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

enum class Behaviour {
    Normal,   // `status` and `body`
    Redirect, // `status` (301/302) with Location: `location`
    Stall,    // Content-Length of `body`, `sendBytes` of it, then nothing until released
    Short,    // Content-Length `declaredLength`, `sendBytes` of `body`, then the connection closes
    Garbage,  // bytes that are no HTTP status line
    Silent,   // reads the request and answers nothing until released
    Hold,     // as Stall, but once released sends the rest: a slow server that the test paces
};

struct Route {
    Behaviour behaviour = Behaviour::Normal;
    int status = 200;
    std::string body = "";
    std::string location = "";
    size_t sendBytes = 0;
    long long declaredLength = 0;
};

inline Route answer(int status, std::string body) {
    return {.status = status, .body = std::move(body)};
}
inline Route stall(std::string body, size_t sendBytes) {
    return {.behaviour = Behaviour::Stall, .body = std::move(body), .sendBytes = sendBytes};
}
inline Route cutShort(std::string body, size_t sendBytes, long long declaredLength) {
    return {.behaviour = Behaviour::Short,
            .body = std::move(body),
            .sendBytes = sendBytes,
            .declaredLength = declaredLength};
}
inline Route redirect(int status, std::string location) {
    return {.behaviour = Behaviour::Redirect, .status = status, .location = std::move(location)};
}
inline Route misbehave(Behaviour behaviour) {
    return {.behaviour = behaviour};
}

// How files served from the folder answer a "Range: bytes=N-" or "bytes=N-M" request.
enum class RangeAnswer {
    Honour, // 206 with "Content-Range: bytes N-LAST/SIZE" and those bytes (416 past the end)
    Ignore, // the whole file with 200, as a server without range support does
    Wrong,  // 206 whose Content-Range names a start one byte later than asked, body from N
};

struct SeenRequest {
    std::string method, path, userAgent, pragma, cacheControl, range;
};

// A stop flag nobody sets, for GETs that run to their end.
inline const std::atomic<bool>& neverStop() {
    static const std::atomic<bool> never{false};
    return never;
}

// The test certificate and key (PEM, valid for 127.0.0.1 and localhost) of the TLS servers.
inline std::string testCertificate() {
    return std::string(MORLAKEN_TEST_DATA) + "/tls/cert.pem";
}
inline std::string testKey() {
    return std::string(MORLAKEN_TEST_DATA) + "/tls/key.pem";
}

class TestServer {
  public:
    explicit TestServer(bool tls = false);
    ~TestServer() { stop(); }

    void route(const std::string& path, Route route) {
        locked([&] { routes_[path] = std::move(route); });
    }
    void serveFolder(const std::string& root) {
        locked([&] { root_ = root; });
    }
    void setRangeAnswer(RangeAnswer answer) {
        locked([&] { rangeAnswer_ = answer; });
    }

    int port() const { return server_.port(); }
    // "http://127.0.0.1:PORT/" (or https).
    std::string baseUrl() const {
        return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port()) + "/";
    }
    std::vector<SeenRequest> requests() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return seen_;
    }
    int totalRequests() const { return static_cast<int>(requests().size()); }
    int requestCount(const std::string& path) const {
        int n = 0;
        for (const SeenRequest& r : requests())
            n += r.path == path;
        return n;
    }
    // Connections accepted so far.
    int connectionCount() const { return server_.connectionsAccepted(); }
    // Handlers held by a Stall, Hold or Silent route right now.
    int stalledNow() const { return stalled_.load(); }

    // Lets every held handler go.
    void releaseStalls() {
        locked([&] { released_ = true; });
        releaseCv_.notify_all();
    }
    void stop() {
        releaseStalls();
        server_.stop();
    }

  private:
    template <typename F> void locked(F f) {
        std::lock_guard<std::mutex> lock(mutex_);
        f();
    }
    void handle(const tinyhttp::Request& request, tinyhttp::Stream& stream);

    mutable std::mutex mutex_;
    std::map<std::string, Route> routes_;
    std::string root_;
    RangeAnswer rangeAnswer_ = RangeAnswer::Honour;
    std::vector<SeenRequest> seen_;
    std::condition_variable releaseCv_;
    bool released_ = false;
    std::atomic<int> stalled_{0};
    bool tls_;
    tinyhttp::Server server_; // last: stopped (its handlers joined) before the rest goes
};

} // namespace testsupport
