// test_server.cpp - the tests' scriptable HTTP(S) server on tinyhttp.
#include "support/test_server.h"

#include "../../tools/devhost/tiny_http.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace testsupport {

std::string testCertificate() {
    return std::string(MORLAKEN_TEST_DATA) + "/tls/cert.pem";
}
std::string testKey() {
    return std::string(MORLAKEN_TEST_DATA) + "/tls/key.pem";
}

struct TestServer::State {
    mutable std::mutex mutex;
    std::map<std::string, Route> routes;
    std::string root;
    RangeAnswer rangeAnswer = RangeAnswer::Honour;
    std::vector<SeenRequest> seen;
    std::condition_variable releaseCv;
    bool released = false;
};

namespace {

// "bytes=N-" -> N and -1, "bytes=N-M" -> N and M; false for anything else (the whole file
// is sent).
bool parseRange(const std::string& header, long long& outFrom, long long& outLast) {
    const std::string prefix = "bytes=";
    const size_t dash = header.find('-');
    if (header.compare(0, prefix.size(), prefix) != 0 || dash == std::string::npos) return false;
    auto number = [](const std::string& digits, long long& out) {
        if (digits.empty() || digits.size() > 18 ||
            digits.find_first_not_of("0123456789") != std::string::npos)
            return false;
        out = std::stoll(digits);
        return true;
    };
    outLast = -1;
    const std::string last = header.substr(dash + 1);
    return number(header.substr(prefix.size(), dash - prefix.size()), outFrom) &&
           (last.empty() || (number(last, outLast) && outLast >= outFrom));
}

void serveFile(const std::string& root, RangeAnswer rangeAnswer, const tinyhttp::Request& request,
               tinyhttp::Stream& stream) {
    namespace fs = std::filesystem;
    if (root.empty() || !request.pathValid || request.path.find("..") != std::string::npos) {
        stream.sendResponse(404, "not found\n");
        return;
    }
    std::string file = root + request.path;
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) {
        stream.sendResponse(404, "not found\n");
        return;
    }
    std::ifstream in(file, std::ios::binary);
    auto size = static_cast<long long>(fs::file_size(file, ec));
    long long from = -1, last = -1;
    if (rangeAnswer == RangeAnswer::Ignore || !parseRange(request.header("Range"), from, last)) from = -1;
    if (from >= size) {
        stream.sendResponse(416, "", "text/plain", "Content-Range: bytes */" + std::to_string(size) + "\r\n");
        return;
    }
    long long left = size;
    if (from >= 0) {
        last = last < 0 || last >= size ? size - 1 : last;
        const long long named = rangeAnswer == RangeAnswer::Wrong ? from + 1 : from;
        const std::string contentRange = "Content-Range: bytes " + std::to_string(named) + "-" +
                                         std::to_string(last) + "/" + std::to_string(size) + "\r\n";
        in.seekg(from);
        left = last - from + 1;
        if (!stream.sendHead(206, left, "application/octet-stream", contentRange)) return;
    } else if (!stream.sendHead(200, size)) {
        return;
    }
    std::vector<char> buffer(65536);
    while (in && left > 0) {
        in.read(buffer.data(), static_cast<std::streamsize>(std::min<long long>(left, buffer.size())));
        if (in.gcount() > 0 && !stream.write(buffer.data(), static_cast<size_t>(in.gcount()))) return;
        left -= in.gcount();
    }
}

} // namespace

TestServer::TestServer(bool tls)
    : state_(std::make_shared<State>()), server_(new tinyhttp::Server), tls_(tls) {
    std::string error;
    if (tls && !server_->enableTls(testCertificate(), testKey(), error)) ADD_FAILURE() << error;
    auto state = state_;
    tinyhttp::Server* server = server_.get();
    std::atomic<int>* stalled = &stalled_;
    auto handler = [state, server, stalled](const tinyhttp::Request& request, tinyhttp::Stream& stream) {
        Route route;
        bool routed = false;
        std::string root;
        RangeAnswer rangeAnswer = RangeAnswer::Honour;
        {
            std::lock_guard<std::mutex> lock(state->mutex);
            state->seen.push_back({request.method, request.path, request.header("User-Agent"),
                                   request.header("Pragma"), request.header("Cache-Control"),
                                   request.header("Range")});
            auto it = state->routes.find(request.path);
            if (it != state->routes.end()) {
                route = it->second;
                routed = true;
            }
            root = state->root;
            rangeAnswer = state->rangeAnswer;
        }
        if (!routed) {
            serveFile(root, rangeAnswer, request, stream);
            return;
        }
        switch (route.behaviour) {
        case Behaviour::Normal:
            stream.sendResponse(route.status, route.body, "application/octet-stream");
            break;
        case Behaviour::Redirect:
            stream.sendResponse(route.status, "moved\n", "text/plain",
                                "Location: " + route.location + "\r\n");
            break;
        case Behaviour::Stall:
        case Behaviour::Hold:
        case Behaviour::Silent: {
            if (route.behaviour != Behaviour::Silent) {
                stream.sendHead(200, static_cast<long long>(route.body.size()));
                stream.write(route.body.data(), std::min(route.sendBytes, route.body.size()));
            }
            stalled->fetch_add(1);
            {
                std::unique_lock<std::mutex> lock(state->mutex);
                state->releaseCv.wait(lock, [&] { return state->released || server->stopping(); });
            }
            stalled->fetch_sub(1);
            if (route.behaviour == Behaviour::Hold && route.sendBytes < route.body.size())
                stream.write(route.body.data() + route.sendBytes, route.body.size() - route.sendBytes);
            break;
        }
        case Behaviour::Short: {
            stream.sendHead(200, route.declaredLength);
            stream.write(route.body.data(), std::min(route.sendBytes, route.body.size()));
            break;
        }
        case Behaviour::Endless: {
            stream.sendHead(200, -1);
            std::string block(65536, 'x');
            while (!server->stopping() && stream.write(block)) {
            }
            break;
        }
        case Behaviour::Garbage:
            stream.write("SSH-2.0-nonsense\r\n\r\nthis is no answer\r\n");
            break;
        }
    };
    if (!server_->listen("127.0.0.1", 0, handler, error)) ADD_FAILURE() << error;
}

TestServer::~TestServer() {
    stop();
}

void TestServer::route(const std::string& path, Route route) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->routes[path] = std::move(route);
}

void TestServer::serveFolder(const std::string& root) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->root = root;
}

void TestServer::setRangeAnswer(RangeAnswer answer) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->rangeAnswer = answer;
}

int TestServer::connectionCount() const {
    return server_->connectionsAccepted();
}

long long TestServer::bytesSent() const {
    return server_->bytesSent();
}

int TestServer::port() const {
    return server_->port();
}

std::string TestServer::baseUrl() const {
    return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port()) + "/";
}

int TestServer::requestCount(const std::string& path) const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    int n = 0;
    for (const auto& r : state_->seen)
        n += r.path == path;
    return n;
}

int TestServer::totalRequests() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return static_cast<int>(state_->seen.size());
}

std::vector<SeenRequest> TestServer::requests() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->seen;
}

void TestServer::releaseStalls() {
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->released = true;
    }
    state_->releaseCv.notify_all();
}

void TestServer::stop() {
    releaseStalls();
    server_->stop();
}

Route answer(int status, std::string body) {
    Route r;
    r.status = status;
    r.body = std::move(body);
    return r;
}

Route stall(std::string body, size_t sendBytes) {
    Route r = misbehave(Behaviour::Stall);
    r.body = std::move(body);
    r.sendBytes = sendBytes;
    return r;
}

Route hold(std::string body, size_t sendBytes) {
    Route r = misbehave(Behaviour::Hold);
    r.body = std::move(body);
    r.sendBytes = sendBytes;
    return r;
}

Route cutShort(std::string body, size_t sendBytes, long long declaredLength) {
    Route r = misbehave(Behaviour::Short);
    r.body = std::move(body);
    r.sendBytes = sendBytes;
    r.declaredLength = declaredLength;
    return r;
}

Route redirect(int status, std::string location) {
    Route r = misbehave(Behaviour::Redirect);
    r.status = status;
    r.location = std::move(location);
    return r;
}

Route misbehave(Behaviour behaviour) {
    Route r;
    r.behaviour = behaviour;
    return r;
}

} // namespace testsupport
