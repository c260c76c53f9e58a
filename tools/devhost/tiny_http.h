// tiny_http.h - a small threaded HTTP/1.1 server (plain or TLS through OpenSSL) for the
// local dev host and for the tests' misbehaving servers.
//
// One thread per connection. A connection stays open for the client's next request
// (HTTP/1.1 keep-alive) only after an answer whose head carried a Content-Length and whose
// body was sent to exactly that length; anything else (no length, a body cut short or sent
// past its length, raw bytes, a client asking to close, HTTP/1.0) closes it. A handler
// writes the raw answer itself through Stream, so it can also answer wrongly on purpose
// (stall, cut the body short, send past Content-Length). Header-only: the dev host and the
// test support library each compile it once.
//
// No client holds a thread for long: a TLS handshake must end within
// kHandshakeTimeoutMilliseconds, every read of a request within kReadTimeoutMilliseconds, and
// a body longer than kMaxBodyBytes is answered with 413 and read away unkept.
//
// Index
//   ---- tunables ----
//   ---- request ----
//   ---- stream ----
//   ---- server ----
#pragma once

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace tinyhttp {

// ---- tunables ----
inline constexpr size_t kMaxHeadBytes = 65536;
inline constexpr size_t kMaxBodyBytes = 1048576;
// Read away after a 413 while the client is still sending its body, so that the close does
// not reset the connection before the client has read the answer.
inline constexpr size_t kMaxDrainBytes = 8 * kMaxBodyBytes;
inline constexpr int kAcceptPollMilliseconds = 100;
inline constexpr int kReadTimeoutMilliseconds = 10000;
inline constexpr int kHandshakeTimeoutMilliseconds = 5000;

// ---- request ----

struct Request {
    std::string method;
    std::string target; // as sent, e.g. "/veri/a%20b.png?x=1"
    std::string path;   // percent-decoded, without the query
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    std::string version;   // "HTTP/1.1"
    bool pathValid = true; // false when the percent-encoding was malformed

    // Value of the first header named `name` (case-insensitive), "" when absent.
    std::string header(std::string_view name) const {
        for (const auto& [key, value] : headers) {
            if (key.size() != name.size()) continue;
            bool same = true;
            for (size_t i = 0; i < key.size() && same; ++i)
                same = std::tolower(static_cast<unsigned char>(key[i])) ==
                       std::tolower(static_cast<unsigned char>(name[i]));
            if (same) return value;
        }
        return {};
    }
};

// Decodes %XX; false on a malformed or NUL escape.
inline bool percentDecode(std::string_view in, std::string& out) {
    out.clear();
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '%') {
            out += in[i];
            continue;
        }
        if (i + 2 >= in.size()) return false;
        int hi = hex(in[i + 1]), lo = hex(in[i + 2]);
        if (hi < 0 || lo < 0 || (hi == 0 && lo == 0)) return false;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return true;
}

inline const char* reasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 413:
        return "Content Too Large";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

// ---- stream ----

// One accepted connection. Writes fail (false) once the peer is gone or the server stops.
class Stream {
  public:
    Stream(int fd, SSL* ssl, std::atomic<long long>* bytesSent = nullptr)
        : fd_(fd), ssl_(ssl), bytesSent_(bytesSent) {}

    bool write(const void* data, size_t count) {
        if (headSent_)
            bodyWritten_ += static_cast<long long>(count);
        else
            rawWrite_ = true;
        if (bytesSent_) bytesSent_->fetch_add(static_cast<long long>(count));
        const char* p = static_cast<const char*>(data);
        while (count > 0) {
            long n;
            if (ssl_) {
                n = SSL_write(ssl_, p, static_cast<int>(std::min<size_t>(count, 1 << 20)));
            } else {
                n = ::send(fd_, p, count, MSG_NOSIGNAL);
            }
            if (n <= 0) return false;
            p += n;
            count -= static_cast<size_t>(n);
        }
        return true;
    }
    bool write(std::string_view text) { return write(text.data(), text.size()); }

    // Status line and headers; contentLength < 0 sends no Content-Length (the body then
    // ends when the connection closes).
    bool sendHead(int status, long long contentLength,
                  std::string_view contentType = "application/octet-stream",
                  std::string_view extraHeaders = {}) {
        std::string head = "HTTP/1.1 " + std::to_string(status) + " " + reasonPhrase(status) + "\r\n";
        if (!contentType.empty()) head += "Content-Type: " + std::string(contentType) + "\r\n";
        if (contentLength >= 0) head += "Content-Length: " + std::to_string(contentLength) + "\r\n";
        head += extraHeaders;
        // Without a length the body ends where the connection does.
        head += contentLength < 0 || !keepAliveWanted_ ? "Connection: close\r\n\r\n" : "\r\n";
        const bool raw = rawWrite_;
        bool sent = write(head);
        rawWrite_ = raw;
        headSent_ = !raw;
        declared_ = contentLength;
        bodyWritten_ = 0;
        return sent;
    }
    // The handler answered a HEAD request: no body follows the head.
    void headOnly() { declared_ = bodyWritten_; }
    bool sendResponse(int status, std::string_view body,
                      std::string_view contentType = "text/plain; charset=utf-8",
                      std::string_view extraHeaders = {}) {
        return sendHead(status, static_cast<long long>(body.size()), contentType, extraHeaders) &&
               write(body);
    }

    // Reads raw bytes (used to read the request). 0 on close, -1 on error or time-out.
    long read(void* buffer, size_t size) {
        pollfd p{fd_, POLLIN, 0};
        if (!(ssl_ && SSL_pending(ssl_) > 0) && ::poll(&p, 1, kReadTimeoutMilliseconds) <= 0) return -1;
        return ssl_ ? SSL_read(ssl_, buffer, static_cast<int>(size)) : ::recv(fd_, buffer, size, 0);
    }

    // Server side: whether the client wants the connection kept, and whether the answer
    // ended cleanly enough for the next request to follow on it.
    void beginAnswer(bool keepAliveWanted) {
        keepAliveWanted_ = keepAliveWanted;
        headSent_ = rawWrite_ = false;
        declared_ = -1;
        bodyWritten_ = 0;
    }
    bool reusable() const {
        return keepAliveWanted_ && headSent_ && !rawWrite_ && declared_ >= 0 && bodyWritten_ == declared_;
    }

  private:
    int fd_;
    SSL* ssl_;
    std::atomic<long long>* bytesSent_;
    bool keepAliveWanted_ = false;
    bool headSent_ = false;
    bool rawWrite_ = false;
    long long declared_ = -1;
    long long bodyWritten_ = 0;
};

using Handler = std::function<void(const Request&, Stream&)>;

// ---- server ----

class Server {
  public:
    Server() = default;
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;
    ~Server() { stop(); }

    // Before listen: answer over TLS with this certificate chain and key (PEM files).
    bool enableTls(const std::string& certFile, const std::string& keyFile, std::string& outError) {
        ctx_ = SSL_CTX_new(TLS_server_method());
        if (!ctx_ || SSL_CTX_use_certificate_chain_file(ctx_, certFile.c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(ctx_, keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
            SSL_CTX_check_private_key(ctx_) != 1) {
            outError = "TLS: cannot load certificate " + certFile + " / key " + keyFile;
            return false;
        }
        return true;
    }

    // Binds `host`:`port` (0 = any free port), then serves on a thread of its own.
    bool listen(const std::string& host, int port, Handler handler, std::string& outError) {
        ::signal(SIGPIPE, SIG_IGN); // a peer that hangs up must not end the process
        handler_ = std::move(handler);
        listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (listenFd_ < 0) {
            outError = "socket() failed";
            return false;
        }
        int yes = 1;
        ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        if (::inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1) {
            outError = "bad bind address " + host;
            closeListener();
            return false;
        }
        if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(listenFd_, 64) != 0) {
            outError = "cannot listen on " + host + ":" + std::to_string(port);
            closeListener();
            return false;
        }
        socklen_t length = sizeof addr;
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &length);
        port_ = ntohs(addr.sin_port);
        acceptThread_ = std::thread([this] { acceptLoop(); });
        return true;
    }

    int port() const { return port_; }
    bool stopping() const { return stopping_.load(); }
    // Connections accepted, and every byte sent on any of them (heads included), so far.
    int connectionsAccepted() const { return accepted_.load(); }
    long long bytesSent() const { return bytesSent_.load(); }

    // Waits until the server stops or `milliseconds` pass; true when it stops. For
    // handlers that stall on purpose.
    bool waitForStop(int milliseconds) {
        std::unique_lock<std::mutex> lock(mutex_);
        return stopCv_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                [this] { return stopping_.load(); });
    }

    // Stops accepting, cuts every open connection and joins all threads. Idempotent.
    void stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_.exchange(true) && !acceptThread_.joinable()) return;
            for (auto& c : connections_)
                if (c.fd >= 0) ::shutdown(c.fd, SHUT_RDWR);
        }
        stopCv_.notify_all();
        if (acceptThread_.joinable()) acceptThread_.join();
        std::list<Connection> finished;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            finished.splice(finished.end(), connections_);
        }
        for (auto& c : finished)
            if (c.thread.joinable()) c.thread.join();
        closeListener();
        if (ctx_) {
            SSL_CTX_free(ctx_);
            ctx_ = nullptr;
        }
    }

  private:
    struct Connection {
        int fd = -1;
        std::atomic<bool> done{false};
        std::thread thread;
    };

    void closeListener() {
        if (listenFd_ >= 0) ::close(listenFd_);
        listenFd_ = -1;
    }

    void acceptLoop() {
        while (!stopping_.load()) {
            pollfd p{listenFd_, POLLIN, 0};
            if (::poll(&p, 1, kAcceptPollMilliseconds) <= 0) {
                reapFinished();
                continue;
            }
            int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            // Head and body go out in separate writes; on a kept connection Nagle's
            // algorithm would hold the body back until the client's delayed ack.
            int noDelay = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_.load()) {
                ::close(fd);
                break;
            }
            accepted_.fetch_add(1);
            connections_.emplace_back();
            Connection& c = connections_.back();
            c.fd = fd;
            c.thread = std::thread([this, &c] { serve(c); });
        }
    }

    void reapFinished() {
        std::list<Connection> finished;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (auto it = connections_.begin(); it != connections_.end();) {
                auto next = std::next(it);
                if (it->done.load()) finished.splice(finished.end(), connections_, it);
                it = next;
            }
        }
        for (auto& c : finished)
            if (c.thread.joinable()) c.thread.join();
    }

    void serve(Connection& c) {
        SSL* ssl = nullptr;
        if (ctx_) {
            ssl = SSL_new(ctx_);
            SSL_set_fd(ssl, c.fd);
            if (!acceptTls(ssl, c.fd)) {
                ERR_clear_error();
                finish(c, ssl);
                return;
            }
        }
        Stream stream(c.fd, ssl, &bytesSent_);
        std::string pending; // bytes of the next request that arrived with this one
        for (;;) {
            Request request;
            const ReadResult got =
                stopping_.load() ? ReadResult::Closed : readRequest(stream, request, pending);
            if (got == ReadResult::TooLarge) {
                stream.beginAnswer(false);
                stream.sendResponse(413, "request body too large\n");
                char buffer[4096];
                long n;
                for (size_t drained = 0;
                     drained < kMaxDrainBytes && (n = stream.read(buffer, sizeof buffer)) > 0;)
                    drained += static_cast<size_t>(n);
            }
            if (got != ReadResult::Request) break;
            std::string connection = request.header("Connection");
            for (char& ch : connection)
                ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            stream.beginAnswer(request.version == "HTTP/1.1" &&
                               connection.find("close") == std::string::npos);
            handler_(request, stream);
            if (request.method == "HEAD") stream.headOnly();
            if (!stream.reusable()) break;
        }
        finish(c, ssl);
    }

    // The server side of the TLS handshake, on a non-blocking socket so that a client that
    // never sends (or never finishes) its part gives up its thread after
    // kHandshakeTimeoutMilliseconds. The socket is blocking again afterwards.
    static bool acceptTls(SSL* ssl, int fd) {
        const int flags = ::fcntl(fd, F_GETFL);
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kHandshakeTimeoutMilliseconds);
        bool done = false;
        for (;;) {
            const int result = SSL_accept(ssl);
            if (result == 1) {
                done = true;
                break;
            }
            const int error = SSL_get_error(ssl, result);
            const short events = error == SSL_ERROR_WANT_READ    ? POLLIN
                                 : error == SSL_ERROR_WANT_WRITE ? POLLOUT
                                                                 : 0;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            pollfd p{fd, events, 0};
            if (events == 0 || left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) break;
        }
        ::fcntl(fd, F_SETFL, flags);
        return done;
    }

    void finish(Connection& c, SSL* ssl) {
        if (ssl) {
            SSL_shutdown(ssl);
            SSL_free(ssl);
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ::shutdown(c.fd, SHUT_RDWR);
            ::close(c.fd);
            c.fd = -1;
        }
        c.done.store(true);
    }

    enum class ReadResult { Request, Closed, TooLarge };

    // Closed: the client hung up, went silent or sent no HTTP; TooLarge: its Content-Length
    // is above kMaxBodyBytes (the body is left unread).
    static ReadResult readRequest(Stream& stream, Request& out, std::string& pending) {
        std::string data;
        data.swap(pending);
        char buffer[4096];
        size_t headEnd;
        while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
            if (data.size() > kMaxHeadBytes) return ReadResult::Closed;
            long n = stream.read(buffer, sizeof buffer);
            if (n <= 0) return ReadResult::Closed;
            data.append(buffer, static_cast<size_t>(n));
        }
        std::string_view head(data.data(), headEnd);
        size_t lineEnd = head.find("\r\n");
        std::string_view first = head.substr(0, lineEnd);
        size_t s1 = first.find(' ');
        size_t s2 = s1 == std::string_view::npos ? s1 : first.find(' ', s1 + 1);
        if (s2 == std::string_view::npos) return ReadResult::Closed;
        out.method = std::string(first.substr(0, s1));
        out.target = std::string(first.substr(s1 + 1, s2 - s1 - 1));
        out.version = std::string(first.substr(s2 + 1));
        std::string_view rest =
            lineEnd == std::string_view::npos ? std::string_view() : head.substr(lineEnd + 2);
        while (!rest.empty()) {
            size_t end = rest.find("\r\n");
            std::string_view line = rest.substr(0, end);
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 2);
            size_t colon = line.find(':');
            if (colon == std::string_view::npos) continue;
            std::string_view value = line.substr(colon + 1);
            while (!value.empty() && value.front() == ' ')
                value.remove_prefix(1);
            out.headers.emplace_back(std::string(line.substr(0, colon)), std::string(value));
        }
        std::string_view target = out.target;
        size_t query = target.find('?');
        out.pathValid = percentDecode(target.substr(0, query), out.path);
        std::string lengthText = out.header("Content-Length");
        size_t length = lengthText.empty() ? 0 : std::strtoull(lengthText.c_str(), nullptr, 10);
        if (length > kMaxBodyBytes) return ReadResult::TooLarge;
        out.body = data.substr(headEnd + 4);
        while (out.body.size() < length) {
            long n = stream.read(buffer, sizeof buffer);
            if (n <= 0) return ReadResult::Closed;
            out.body.append(buffer, static_cast<size_t>(n));
        }
        pending = out.body.substr(length);
        out.body.resize(length);
        return ReadResult::Request;
    }

    Handler handler_;
    SSL_CTX* ctx_ = nullptr;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> accepted_{0};
    std::atomic<long long> bytesSent_{0};
    std::mutex mutex_;
    std::condition_variable stopCv_;
    std::thread acceptThread_;
    std::list<Connection> connections_;
};

} // namespace tinyhttp
