// test_server.h - an HTTP(S) server on 127.0.0.1 (ephemeral port) that a test starts,
// scripts and stops itself, and that misbehaves on purpose when told to.
//
// Routes are matched on the percent-decoded path. Anything without a route is served from
// the folder given to serveFolder (404 when absent).
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tinyhttp {
class Server;
}

namespace testsupport {

enum class Behaviour {
    Normal,   // `status`, headers, `body`
    Redirect, // `status` (301/302) with Location: `location`
    Stall,    // Content-Length of `body`, sends `sendBytes` of it, then waits until released
    Short,    // Content-Length of `declaredLength`, sends `sendBytes` of `body`, closes
    Endless,  // no Content-Length; sends pattern bytes until the client hangs up
    Garbage,  // answers with bytes that are no HTTP status line
    Silent,   // reads the request and answers nothing until released
    Hold,     // Content-Length of `body`, sends `sendBytes` of it, waits until released,
              // then sends the rest: a slow server that the test paces
};

struct Route {
    Behaviour behaviour = Behaviour::Normal;
    int status = 200;
    std::string body;
    std::string location;
    size_t sendBytes = 0;
    long long declaredLength = 0;
};

// How files served from the folder answer a "Range: bytes=N-" or "bytes=N-M" request.
enum class RangeAnswer {
    Honour, // 206 with "Content-Range: bytes N-LAST/SIZE" and those bytes (416 past the end)
    Ignore, // the whole file with 200, as a server without range support does
    Wrong,  // 206 whose Content-Range names a start one byte later than asked, body from N
};

struct SeenRequest {
    std::string method;
    std::string path;
    std::string userAgent;
    std::string pragma;
    std::string cacheControl;
    std::string range;
};

// A plain answer with `status` and `body`.
// A stop flag nobody sets, for GETs that run to their end.
inline const std::atomic<bool>& neverStop() {
    static const std::atomic<bool> never{false};
    return never;
}

Route answer(int status, std::string body);
// Headers announcing `body`, `sendBytes` of it, then nothing until the server lets go.
Route stall(std::string body, size_t sendBytes);
// Headers announcing `body`, `sendBytes` of it, then (once the server lets go) the rest.
Route hold(std::string body, size_t sendBytes);
// Content-Length `declaredLength`, `sendBytes` of `body`, then the connection closes.
Route cutShort(std::string body, size_t sendBytes, long long declaredLength);
// `status` (301/302) with Location: `location`.
Route redirect(int status, std::string location);
// Endless, Garbage or Silent.
Route misbehave(Behaviour behaviour);

class TestServer {
  public:
    // TLS uses tests/data/tls/cert.pem and key.pem (valid for 127.0.0.1 and localhost).
    explicit TestServer(bool tls = false);
    ~TestServer();

    void route(const std::string& path, Route route);
    void serveFolder(const std::string& root);
    void setRangeAnswer(RangeAnswer answer);

    int port() const;
    // "http://127.0.0.1:PORT/" (or https).
    std::string baseUrl() const;

    int requestCount(const std::string& path) const;
    int totalRequests() const;
    // Connections accepted so far, and every byte sent on them (heads included).
    int connectionCount() const;
    long long bytesSent() const;
    std::vector<SeenRequest> requests() const;
    // Number of handlers currently held by a Stall route.
    int stalledNow() const { return stalled_.load(); }

    // Lets every stalled handler go (they close their connection).
    void releaseStalls();
    void stop();

  private:
    struct State;
    std::shared_ptr<State> state_;
    std::unique_ptr<tinyhttp::Server> server_;
    std::atomic<int> stalled_{0};
    bool tls_;
};

// Path of the test certificate (PEM) that the TLS servers use.
std::string testCertificate();
std::string testKey();

} // namespace testsupport
