// news.cpp - the news list, the feed parse and the background feed fetch.
//
// Index
//   ---- the list ----        replaceNewsFromServer
//   ---- parsing ----         parseNewsFeed
//   ---- fetching ----        NewsFetch, startNewsFetch, pollNewsFeed, stopNewsFetch
//
// The fetch thread is detached and never joined. Everything it touches lives in one
// heap block that it co-owns through a shared_ptr (address, feed text, flags), so when
// the launcher exits while the feed is still downloading, the exit can destroy every
// static without pulling anything from under the thread. The shutdown raises the
// block's own stop flag so the transfer ends promptly, and waits a bounded time for
// the thread to leave the HTTP library.
#include "news/news.h"

#include "net/http.h"
#include "platform/lines.h"
#include "platform/text.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

// ---- tunables ----
namespace {
constexpr size_t kFeedCap = kNewsCap; // the sink refuses a feed once it would reach 1 MiB
} // namespace

// ---- the list ----

void replaceNewsFromServer(NewsState& news, std::vector<NewsItem> items) {
    if (news.fromFeed) return; // feed items are never replaced by the server
    news.items = std::move(items);
}

// ---- parsing ----

std::vector<NewsItem> parseNewsFeed(std::string_view text) {
    std::vector<NewsItem> out;
    platform::LineReader lines(text);
    std::string_view line;
    while (lines.next(line)) {
        const size_t p1 = line.find('|');
        if (line.empty() || p1 == std::string_view::npos) continue;
        if (p1 + 1 == line.size()) continue;
        const size_t p2 = line.find('|', p1 + 1);
        if (p2 == std::string_view::npos) continue;
        out.push_back(NewsItem{
            std::string(platform::cutAtCharBoundary(line.substr(0, p1), kNewsTagMaxBytes)),
            std::string(platform::cutAtCharBoundary(line.substr(p1 + 1, p2 - p1 - 1), kNewsTitleMaxBytes)),
            std::string(platform::cutAtCharBoundary(line.substr(p2 + 1), kNewsBodyMaxBytes))});
    }
    return out;
}

// ---- fetching ----

// Shared by the main thread and the fetch thread; freed by whichever lets go last.
struct NewsFetch {
    std::string address;
    std::string text;              // fetch thread until `done`, main thread after
    std::atomic<bool> done{false}; // written by the fetch thread, its last act on `text`
    std::atomic<bool> stop{false}; // written by the main thread at shutdown
    std::mutex exitMutex;          // guards `threadLeft`
    std::condition_variable exitCv;
    bool threadLeft = false; // the thread has left the HTTP library for good
};

namespace {
void fetchBody(std::shared_ptr<NewsFetch> shared) {
    std::string error;
    if (!shared->stop.load()) {
        const bool ok = httpGet(shared->address, makeStringSink(shared->text, kFeedCap), error, shared->stop);
        if (!ok) shared->text.clear(); // the error word is not shown to the player
    } else {
        shared->text.clear();
    }
    shared->done.exchange(true);
    {
        std::lock_guard<std::mutex> lock(shared->exitMutex);
        shared->threadLeft = true;
    }
    shared->exitCv.notify_all();
}
} // namespace

void startNewsFetch(NewsState& news, const std::string& address) {
    if (address.empty() || news.fetch) return;
    auto shared = std::make_shared<NewsFetch>();
    shared->address = address;
    news.fetch = shared;
    news.parsed = false;
    std::thread(fetchBody, std::move(shared)).detach();
}

void pollNewsFeed(NewsState& news) {
    if (!news.fetch || news.parsed || !news.fetch->done.load()) return;
    news.parsed = true;
    std::vector<NewsItem> items = parseNewsFeed(news.fetch->text);
    news.fetch.reset(); // the feed text goes with it
    if (items.empty()) return;
    news.items = std::move(items);
    news.fromFeed = true;
}

bool newsFetchPending(const NewsState& news) {
    return news.fetch != nullptr && !news.parsed;
}

bool stopNewsFetch(NewsState& news, double maxWaitSeconds) {
    if (!news.fetch) return true;
    std::shared_ptr<NewsFetch> shared = news.fetch;
    shared->stop.store(true);
    std::unique_lock<std::mutex> lock(shared->exitMutex);
    return shared->exitCv.wait_for(lock, std::chrono::duration<double>(maxWaitSeconds),
                                   [&] { return shared->threadLeft; });
}
