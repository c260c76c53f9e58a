// http_sinks.cpp - the download sinks, the same for the libcurl and the WinINet httpGet.
#include "net/http.h"

// ---- sinks ----

DownloadSink makeStringSink(std::string& out, size_t cap) {
    return [&out, cap](const uint8_t* bytes, uint32_t count) {
        out.append(reinterpret_cast<const char*>(bytes), count);
        return out.size() < cap;
    };
}
