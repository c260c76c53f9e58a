// chunks_test.cpp - content-defined chunks: the same bytes are cut the same way however they
// arrive, within the bounds, and an edit disturbs only the chunks around it; the index as
// published and its strict reader; the list's index lines are comments to every list reader
// and covered by a signature like any line.
#include "support/site.h"
#include "support/temp_folder.h"
#include "update/chunks.h"
#include "update/filelist.h"
#include "update/sha256.h"
#include "update/signature.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using namespace testsupport;

// Chunks that cover `size` bytes exactly, in order, each within the bounds.
::testing::AssertionResult wellFormed(const std::vector<Chunk>& chunks, int64_t size) {
    int64_t at = 0;
    for (size_t i = 0; i < chunks.size(); ++i) {
        const Chunk& c = chunks[i];
        if (c.offset != at || c.length < 1 || c.length > kChunkMaxBytes ||
            (i + 1 < chunks.size() && c.length < kChunkMinBytes))
            return ::testing::AssertionFailure() << "chunk " << i << " at " << c.offset << ", " << c.length;
        at += c.length;
    }
    if (at != size) return ::testing::AssertionFailure() << "covers " << at << " of " << size;
    return ::testing::AssertionSuccess();
}

std::vector<int64_t> ends(const std::vector<Chunk>& chunks) {
    std::vector<int64_t> out;
    for (const Chunk& c : chunks)
        out.push_back(c.offset + c.length);
    return out;
}

// ---- cutting ----

// Random bytes, a long run of zeros (no boundary: cut at the maximum) and a file that ends
// exactly on a read block; pieces of any size, the two-thread file reader and the
// one-thread one agree, and the file reader's whole-file digest is the file's.
TEST(Chunks, TheSameBytesGiveTheSameBoundariesWithinTheBounds) {
    const std::string data =
        patternBytes(3 << 20, 1) + std::string(600 << 10, '\0') + patternBytes(100001, 2);
    const std::vector<Chunk> whole = chunkBytes(data);
    EXPECT_TRUE(wellFormed(whole, int64_t(data.size())));
    const int64_t average = int64_t(3 << 20) / int64_t(ends(whole).size());
    EXPECT_GT(average, 40 << 10);
    EXPECT_LT(average, 100 << 10);
    int atMaximum = 0;
    for (const Chunk& c : whole)
        atMaximum += c.length == kChunkMaxBytes;
    EXPECT_GE(atMaximum, 2); // the zeros

    for (size_t piece : {size_t(7), size_t(4096), size_t(65539), size_t(1) << 20}) {
        ChunkCutter cutter;
        std::vector<int64_t> cuts;
        for (size_t at = 0; at < data.size();) {
            const size_t n = std::min(piece, data.size() - at);
            for (size_t used = 0; used < n;) {
                bool cut = false;
                used += cutter.next(reinterpret_cast<const uint8_t*>(data.data() + at + used), n - used, cut);
                if (cut) cuts.push_back(int64_t(at + used));
            }
            at += n;
        }
        if (cuts.empty() || cuts.back() != int64_t(data.size())) cuts.push_back(int64_t(data.size()));
        EXPECT_EQ(cuts, ends(whole)) << "pieces of " << piece;
    }

    TempFolder folder;
    for (const std::string& content : {data, data.substr(0, 2 << 20), std::string()}) {
        writeFile(folder / "f", content);
        std::vector<Chunk> chunks;
        Sha256 hash;
        const std::atomic<bool> never{false};
        ASSERT_TRUE(chunkFile(folder / "f", chunks, never, &hash));
        const std::vector<Chunk> expected = chunkBytes(content);
        ASSERT_EQ(chunks.size(), expected.size());
        for (size_t i = 0; i < chunks.size(); ++i)
            EXPECT_TRUE(chunks[i].offset == expected[i].offset && chunks[i].length == expected[i].length &&
                        chunks[i].hash == expected[i].hash)
                << i;
        EXPECT_EQ(platform::toHex(hash.finish()), referenceSha256(content));
    }
    std::vector<Chunk> none;
    EXPECT_FALSE(chunkFile(folder / "missing", none, std::atomic<bool>{false}));
    EXPECT_FALSE(chunkFile(folder / "f", none, std::atomic<bool>{true})); // cancelled
}

// Bytes inserted or removed shift the boundaries after them by as much: only the chunks
// around each edit are new.
TEST(Chunks, AnEditChangesOnlyTheChunksAroundIt) {
    const std::string old = patternBytes(6 << 20, 3);
    std::string edited = old;
    edited.insert(1 << 20, patternBytes(100, 4));
    edited.erase(3 << 20, 5000);
    edited[5 << 20] ^= 1;
    std::set<ChunkHash> had;
    for (const Chunk& c : chunkBytes(old))
        had.insert(c.hash);
    int fresh = 0;
    for (const Chunk& c : chunkBytes(edited))
        fresh += had.count(c.hash) == 0;
    EXPECT_GE(fresh, 3);
    EXPECT_LE(fresh, 3 * 2);
}

// ---- the index ----

TEST(ChunkIndex, ReadsBackWhatIsWrittenAndNothingElse) {
    const std::string data = patternBytes(1 << 20, 5);
    const std::vector<Chunk> chunks = chunkBytes(data);
    const std::string bytes = chunkIndexBytes(chunks, int64_t(data.size()));
    ASSERT_EQ(bytes.size(), kChunkIndexHeaderBytes + chunks.size() * kChunkIndexEntryBytes);
    ChunkIndex index;
    ASSERT_TRUE(parseChunkIndex(bytes, index));
    EXPECT_EQ(index.fileSize, int64_t(data.size()));
    ASSERT_EQ(index.chunks.size(), chunks.size());
    for (size_t i = 0; i < chunks.size(); ++i)
        EXPECT_TRUE(index.chunks[i].offset == chunks[i].offset &&
                    index.chunks[i].length == chunks[i].length && index.chunks[i].hash == chunks[i].hash);
    EXPECT_TRUE(parseChunkIndex(chunkIndexBytes({}, 0), index));
    EXPECT_TRUE(index.chunks.empty());

    // One chunk of `length` bytes then the rest as they were, the file size kept true.
    auto firstChunkOf = [&](int64_t length) {
        std::vector<Chunk> changed = chunks;
        const int64_t size = int64_t(data.size()) - chunks[0].length + length;
        changed[0].length = length;
        return chunkIndexBytes(changed, size);
    };
    auto patched = [&](size_t at, char value) {
        std::string b = bytes;
        b[at] = value;
        return b;
    };
    const struct {
        const char* name;
        std::string bytes;
    } damaged[] = {
        {"empty", ""},
        {"header only, cut", bytes.substr(0, kChunkIndexHeaderBytes - 1)},
        {"magic", patched(0, 'm')},
        {"version", patched(8, 2)},
        {"one chunk more counted", patched(12, char(bytes[12] + 1))},
        {"a byte more", bytes + "x"},
        {"a byte less", bytes.substr(0, bytes.size() - 1)},
        {"file size one more", patched(16, char(bytes[16] + 1))},
        {"a chunk below the minimum", firstChunkOf(kChunkMinBytes - 1)},
        {"a chunk above the maximum", firstChunkOf(kChunkMaxBytes + 1)},
        {"a chunk of no bytes", firstChunkOf(0)},
        {"a file of no bytes with a chunk", chunkIndexBytes({chunks[0]}, 0)},
    };
    for (const auto& d : damaged)
        EXPECT_FALSE(parseChunkIndex(d.bytes, index)) << d.name;
    EXPECT_TRUE(parseChunkIndex(chunkIndexBytes({Chunk{0, 1, {}}}, 1), index)); // a short last chunk
}

// ---- list lines ----

// Every list reader skips the index lines; the launcher's index reader takes only
// well-formed ones; a signature covers them.
TEST(ChunkIndex, ListLinesAreCommentsAndSigned) {
    const SiteFiles files = {{"a b.pak", patternBytes(70000, 1)}, {"c", "c"}};
    const std::string hash = referenceSha256("index");
    const std::string lines =
        chunkIndexLine("a b.pak", {hash, 1000}) + chunkIndexLine("c", {hash, 24}) + "# parcalar " +
        std::string(64, 'A') + " 1000 upper\n" + "# parcalar " + hash.substr(1) + " 1000 short\n" +
        "# parcalar " + hash + " 1e3 size\n" + "# parcalar " + hash + " 23 small\n" + "# parcalar " + hash +
        " 70000000 large\n" + "# parcalar " + hash + " 1000\n" + "# parcalar " + hash + " 1000 \n";
    const std::string plain = siteList(files), indexed = plain + lines;
    FileList withLines, without;
    std::string error;
    ASSERT_TRUE(parseFileList(indexed, withLines, error, [](const std::string&) {})) << error;
    ASSERT_TRUE(parseFileList(plain, without, error, [](const std::string&) {}));
    ASSERT_EQ(withLines.size(), without.size());
    for (size_t i = 0; i < without.size(); ++i)
        EXPECT_TRUE(withLines[i].path == without[i].path && withLines[i].hash == without[i].hash);

    const std::map<std::string, ChunkIndexRef> refs = readChunkIndexLines(indexed);
    ASSERT_EQ(refs.size(), 2u);
    EXPECT_EQ(refs.at("a b.pak").hash, hash);
    EXPECT_EQ(refs.at("a b.pak").size, 1000);
    EXPECT_EQ(refs.at("c").size, 24);

    ListPublicKey key;
    ListSecretKey secret;
    newListKeyPair(key, secret);
    std::string signedList = indexed + std::string(kSequenceLinePrefix) + "5\n";
    signedList += signatureLine(signedList, secret);
    uint64_t sequence = 0;
    EXPECT_TRUE(verifySignedList(signedList, key, sequence));
    std::string forged = signedList;
    forged[forged.find("# parcalar ") + 11] ^= 1; // another index for a.pak
    EXPECT_FALSE(verifySignedList(forged, key, sequence));
}

} // namespace
