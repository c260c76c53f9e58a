// test_server.cpp - the tests' scriptable HTTP(S) server on tinyhttp.
#include "support/test_server.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace testsupport {

namespace {

// "bytes=N-" -> N and -1, "bytes=N-M" -> N and M; false for anything else (the whole file
// is sent).
bool parseRange(const std::string& header, long long& outFrom, long long& outLast) {
    char tail = 0;
    outLast = -1;
    const int read = std::sscanf(header.c_str(), "bytes=%lld-%lld%c", &outFrom, &outLast, &tail);
    return read >= 1 && outFrom >= 0 && (read == 1 ? header.back() == '-' : read == 2 && outLast >= outFrom);
}

void serveFile(const std::string& root, RangeAnswer rangeAnswer, const tinyhttp::Request& request,
               tinyhttp::Stream& stream) {
    namespace fs = std::filesystem;
    const std::string file = root + request.path;
    std::error_code ec;
    if (root.empty() || !request.pathValid || request.path.find("..") != std::string::npos ||
        !fs::is_regular_file(file, ec)) {
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

TestServer::TestServer(bool tls) : tls_(tls) {
    std::string error;
    if (tls && !server_.enableTls(testCertificate(), testKey(), error)) ADD_FAILURE() << error;
    if (!server_.listen(
            "127.0.0.1", 0, [this](const tinyhttp::Request& r, tinyhttp::Stream& s) { handle(r, s); }, error))
        ADD_FAILURE() << error;
}

void TestServer::handle(const tinyhttp::Request& request, tinyhttp::Stream& stream) {
    Route route;
    bool routed = false;
    std::string root;
    RangeAnswer rangeAnswer = RangeAnswer::Honour;
    locked([&] {
        seen_.push_back({request.method, request.path, request.header("User-Agent"), request.header("Pragma"),
                         request.header("Cache-Control"), request.header("Range")});
        auto it = routes_.find(request.path);
        if ((routed = it != routes_.end())) route = it->second;
        root = root_;
        rangeAnswer = rangeAnswer_;
    });
    if (!routed) return serveFile(root, rangeAnswer, request, stream);
    const size_t sent = std::min(route.sendBytes, route.body.size());
    switch (route.behaviour) {
    case Behaviour::Normal:
        stream.sendResponse(route.status, route.body, "application/octet-stream");
        break;
    case Behaviour::Redirect:
        stream.sendResponse(route.status, "moved\n", "text/plain", "Location: " + route.location + "\r\n");
        break;
    case Behaviour::Stall:
    case Behaviour::Hold:
    case Behaviour::Silent: {
        if (route.behaviour != Behaviour::Silent) {
            stream.sendHead(200, static_cast<long long>(route.body.size()));
            stream.write(route.body.data(), sent);
        }
        stalled_.fetch_add(1);
        {
            std::unique_lock<std::mutex> lock(mutex_);
            releaseCv_.wait(lock, [&] { return released_ || server_.stopping(); });
        }
        stalled_.fetch_sub(1);
        if (route.behaviour == Behaviour::Hold && sent < route.body.size())
            stream.write(route.body.data() + sent, route.body.size() - sent);
        break;
    }
    case Behaviour::Short:
        stream.sendHead(200, route.declaredLength);
        stream.write(route.body.data(), sent);
        break;
    case Behaviour::Garbage:
        stream.write("SSH-2.0-nonsense\r\n\r\nthis is no answer\r\n");
        break;
    }
}

} // namespace testsupport
