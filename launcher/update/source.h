// source.h - where an update pass gets its bytes: the update server's list and files.
//
// A pass asks the network for nothing else, so this is the one seam between the pass's
// rules and the outside: the product fetches over HTTP(S) (HttpUpdateSource), the tests
// from answers kept in memory that can misbehave on purpose. The game folder is the
// working folder and is reached through the platform layer in either case.
#pragma once

#include "net/http.h"

#include <atomic>
#include <string>

class UpdateSource {
  public:
    virtual ~UpdateSource() = default;

    // Fetches `url` (complete and encoded by the caller) into `sink`, in chunks of at most
    // kReadChunkBytes: the whole body, or with `range` the bytes from range->from of a file
    // of range->total bytes. httpGet's contract: true only when the whole answer arrived
    // (status 200; with a range exactly that range, otherwise nothing reaches the sink),
    // every chunk was accepted and no stop was requested. False otherwise, with `outError`
    // set to one of net's error words ("sunucu 404 dondu", kErrRead, kErrSink, ...), or
    // left as it was when the pass's stop request ended the transfer. Worker thread only.
    virtual bool fetch(const std::string& url, const HttpRange* range, const DownloadSink& sink,
                       std::string& outError) = 0;
};

// The product's source: httpGet over one HttpSession for the whole pass (one connection
// and one TLS handshake for the list and every file), ended promptly by `stop`, which must
// outlive the source.
class HttpUpdateSource final : public UpdateSource {
  public:
    explicit HttpUpdateSource(const std::atomic<bool>& stop) : stop_(stop) {}
    bool fetch(const std::string& url, const HttpRange* range, const DownloadSink& sink,
               std::string& outError) override {
        return httpGet(url, sink, outError, stop_, &session_, range);
    }

  private:
    const std::atomic<bool>& stop_;
    HttpSession session_;
};
