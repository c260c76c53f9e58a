// chunks.cpp - content-defined chunks, the chunk index and its list lines (chunks.h).
//
// Index
//   ---- tunables ----
//   ---- the gear table ----
//   ---- cutting ----
//   ---- chunking a file ----   BlockQueue, chunkFile, chunkBytes
//   ---- the index ----
//   ---- list lines ----
#include "update/chunks.h"

#include "platform/lines.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "update/sha256.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace {

// ---- tunables ----

constexpr size_t kBlockBytes = 1024 * 1024; // read and handed to the hashing thread at a time
constexpr size_t kBlocksInFlight = 6;       // blocks read ahead of the hashing thread
constexpr uint64_t kGearSeed = 0x6d6f726c616b656eull;
constexpr char kIndexMagic[8] = {'M', 'R', 'K', 'P', 'A', 'R', 'C', 'A'};

// ---- the gear table ----

// 256 fixed 64-bit values from splitmix64: the same on every platform and compiler.
constexpr std::array<uint64_t, 256> makeGearTable() {
    std::array<uint64_t, 256> table{};
    uint64_t state = kGearSeed;
    for (uint64_t& value : table) {
        state += 0x9e3779b97f4a7c15ull;
        uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        value = z ^ (z >> 31);
    }
    return table;
}
constexpr std::array<uint64_t, 256> kGear = makeGearTable();
// A boundary where the hash is below this: one chance in kChunkSpreadBytes per byte.
constexpr uint64_t kBoundaryBelow = UINT64_MAX / static_cast<uint64_t>(kChunkSpreadBytes);

} // namespace

// ---- cutting ----

size_t ChunkCutter::next(const uint8_t* data, size_t count, bool& outCut) {
    outCut = false;
    size_t used = 0;
    if (length_ < kChunkMinBytes) { // the first bytes of a chunk can hold no boundary
        used = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(count), kChunkMinBytes - length_));
        length_ += static_cast<int64_t>(used);
        if (length_ < kChunkMinBytes) return used;
    }
    const size_t room =
        static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(count - used), kChunkMaxBytes - length_));
    uint64_t hash = hash_;
    const uint8_t* p = data + used;
    for (size_t i = 0; i < room; ++i) {
        hash = (hash << 1) + kGear[p[i]];
        if (hash < kBoundaryBelow) {
            used += i + 1;
            reset();
            outCut = true;
            return used;
        }
    }
    used += room;
    length_ += static_cast<int64_t>(room);
    hash_ = hash;
    if (length_ == kChunkMaxBytes) {
        reset();
        outCut = true;
    }
    return used;
}

// ---- chunking a file ----
namespace {

// A block read from the file, with the chunk ends that fall inside it.
struct Block {
    std::unique_ptr<uint8_t[]> bytes{new uint8_t[kBlockBytes]};
    size_t size = 0;
    std::vector<size_t> cuts; // positions after which a chunk ends
    bool last = false;        // the file ends with this block (its tail ends a chunk)
};

// Hands blocks between the two threads: full ones to the hasher, empty ones back.
class BlockQueue {
  public:
    void push(Block* block) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            items_.push_back(block);
        }
        cue_.notify_one();
    }
    Block* pop() {
        std::unique_lock<std::mutex> lock(mutex_);
        cue_.wait(lock, [this] { return !items_.empty(); });
        Block* block = items_.front();
        items_.pop_front();
        return block;
    }

  private:
    std::mutex mutex_;
    std::condition_variable cue_;
    std::deque<Block*> items_;
};

// The hashing side: every chunk's SHA-256 from the blocks in order, until the last one
// (or a null block: the reader gave up).
void hashBlocks(BlockQueue& full, BlockQueue& empty, std::vector<Chunk>& outChunks) {
    Sha256 hash;
    int64_t offset = 0, start = 0;
    for (;;) {
        Block* block = full.pop();
        if (!block) return;
        size_t from = 0;
        for (size_t cut : block->cuts) {
            hash.update(block->bytes.get() + from, cut - from);
            Chunk chunk;
            chunk.offset = start;
            chunk.length = offset + static_cast<int64_t>(cut) - start;
            const std::vector<uint8_t> digest = hash.finish();
            std::copy(digest.begin(), digest.end(), chunk.hash.begin());
            outChunks.push_back(chunk);
            hash.reset();
            start += chunk.length;
            from = cut;
        }
        hash.update(block->bytes.get() + from, block->size - from);
        offset += static_cast<int64_t>(block->size);
        const bool last = block->last;
        empty.push(block);
        if (last) return;
    }
}

} // namespace

bool chunkFile(const std::string& path, std::vector<Chunk>& outChunks, const std::atomic<bool>& cancel,
               Sha256* wholeHash) {
    outChunks.clear();
    std::FILE* in = platform::openForReading(path);
    if (!in) return false;
    std::setvbuf(in, nullptr, _IONBF, 0);
    std::vector<Block> blocks(kBlocksInFlight);
    BlockQueue full, empty;
    for (Block& block : blocks)
        empty.push(&block);
    std::thread hasher(hashBlocks, std::ref(full), std::ref(empty), std::ref(outChunks));
    ChunkCutter cutter;
    bool good = true, pending = false; // pending: bytes of an unfinished chunk were read
    for (;;) {
        Block* block = empty.pop();
        block->size = std::fread(block->bytes.get(), 1, kBlockBytes, in);
        block->cuts.clear();
        block->last = block->size < kBlockBytes;
        if (block->last && std::ferror(in)) good = false;
        if (cancel.load()) good = false;
        if (!good) {
            full.push(nullptr);
            break;
        }
        if (wholeHash) wholeHash->update(block->bytes.get(), block->size);
        for (size_t at = 0; at < block->size;) {
            bool cut = false;
            at += cutter.next(block->bytes.get() + at, block->size - at, cut);
            pending = !cut;
            if (cut) block->cuts.push_back(at);
        }
        if (block->last && pending) block->cuts.push_back(block->size);
        full.push(block);
        if (block->last) break;
    }
    hasher.join();
    std::fclose(in);
    return good;
}

std::vector<Chunk> chunkBytes(std::string_view bytes) {
    std::vector<Chunk> chunks;
    ChunkCutter cutter;
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    int64_t start = 0;
    for (size_t at = 0; at < bytes.size();) {
        bool cut = false;
        at += cutter.next(data + at, bytes.size() - at, cut);
        if (cut || at == bytes.size()) {
            Chunk chunk;
            chunk.offset = start;
            chunk.length = static_cast<int64_t>(at) - start;
            Sha256 hash;
            hash.update(data + start, static_cast<size_t>(chunk.length));
            const std::vector<uint8_t> digest = hash.finish();
            std::copy(digest.begin(), digest.end(), chunk.hash.begin());
            chunks.push_back(chunk);
            start = static_cast<int64_t>(at);
        }
    }
    return chunks;
}

// ---- the index ----
namespace {

void putLittle(std::string& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}
uint64_t getLittle(const char* p, int bytes) {
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | static_cast<uint8_t>(p[i]);
    return value;
}

} // namespace

std::string chunkIndexBytes(const std::vector<Chunk>& chunks, int64_t fileSize) {
    std::string out(kIndexMagic, sizeof kIndexMagic);
    out.reserve(kChunkIndexHeaderBytes + chunks.size() * kChunkIndexEntryBytes);
    putLittle(out, kChunkIndexVersion, 4);
    putLittle(out, chunks.size(), 4);
    putLittle(out, static_cast<uint64_t>(fileSize), 8);
    for (const Chunk& chunk : chunks) {
        putLittle(out, static_cast<uint64_t>(chunk.length), 4);
        out.append(reinterpret_cast<const char*>(chunk.hash.data()), chunk.hash.size());
    }
    return out;
}

bool parseChunkIndex(std::string_view bytes, ChunkIndex& out) {
    constexpr size_t kMaxChunks = (kChunkIndexCap - kChunkIndexHeaderBytes) / kChunkIndexEntryBytes;
    if (bytes.size() < kChunkIndexHeaderBytes || bytes.size() > kChunkIndexCap ||
        std::memcmp(bytes.data(), kIndexMagic, sizeof kIndexMagic) != 0 ||
        getLittle(bytes.data() + 8, 4) != kChunkIndexVersion)
        return false;
    const uint64_t count = getLittle(bytes.data() + 12, 4);
    const uint64_t fileSize = getLittle(bytes.data() + 16, 8);
    if (count > kMaxChunks || bytes.size() != kChunkIndexHeaderBytes + count * kChunkIndexEntryBytes ||
        fileSize > static_cast<uint64_t>(count) * kChunkMaxBytes)
        return false;
    out.fileSize = static_cast<int64_t>(fileSize);
    out.chunks.clear();
    out.chunks.reserve(count);
    int64_t offset = 0;
    const char* p = bytes.data() + kChunkIndexHeaderBytes;
    for (uint64_t i = 0; i < count; ++i, p += kChunkIndexEntryBytes) {
        const int64_t length = static_cast<int64_t>(getLittle(p, 4));
        if (length < 1 || length > kChunkMaxBytes || (i + 1 < count && length < kChunkMinBytes)) return false;
        Chunk chunk;
        chunk.offset = offset;
        chunk.length = length;
        std::memcpy(chunk.hash.data(), p + 4, chunk.hash.size());
        out.chunks.push_back(chunk);
        offset += length;
    }
    return offset == out.fileSize;
}

// ---- list lines ----

std::string chunkIndexLine(const std::string& path, const ChunkIndexRef& ref) {
    return std::string(kChunkIndexLinePrefix) + ref.hash + " " + std::to_string(ref.size) + " " + path + "\n";
}

std::map<std::string, ChunkIndexRef> readChunkIndexLines(std::string_view body) {
    std::map<std::string, ChunkIndexRef> refs;
    platform::LineReader lines(body);
    std::string_view line;
    while (lines.next(line)) {
        if (!line.starts_with(kChunkIndexLinePrefix)) continue;
        line.remove_prefix(kChunkIndexLinePrefix.size());
        const size_t p1 = line.find(' ');
        const size_t p2 = p1 == std::string_view::npos ? p1 : line.find(' ', p1 + 1);
        if (p2 == std::string_view::npos || p1 != 64 || p2 + 1 >= line.size()) continue;
        const std::string_view hash = line.substr(0, p1), size = line.substr(p1 + 1, p2 - p1 - 1);
        if (hash.find_first_not_of("0123456789abcdef") != std::string_view::npos || size.empty() ||
            size.size() > 9 || size.find_first_not_of("0123456789") != std::string_view::npos)
            continue;
        const int64_t bytes = std::stoll(std::string(size));
        if (bytes < static_cast<int64_t>(kChunkIndexHeaderBytes) ||
            bytes > static_cast<int64_t>(kChunkIndexCap))
            continue;
        refs[std::string(line.substr(p2 + 1))] = ChunkIndexRef{std::string(hash), bytes};
    }
    return refs;
}
