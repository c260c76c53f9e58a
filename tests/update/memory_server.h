// memory_server.h - the update server kept in memory, for the update pass's rule tests: a
// map of URL -> answer that can misbehave as real servers do, every request recorded with
// the pass's state at that moment and every byte served counted; mirrors of it under
// other addresses; and a fixture that runs passes against it in a temporary game folder.
// (http_source_test.cpp shows the real source answering alike.)
#pragma once

#include "platform/platform.h"
#include "support/child_process.h"
#include "support/site.h"
#include "support/temp_folder.h"
#include "update/chunks.h"
#include "update/filelist.h"
#include "update/pass.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace updatetest {

using namespace testsupport;
using enum UpdateState;
namespace fs = std::filesystem;

inline const std::string kBase = "http://guncelleme.test/oyun/"; // never contacted
constexpr size_t kNever = SIZE_MAX;

struct Answer {
    std::string body;
    int status = 200;                       // other: "sunucu STATUS dondu" before any byte; 0: unreachable
    size_t cutAfter = kNever;               // the connection breaks after this many bytes (kErrRead)
    size_t stopAfter = kNever;              // the owner asks the pass to stop after this many bytes
    bool ignoreRange = false;               // a ranged request gets 200 with the whole file (a failure)
    bool wrongRangeBytes = false;           // a ranged answer is right but for its bytes, all flipped
    std::function<void()> before = nullptr; // runs before the answer starts: a slow server
};

struct Request {
    std::string path; // below the base, as sent (encoded)
    int64_t from;     // -1: the whole file
    int64_t length;   // of a range; -1: to the end
    UpdateState state;
};

class MemoryServer : public UpdateSource {
  public:
    explicit MemoryServer(UpdateStatus& status, std::string base = kBase)
        : base(std::move(base)), status_(status) {}

    const std::string base;
    std::map<std::string, Answer> answers; // by path below the base, as sent
    std::vector<Request> requests;
    int64_t bytesServed = 0; // every body byte handed to a sink

    // Serves `files` and their list, as a studio publishes them; with `indexed`, every
    // file of that size or more gets a chunk index and its "# parcalar" line.
    void publish(const SiteFiles& files, const std::string& version = "1.2.3", size_t indexed = kNever) {
        answers.clear();
        std::string list = siteList(files, version);
        for (const auto& [path, content] : files) {
            answers[urlEncodePath(path)] = {content};
            if (content.size() < indexed || content.empty()) continue;
            const std::string index =
                chunkIndexBytes(chunkBytes(content), static_cast<int64_t>(content.size()));
            const std::string name = referenceSha256(index);
            answers[std::string(kChunkIndexFolder) + "/" + name] = {index};
            list += chunkIndexLine(path, {name, static_cast<int64_t>(index.size())});
        }
        answers[kFileListName] = {list};
    }
    std::vector<int64_t> fetchesOf(const std::string& path) const {
        std::vector<int64_t> from;
        for (const Request& r : requests)
            if (r.path == path) from.push_back(r.from);
        return from;
    }

    bool fetch(const std::string& url, const HttpRange* range, const DownloadSink& sink,
               std::string& outError) override {
        const std::string path = url.substr(std::min(url.size(), base.size()));
        requests.push_back(
            {path, range ? range->from : -1, range ? range->length : -1, status_.state.load()});
        auto found = url.starts_with(base) ? answers.find(path) : answers.end();
        const Answer a = found == answers.end() ? Answer{"", 404} : found->second;
        if (a.before) a.before();
        const size_t from = range ? static_cast<size_t>(range->from) : 0;
        const size_t length = range && range->length >= 0 ? static_cast<size_t>(range->length) : kNever;
        int code = a.status;
        bool asked = code == 200 && !range;           // the answer the caller asked for
        if (range && code == 200 && !a.ignoreRange) { // a server that honours ranges
            code = from < a.body.size() && (length == kNever || length <= a.body.size() - from) ? 206 : 416;
            asked = code == 206 && range->total == static_cast<int64_t>(a.body.size());
        }
        if (!asked) {
            outError = code == 0 ? std::string(kErrConnect) : "sunucu " + std::to_string(code) + " dondu";
            return false;
        }
        std::string flipped;
        std::string_view body = std::string_view(a.body).substr(from, length);
        if (range && a.wrongRangeBytes) {
            flipped = std::string(body);
            for (char& c : flipped)
                c = static_cast<char>(~c);
            body = flipped;
        }
        for (size_t sent = 0;;) {
            if (sent >= a.stopAfter) status_.stopRequested = true;
            if (status_.stopRequested) return false; // a stop leaves the error text alone
            if (sent == body.size()) return true;
            if (sent >= a.cutAfter) {
                outError = kErrRead;
                return false;
            }
            const size_t n =
                std::min({kReadChunkBytes, body.size() - sent, a.cutAfter - sent, a.stopAfter - sent});
            bytesServed += static_cast<int64_t>(n);
            if (!sink(reinterpret_cast<const uint8_t*>(body.data() + sent), static_cast<uint32_t>(n))) {
                outError = kErrSink;
                return false;
            }
            sent += n;
        }
    }

  private:
    UpdateStatus& status_;
};

// Several servers under their own addresses: a request goes to the one whose address
// starts the URL; an address none has is unreachable.
class MirrorSet final : public UpdateSource {
  public:
    std::vector<MemoryServer*> servers;
    bool fetch(const std::string& url, const HttpRange* range, const DownloadSink& sink,
               std::string& outError) override {
        for (MemoryServer* server : servers)
            if (url.starts_with(server->base)) return server->fetch(url, range, sink, outError);
        outError = kErrConnect;
        return false;
    }
};

// Passes run on the test's thread, in a temporary game folder that is the working folder.
class PassTest : public ::testing::Test {
  protected:
    void SetUp() override {
        previousFolder = platform::fullPath(".");
        ASSERT_TRUE(platform::setWorkingFolder(game.path()));
    }
    void TearDown() override { platform::setWorkingFolder(previousFolder); }

    // One whole pass, as startUpdate would run it; the requests are this pass's only.
    UpdateState runPass(const std::string& launcherName = "MorlakenLauncher") {
        server.requests.clear();
        server.bytesServed = 0;
        status.stopRequested = false;
        runUpdatePass(status, server, kBase, launcherName);
        return status.state.load();
    }
    std::string errorText() const {
        std::string text;
        copyUpdateError(status, text);
        return text;
    }
    void emptyGameFolder() {
        for (const auto& entry : fs::directory_iterator(game.path()))
            fs::remove_all(entry.path());
    }
    UpdateCache cache() const { return loadUpdateCache(game / kUpdateCacheFile); }
    // The folder's files and empty folders ("name/"), sorted, one a line, but the update
    // lock, which every pass creates. Links are listed, never entered.
    std::string tree() const {
        std::vector<std::string> names;
        for (const fs::directory_entry& e : fs::recursive_directory_iterator(game.path())) {
            const bool folder = e.is_directory() && !e.is_symlink();
            const std::string name = e.path().lexically_relative(game.path()).generic_string();
            if ((!folder || fs::is_empty(e.path())) && name != platform::kFolderLockFile)
                names.push_back(name + (folder ? "/" : ""));
        }
        std::sort(names.begin(), names.end());
        std::string all;
        for (const std::string& name : names)
            all += name + "\n";
        return all;
    }

    UpdateStatus status;
    MemoryServer server{status};
    TempFolder game, outside; // the game folder, and one a planted link may point into
    std::string previousFolder;
};

} // namespace updatetest
