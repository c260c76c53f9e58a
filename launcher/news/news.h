// news.h - the news list: fed once by the feed (fetched on a detached thread, parsed on
// the main thread), or by the game server as long as the feed has given nothing.
//
// Index
//   ---- the list ----     NewsItem, NewsState, replaceNewsFromServer
//   ---- the feed ----     parseNewsFeed, startNewsFetch, pollNewsFeed, stopNewsFetch

#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

// ---- the list ----

struct NewsItem {
    std::string tag;   // drawn at the end of a headline row; the message text when body is empty
    std::string title; // banner caption, row text, message title
    std::string body;  // message text
};

struct NewsFetch; // the block a fetch thread shares with its owner (news.cpp)

// The news and the feed download; owned by the app's Launcher (a test makes its own).
// Main thread only; the fetch thread touches only the shared block.
struct NewsState {
    std::vector<NewsItem> items;
    bool fromFeed = false;            // the feed delivered items: server lists are ignored now
    std::shared_ptr<NewsFetch> fetch; // the running or finished fetch; null when none
    bool parsed = false;              // that fetch's result has been taken
};

// The game server's news answer: replaces the list, an empty answer empties it; ignored
// once the feed has delivered items.
void replaceNewsFromServer(NewsState& news, std::vector<NewsItem> items);

// ---- the feed ----

// Longest field a feed item keeps, in bytes: far more than any screen can show, so a
// feed cannot stall the window with a megabyte headline.
inline constexpr size_t kNewsTagMaxBytes = 256;
inline constexpr size_t kNewsTitleMaxBytes = 256;
inline constexpr size_t kNewsBodyMaxBytes = 4000;

// One item per line "tag|title|body" (LF or CR LF; the body may hold more bars; any field
// may be empty). Empty lines and lines with fewer than two bars, or a single bar at the
// end, are skipped. Each field is cut to its bound above (platform::cutAtCharBoundary).
// Pure; any thread.
std::vector<NewsItem> parseNewsFeed(std::string_view text);

// Start-up (main thread): fetches `address` (the "haber_adresi" value) on a detached
// thread; nothing when it is empty. A second start while one is pending is ignored. The
// thread shares only a reference-counted block (feed text, done flag, stop flag) with
// the main thread, so a launcher that exits mid-download never has the thread touching
// anything the exit destroys.
void startNewsFetch(NewsState& news, const std::string& address);

// Every frame (main thread): once the fetch has finished, parses the feed once. A feed
// with at least one item replaces the list for good; a failed or empty one changes
// nothing.
void pollNewsFeed(NewsState& news);

// True from a start until the poll has parsed the result.
bool newsFetchPending(const NewsState& news);

// Shutdown (main thread): asks a running fetch to stop and waits at most `maxWaitSeconds`
// for its thread to leave the HTTP library. Returns true when no fetch thread is left
// running. Safe to call when none was started.
bool stopNewsFetch(NewsState& news, double maxWaitSeconds = 2.0);
