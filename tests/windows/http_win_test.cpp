// http_win_test.cpp - the WinINet client's words, range and POST rules and stop, against a
// loopback server inside the test that answers one request with fixed bytes.
#include "net/http.h"

#include <gtest/gtest.h>

#include <winsock2.h>

#include <atomic>
#include <string>
#include <thread>

namespace {

// Answers one request with `answer` ("" = nothing), then keeps the connection open until the
// test ends it (or, with `hangUp`, closes it at once). `sent` turns true once the answer left.
class OneAnswerServer {
  public:
    OneAnswerServer(std::string answer, bool hangUp) {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{AF_INET, 0, {}, {}};
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof address;
        bind(listener_, reinterpret_cast<sockaddr*>(&address), length);
        listen(listener_, 4);
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/dosya";
        thread_ = std::thread([this, answer, hangUp] {
            if ((client_ = accept(listener_, nullptr, nullptr)) == INVALID_SOCKET) return;
            std::string request;
            char buffer[4096];
            for (int n; request.find("\r\n\r\n") == std::string::npos; request.append(buffer, n))
                if ((n = recv(client_, buffer, sizeof buffer, 0)) <= 0) return;
            head = request;
            send(client_, answer.data(), static_cast<int>(answer.size()), 0);
            if (hangUp) shutdown(client_, SD_BOTH);
            sent = true;
            while (recv(client_, buffer, sizeof buffer, 0) > 0) {
            }
        });
    }
    ~OneAnswerServer() {
        closesocket(listener_);
        if (client_ != INVALID_SOCKET) closesocket(client_);
        thread_.join();
    }
    std::string url;
    std::string head; // the request's head, complete once `sent` is true
    std::atomic<bool> sent{false};

  private:
    SOCKET listener_ = INVALID_SOCKET, client_ = INVALID_SOCKET;
    std::thread thread_;
};

enum class Call { Get, GetRefusingSink, Post };

struct Case {
    Call call;
    std::string answer; // "" = the server never answers
    bool ok;
    const char* error = "dokunulmadi"; // "dokunulmadi" = left as it was
    const char* body = "";             // what the sink or the answer holds afterwards
    uint32_t status = 0;               // POST only
    bool stop = false;                 // the test stops the call once the answer left
    bool hangUp = false;               // the server closes after answering
    const char* asked = nullptr;       // a ranged GET of `range`: the Range it must send
    HttpRange range = {};
    const char* url = nullptr; // instead of the server's
};

std::string partial(const char* range, const char* body) {
    return std::string("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes ") + range +
           "\r\nContent-Length: 5\r\n\r\n" + body;
}

TEST(WindowsHttp, EachAnswerGivesItsWordsAStopEndsAStalledOneAndARangeIsTakenOnlyAsAsked) {
    using enum Call;
    const char* kOk = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: close\r\n\r\ntamam";
    const char* kUntouched = "dokunulmadi";
    // clang-format off
    const Case cases[] = {
        {Get, kOk, true, kUntouched, "tamam"},
        {Get, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n", true},
        {Get, "HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\nConnection: close\r\n\r\nyok", false, "sunucu 404 dondu"},
        // WinINet waits for a whole 64 KiB chunk, so the first bytes are still held inside it
        // when the stop comes; the no-data limit is far beyond the test's time.
        {Get, "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nilk baytlar", false, kUntouched, "", 0, true},
        {GetRefusingSink, kOk, false, kErrSink},
        {Get, "", false, kErrConnect, "", 0, false, false, nullptr, {}, "http://127.0.0.1:1/x"}, // nothing listens
        // A ranged GET asks "bytes=FROM-LAST" or "bytes=FROM-" and takes only a 206 whose
        // Content-Range names exactly that range.
        {Get, partial("10-14/100", "parca"), true, kUntouched, "parca", 0, false, false, "10-14", {10, 100, 5}},
        {Get, partial("10-14/15", "kalan"), true, kUntouched, "kalan", 0, false, false, "10-", {10, 15, -1}},
        {Get, "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nbutun", false, "sunucu 200 dondu", "", 0, false, false, "10-14", {10, 100, 5}},
        {Get, partial("11-15/100", "kayik"), false, "sunucu 206 dondu", "", 0, false, false, "10-14", {10, 100, 5}},
        // A POST takes any whole answer and follows no redirect.
        {Post, "HTTP/1.1 401 Unauthorized\r\nContent-Length: 33\r\n\r\n{\"message\":\"INVALID_CREDENTIALS\"}", true, kUntouched, "{\"message\":\"INVALID_CREDENTIALS\"}", 401},
        {Post, "HTTP/1.1 307 Moved\r\nLocation: http://127.0.0.1:1/x\r\nContent-Length: 5\r\n\r\nmoved", true, kUntouched, "moved", 307},
        // Cut short of its Content-Length, then closed: no answer, no half ticket.
        {Post, "HTTP/1.1 200 OK\r\nContent-Length: 60\r\n\r\n{\"ticket\":\"TRUNC", false, "giris sunucusuna ulasilamadi (12030)", "", 0, false, true},
        // A body that stops half-way, and a server that never answers: only the stop ends them.
        {Post, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n{\"ticket\":", false, kUntouched, "", 0, true},
        {Post, "", false, kUntouched, "", 0, true},
        {Post, "", false, kErrPostAddress, "", 0, false, false, nullptr, {}, "ftp://127.0.0.1/ticket"},
    };
    // clang-format on
    for (const Case& c : cases) {
        const std::string what = c.answer + (c.url ? c.url : "");
        OneAnswerServer server(c.answer, c.hangUp);
        std::atomic<bool> stop{false};
        std::thread stopper([&] {
            while (c.stop && !server.sent.load())
                std::this_thread::yield();
            stop = c.stop;
        });
        const std::string url = c.url ? c.url : server.url;
        std::string error = "dokunulmadi", body;
        uint32_t status = 7;
        HttpSession session({.noDataTimeoutSeconds = 120});
        if (c.call == Post) {
            EXPECT_EQ(postJson(url, "{\"username\":\"oyuncu\"}", status, body, error, &stop), c.ok) << what;
            EXPECT_EQ(status, c.status) << what;
        } else {
            const DownloadSink sink = c.call == Get ? makeStringSink(body, 1000000)
                                                    : [](const uint8_t*, uint32_t) { return false; };
            // The plain GETs through a session of their own, the rest without one.
            HttpSession* const own = c.call == Get && !c.asked && !c.url ? &session : nullptr;
            EXPECT_EQ(httpGet(url, sink, error, stop, own, c.asked ? &c.range : nullptr), c.ok) << what;
        }
        EXPECT_EQ(error, c.error) << what;
        EXPECT_EQ(body, c.body) << what;
        stopper.join();
        if (c.asked) {
            while (!server.sent.load())
                std::this_thread::yield();
            EXPECT_NE(server.head.find("Range: bytes=" + std::string(c.asked) + "\r\n"), std::string::npos)
                << server.head;
        }
    }
}

} // namespace
