// http_sinks.cpp - the download sinks and the range texts, the same for the libcurl and
// the WinINet httpGet.
#include "net/http.h"

// ---- sinks ----

DownloadSink makeStringSink(std::string& out, size_t cap) {
    return [&out, cap](const uint8_t* bytes, uint32_t count) {
        out.append(reinterpret_cast<const char*>(bytes), count);
        return out.size() < cap;
    };
}

// ---- ranges ----

std::string rangeRequestText(const HttpRange& range) {
    return std::to_string(range.from) + "-" +
           (range.length < 0 ? std::string() : std::to_string(range.last()));
}

std::string rangeAnswerText(const HttpRange& range) {
    return "bytes " + std::to_string(range.from) + "-" + std::to_string(range.last()) + "/" +
           std::to_string(range.total);
}
