// chunks.h - large files cut at content-defined boundaries, the published index of a file's
// chunks, and the list's comment lines that name each index.
//
// A patch that changes a few places of a large archive changes a few chunks only: the
// boundaries follow the content (a rolling gear hash over the last 64 bytes), so bytes
// inserted or removed near the start shift the boundaries by as much and no more. The
// launcher builds the new file from the chunks its old copy already has and fetches the
// rest with range requests (download.cpp); morlaken-publish writes the indexes.
//
// Index
//   ---- tunables ----
//   ---- cutting ----          ChunkCutter
//   ---- chunking a file ----  Chunk, chunkFile
//   ---- the index ----        ChunkIndex, chunkIndexBytes, parseChunkIndex
//   ---- list lines ----       ChunkIndexRef, chunkIndexLine, readChunkIndexLines
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// ---- tunables ----

// Every chunk but a file's last is at least kChunkMinBytes and at most kChunkMaxBytes long;
// past the minimum a boundary falls on average every kChunkSpreadBytes, so chunks average
// near 64 KiB. Changing any of these changes every index: kChunkIndexVersion goes up.
inline constexpr int64_t kChunkMinBytes = 16 * 1024;
inline constexpr int64_t kChunkMaxBytes = 256 * 1024;
inline constexpr int64_t kChunkSpreadBytes = 48 * 1024;
inline constexpr uint32_t kChunkIndexVersion = 1;
// morlaken-publish indexes every listed file at least this large.
inline constexpr int64_t kIndexedFileMinBytes = 4 * 1024 * 1024;
// An index is fetched into memory: never more than this (a file of some 100 GiB).
inline constexpr size_t kChunkIndexCap = 64 * 1024 * 1024;
// Published indexes live in this top-level folder beside the list, each named by the
// lowercase hex SHA-256 of its own bytes, so an unchanged file keeps its index (and its
// address) from one publication to the next.
inline constexpr const char* kChunkIndexFolder = "dosyalar.parcalar";
// "# parcalar SHA256 SIZE PATH": the index of the listed file PATH. A comment line, so
// every list reader that predates indexes skips it; a signature covers it like any line.
inline constexpr std::string_view kChunkIndexLinePrefix = "# parcalar ";

// ---- cutting ----

// Finds chunk boundaries in a byte stream handed over in pieces of any size; the same
// bytes give the same boundaries however they are split. Pure; one thread at a time.
class ChunkCutter {
  public:
    // Takes bytes of the current chunk from `data` (`count` > 0) and returns how many; when
    // `outCut` is set the chunk ends after them and the next call starts a new one.
    // The last chunk of a stream ends with the stream (it may be short).
    size_t next(const uint8_t* data, size_t count, bool& outCut);
    // Starts over, as at the start of a stream.
    void reset() {
        length_ = 0;
        hash_ = 0;
    }

  private:
    int64_t length_ = 0; // bytes of the current chunk so far
    uint64_t hash_ = 0;  // gear hash since kChunkMinBytes into the chunk
};

// ---- chunking a file ----

using ChunkHash = std::array<uint8_t, 32>; // SHA-256

struct Chunk {
    int64_t offset = 0;
    int64_t length = 0;
    ChunkHash hash{};
};

// Cuts the file at `path` into chunks and hashes each, on two threads (the calling one
// reads and cuts, a second hashes), so the whole runs at about the speed of hashing
// alone. With `wholeHash` (a reset context) the calling thread also feeds it every byte.
// False when the file cannot be read to its end or `cancel` is set; `outChunks` then
// holds what was done. Any thread.
struct Sha256;
bool chunkFile(const std::string& path, std::vector<Chunk>& outChunks, const std::atomic<bool>& cancel,
               Sha256* wholeHash = nullptr);
// The same for bytes in memory (one thread).
std::vector<Chunk> chunkBytes(std::string_view bytes);

// ---- the index ----

// The index as published: "MRKPARCA", then little-endian u32 version, u32 chunk count,
// u64 file size; then per chunk in file order a u32 length and its 32-byte SHA-256. The
// offsets are the running sum of the lengths, so an index covers its file exactly, in
// order, without gaps or overlap by construction.
struct ChunkIndex {
    int64_t fileSize = 0;
    std::vector<Chunk> chunks; // offsets filled in by the parser
};
inline constexpr size_t kChunkIndexHeaderBytes = 24;
inline constexpr size_t kChunkIndexEntryBytes = 36;

std::string chunkIndexBytes(const std::vector<Chunk>& chunks, int64_t fileSize);
// Strict: the magic and version, a size of exactly header + count entries (count capped by
// kChunkIndexCap), every length within 1..kChunkMaxBytes and every one but the last at
// least kChunkMinBytes, the lengths summing to the file size. False, `out` unspecified,
// otherwise. Pure; fuzzed.
bool parseChunkIndex(std::string_view bytes, ChunkIndex& out);

// ---- list lines ----

struct ChunkIndexRef {
    std::string hash; // 64 lowercase hex digits: the index's SHA-256, its name in the folder
    int64_t size = 0; // the index's size in bytes
};

// "# parcalar HASH SIZE PATH" LF.
std::string chunkIndexLine(const std::string& path, const ChunkIndexRef& ref);
// Every well-formed "# parcalar" line of a list body, by path (a later line for a path
// replaces an earlier one). Malformed ones are skipped: their file is then fetched whole.
// Pure; any thread.
std::map<std::string, ChunkIndexRef> readChunkIndexLines(std::string_view body);
