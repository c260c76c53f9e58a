// chunker_fuzz.cpp - content-defined chunk boundaries.
//
// Properties: the same bytes give the same boundaries however they are handed over (the
// first input byte chooses the piece size); every chunk but the last is within the bounds
// and the last is not longer than the maximum; the chunks cover the input exactly; bytes
// put in front of the input leave the boundaries past the first one after them unchanged
// once the two cuts meet (content-defined: they resynchronise).
#include "fuzz_check.h"
#include "update/chunks.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

std::vector<int64_t> cutsInPieces(std::string_view bytes, size_t piece) {
    std::vector<int64_t> cuts;
    ChunkCutter cutter;
    for (size_t at = 0; at < bytes.size();) {
        bool cut = false;
        const size_t n = std::min(piece, bytes.size() - at);
        at += cutter.next(reinterpret_cast<const uint8_t*>(bytes.data() + at), n, cut);
        if (cut) cuts.push_back(int64_t(at));
    }
    if (cuts.empty() || cuts.back() != int64_t(bytes.size())) cuts.push_back(int64_t(bytes.size()));
    return cuts;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    // Short inputs are stretched, so boundaries past the minimum chunk are reached.
    std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    const size_t repeat = (data[0] & 0x0f) + 1;
    std::string input;
    const size_t copies = bytes.empty() ? 0 : std::min(repeat * 64, (size_t(1) << 20) / bytes.size() + 1);
    for (size_t i = 0; i < copies; ++i)
        for (size_t j = 0; j < bytes.size(); ++j)
            input.push_back(static_cast<char>(bytes[j] + static_cast<char>(i * 31 + j / 7)));
    const std::vector<Chunk> chunks = chunkBytes(input);
    std::vector<int64_t> ends;
    int64_t at = 0;
    for (size_t i = 0; i < chunks.size(); ++i) {
        FUZZ_CHECK(chunks[i].offset == at);
        FUZZ_CHECK(chunks[i].length >= 1 && chunks[i].length <= kChunkMaxBytes);
        FUZZ_CHECK(i + 1 == chunks.size() || chunks[i].length >= kChunkMinBytes);
        at += chunks[i].length;
        ends.push_back(at);
    }
    FUZZ_CHECK(at == int64_t(input.size()));
    if (input.empty()) return 0;
    const size_t piece = 1 + (size_t(data[0]) * 977) % 70000;
    FUZZ_CHECK(cutsInPieces(input, piece) == ends);

    const std::string shifted = std::string(1 + data[0] % 200, 'x') + input;
    const std::vector<int64_t> later = cutsInPieces(shifted, 65536);
    const int64_t shift = int64_t(shifted.size() - input.size());
    // From the first boundary both cuttings share, every later one is shared too.
    auto meet = std::find_if(ends.begin(), ends.end(), [&](int64_t end) {
        return std::binary_search(later.begin(), later.end(), end + shift);
    });
    for (auto it = meet; it != ends.end(); ++it)
        FUZZ_CHECK(std::binary_search(later.begin(), later.end(), *it + shift));
    return 0;
}
