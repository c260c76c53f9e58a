// news.h - the news list: fed once by the feed (background fetch, parsed on the main
// thread), or by the game server while the feed has given nothing.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct NewsItem {
    std::string tag;
    std::string title;
    std::string body;
};

// Main thread only.
std::vector<NewsItem>& newsList();
bool newsFromFeed();

// Lines "tag|title|body" (body may hold more bars); malformed lines are skipped.
std::vector<NewsItem> parseNewsFeed(std::string_view text);

// Start-up: fetch configGet("haber_adresi") on a detached thread (nothing when empty).
void startNewsFetch();
// Every frame: parses the feed once, when the fetch has finished.
void pollNewsFeed();
// The game server's news answer; ignored once the feed has delivered items.
void replaceNewsFromServer(std::vector<NewsItem> items);
