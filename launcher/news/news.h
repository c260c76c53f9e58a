// news.h - the news list: fed once by the feed (fetched on a detached thread, parsed on
// the main thread), or by the game server as long as the feed has given nothing.
//
// Index
//   ---- the list ----     NewsItem, newsList, newsFromFeed, replaceNewsFromServer
//   ---- the feed ----     parseNewsFeed, startNewsFetch, pollNewsFeed, stopNewsFetch
#pragma once

#include <string>
#include <string_view>
#include <vector>

// ---- the list ----

struct NewsItem {
    std::string tag;   // drawn at the end of a headline row; the message text when body is empty
    std::string title; // banner caption, row text, message title
    std::string body;  // message text
};

// Main thread only.
std::vector<NewsItem>& newsList();
// True once the feed has delivered at least one item; server lists are ignored from then on.
bool newsFromFeed();

// The game server's news answer (main thread): replaces the list, an empty answer
// empties it; ignored once the feed has delivered items.
void replaceNewsFromServer(std::vector<NewsItem> items);

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

// Start-up (main thread): fetches configGet("haber_adresi") on a detached thread; nothing
// when the value is empty. The thread shares only a reference-counted block (feed text,
// done flag, stop flag) with the main thread, so a launcher that exits mid-download
// never has the thread touching anything the exit destroys.
void startNewsFetch();
// Same with an explicit address (empty: nothing). A second start while one is pending
// is ignored.
void startNewsFetchFrom(const std::string& address);

// Every frame (main thread): once the fetch has finished, parses the feed once. A feed
// with at least one item replaces the list for good; a failed or empty one changes
// nothing.
void pollNewsFeed();

// True from a start until the poll has parsed the result.
bool newsFetchPending();

// Shutdown (main thread): asks a running fetch to stop and waits at most `maxWaitSeconds`
// for its thread to leave the HTTP library. Returns true when no fetch thread is left
// running. Safe to call when none was started.
bool stopNewsFetch(double maxWaitSeconds = 2.0);

// Tests only: forgets the list, the feed flag and any finished fetch.
void resetNewsForTests();
