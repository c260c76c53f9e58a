// http_sinks.cpp - the download sinks, the same for the libcurl and the WinINet httpGet.
#include "update/http.h"

// ---- sinks ----

DownloadSink makeStringSink(std::string& out, size_t cap) {
    return [&out, cap](const uint8_t* bytes, uint32_t count) {
        out.append(reinterpret_cast<const char*>(bytes), count);
        return out.size() < cap;
    };
}

DownloadSink makeFileHashSink(Sha256& hash, int64_t& fileBytes, std::ostream& out, int64_t expectedSize,
                              std::atomic<int64_t>& byteCounter) {
    return [&hash, &fileBytes, &out, expectedSize, &byteCounter](const uint8_t* bytes, uint32_t count) {
        hash.update(bytes, count);
        fileBytes += count;
        byteCounter.fetch_add(count);
        // Bytes past the listed size are counted (the caller reports the file as broken)
        // but never written: an endless body must not fill the player's disk.
        if (expectedSize >= 0 && fileBytes > expectedSize) return false;
        out.write(reinterpret_cast<const char*>(bytes), count);
        return !out.fail();
    };
}
