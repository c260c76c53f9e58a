// chunk_index_fuzz.cpp - a patched file's chunk index, and the list's "# parcalar" lines
// that name an index.
//
// Properties: an accepted index covers its file exactly, in order, without gaps or overlap,
// every chunk within the bounds (all but the last at least the minimum); written back it
// gives the same bytes. Every index line taken names a 64-digit lowercase hash and a size
// within the bounds, and written back as a line it is read back the same.
#include "fuzz_check.h"
#include "update/chunks.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    ChunkIndex index;
    if (parseChunkIndex(bytes, index)) {
        int64_t at = 0;
        for (size_t i = 0; i < index.chunks.size(); ++i) {
            const Chunk& c = index.chunks[i];
            FUZZ_CHECK(c.offset == at);
            FUZZ_CHECK(c.length >= 1 && c.length <= kChunkMaxBytes);
            FUZZ_CHECK(i + 1 == index.chunks.size() || c.length >= kChunkMinBytes);
            at += c.length;
        }
        FUZZ_CHECK(at == index.fileSize);
        FUZZ_CHECK(chunkIndexBytes(index.chunks, index.fileSize) == bytes);
    }

    for (const auto& [path, ref] : readChunkIndexLines(bytes)) {
        FUZZ_CHECK(ref.hash.size() == 64 &&
                   ref.hash.find_first_not_of("0123456789abcdef") == std::string::npos);
        FUZZ_CHECK(ref.size >= int64_t(kChunkIndexHeaderBytes) && ref.size <= int64_t(kChunkIndexCap));
        FUZZ_CHECK(!path.empty() && path.find('\n') == std::string::npos);
        // CR LF, so a path that itself ends in a carriage return keeps it when read back.
        std::string line = chunkIndexLine(path, ref);
        line.insert(line.size() - 1, "\r");
        const auto again = readChunkIndexLines(line);
        FUZZ_CHECK(again.size() == 1 && again.begin()->first == path &&
                   again.begin()->second.hash == ref.hash && again.begin()->second.size == ref.size);
    }
    return 0;
}
