// filelist_test.cpp - the file list, the path rule, URL encoding and the update cache.
#include "update/filelist.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string kHashA(64, 'a');
const std::string kHashB = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

struct ParseResult {
    bool ok = false;
    FileList list;
    std::string error;
    std::vector<std::string> versions;
};

ParseResult parse(const std::string& body) {
    ParseResult r;
    r.list.push_back(FileEntry{"stale", 1, "stale"}); // must be replaced either way
    r.ok = parseFileList(body, r.list, r.error, [&](const std::string& v) { r.versions.push_back(v); });
    return r;
}

// Every entry as "path|size|hash", one a line, in list order.
std::string entries(const FileList& list) {
    std::string out;
    for (const FileEntry& e : list)
        out += e.path + "|" + std::to_string(e.size) + "|" + e.hash + "\n";
    return out;
}

void expectRejectedLine(const std::string& body, const std::string& why) {
    ParseResult r = parse(body);
    EXPECT_FALSE(r.ok) << why;
    EXPECT_EQ(r.error, kListRejectedLine) << why;
    EXPECT_TRUE(r.list.empty()) << why;
}

// ---- the first line ----

TEST(FileList, HeaderRule) {
    ParseResult onlyHeader = parse("morlaken-liste 1\n"); // an empty list
    EXPECT_TRUE(onlyHeader.ok);
    EXPECT_TRUE(onlyHeader.list.empty());
    EXPECT_TRUE(onlyHeader.error.empty());
    EXPECT_TRUE(onlyHeader.versions.empty());
    EXPECT_TRUE(parse("morlaken-liste 1").ok);
    EXPECT_TRUE(parse("morlaken-liste 12\n").ok) << "only the first 16 bytes count";
    EXPECT_TRUE(parse("morlaken-liste 1 anything at all\r\n").ok);

    for (const std::string& body : {std::string(""), std::string("\n"), std::string("morlaken-liste 2\n"),
                                    std::string("\xEF\xBB\xBFmorlaken-liste 1\n"),
                                    std::string("morlaken-liste \n"), std::string("Morlaken-liste 1\n"),
                                    std::string(" morlaken-liste 1\n"), std::string("morlaken-liste\n1\n")}) {
        ParseResult r = parse(body);
        EXPECT_FALSE(r.ok) << '"' << body << '"';
        EXPECT_EQ(r.error, kListRejectedHeader) << '"' << body << '"';
        EXPECT_TRUE(r.list.empty());
    }
}

// ---- entries ----

TEST(FileList, ReadsEntriesInOrderWithBlanksInPaths) {
    std::string body = "morlaken-liste 1\n"
                       "# a comment " +
                       kHashA +
                       " 1 x\n"
                       "\n" +
                       kHashA + " 10 MorlakenLauncher\n" + kHashB + " 0 veri/ağaç 1.png\n" + kHashA +
                       " 5 a/b c.txt\n" + kHashA + " 7 a/\n" + kHashA + " 10 MorlakenLauncher\n";
    ParseResult r = parse(body);
    ASSERT_TRUE(r.ok) << r.error;
    // Duplicates stay separate entries.
    EXPECT_EQ(entries(r.list), "MorlakenLauncher|10|" + kHashA + "\nveri/ağaç 1.png|0|" + kHashB +
                                   "\na/b c.txt|5|" + kHashA + "\na/|7|" + kHashA + "\nMorlakenLauncher|10|" +
                                   kHashA + "\n");
}

TEST(FileList, CrLfListEqualsLfList) {
    std::string lf = "morlaken-liste 1\nsurum 1.2 beta\n" + kHashA + " 3 a b\n" + kHashB + " 4 c/d.txt\n";
    std::string crlf;
    for (char c : lf) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    ParseResult a = parse(lf);
    ParseResult b = parse(crlf);
    ASSERT_TRUE(a.ok);
    ASSERT_TRUE(b.ok);
    EXPECT_EQ(entries(a.list), "a b|3|" + kHashA + "\nc/d.txt|4|" + kHashB + "\n");
    EXPECT_EQ(entries(b.list), entries(a.list));
    EXPECT_EQ(a.versions, b.versions);
    EXPECT_EQ(b.versions, std::vector<std::string>{"1.2 beta"});

    // The last line without its LF loses its CR as well.
    ParseResult c = parse("morlaken-liste 1\r\n" + kHashA + " 3 a b\r");
    ASSERT_TRUE(c.ok);
    EXPECT_EQ(entries(c.list), "a b|3|" + kHashA + "\n");
}

TEST(FileList, LinesWithoutTwoBlanksAreSkipped) {
    ParseResult r = parse("morlaken-liste 1\n" + kHashA + "\n" + kHashA + " \n" + kHashA + " 12\n" +
                          "nonsense\n" + kHashA + " 1 kept\n");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(entries(r.list), "kept|1|" + kHashA + "\n");
}

TEST(FileList, SizeFieldReadsLikeAtoll) {
    struct Case {
        std::string field;
        int64_t size;
    };
    for (const Case& c : {Case{"abc", 0}, Case{"12kB", 12}, Case{"", 0}, Case{"007", 7}, Case{"+5", 5},
                          Case{"-0", 0}, Case{"\t42", 42}, Case{"9223372036854775807", INT64_MAX},
                          Case{"99999999999999999999", INT64_MAX}}) {
        ParseResult r = parse("morlaken-liste 1\n" + kHashA + " " + c.field + " f\n");
        ASSERT_TRUE(r.ok) << "size field '" << c.field << "'";
        ASSERT_EQ(r.list.size(), 1u);
        EXPECT_EQ(r.list[0].size, c.size) << "size field '" << c.field << "'";
    }
    expectRejectedLine("morlaken-liste 1\n" + kHashA + " -1 f\n", "size -1");
    expectRejectedLine("morlaken-liste 1\n" + kHashA + " -99999999999999999999 f\n", "huge negative size");
}

TEST(FileList, HashLengthMustBe64) {
    expectRejectedLine("morlaken-liste 1\n" + std::string(63, 'a') + " 1 f\n", "63 characters");
    expectRejectedLine("morlaken-liste 1\n" + std::string(65, 'a') + " 1 f\n", "65 characters");
    expectRejectedLine("morlaken-liste 1\n 1 f\n", "empty hash");

    std::string upper(64, 'A');
    ParseResult r = parse("morlaken-liste 1\n" + upper + " 1 f\n");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.list[0].hash, upper) << "hash characters are not otherwise tested";
}

TEST(FileList, UnsafePathsRejectTheWholeList) {
    // The rule itself is tested with isSafeRelativePath below; here, that the list applies it.
    for (const char* path : {"/x", "a/../b", "a\\..\\b"}) {
        expectRejectedLine("morlaken-liste 1\n" + kHashA + " 1 good\n" + kHashA + " 1 " + path + "\n", path);
    }
    // A blank at the end of the line is part of an empty path.
    expectRejectedLine("morlaken-liste 1\n" + kHashA + " 1 \n", "empty path");
    expectRejectedLine("morlaken-liste 1\n" + kHashA + " 1 a" + std::string(1, '\0') + "b\n", "NUL in path");
}

TEST(FileList, VersionLinesAreHandedOutAsTheyAreRead) {
    ParseResult r = parse("morlaken-liste 1\nsurum 1.0\nsurum \nsurum  2.0 son \n" + kHashA + " 1 f\n");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.versions, (std::vector<std::string>{"1.0", "", " 2.0 son "}));
    EXPECT_EQ(r.list.size(), 1u);

    // A later bad line still rejects, but the version was already delivered.
    ParseResult bad = parse("morlaken-liste 1\nsurum 3.1\n" + kHashA + " 1 ../f\nsurum 9\n");
    EXPECT_FALSE(bad.ok);
    EXPECT_EQ(bad.versions, std::vector<std::string>{"3.1"});

    // "surum" without its blank is an ordinary line (skipped: no blanks at all).
    ParseResult word = parse("morlaken-liste 1\nsurum\n");
    EXPECT_TRUE(word.ok);
    EXPECT_TRUE(word.versions.empty());

    // Without a callback the version line is simply consumed.
    FileList list;
    std::string error;
    EXPECT_TRUE(parseFileList("morlaken-liste 1\nsurum 1\n", list, error, nullptr));
}

// ---- path rule ----

TEST(FileListPaths, SafeRelativePathRule) {
    for (const char* good : {"a", "a/", "a/b", "a/b c.txt", "veri/ağaç 1.png", "...", "a/..b", "..a/b", ".a",
                             "a b/ c", "MorlakenLauncher"})
        EXPECT_TRUE(isSafeRelativePath(good)) << good;
    for (const char* bad :
         {"",   "/", "\\",  "/x",   "\\x",      "c:x",     "x:",     "a//b",  "./a", "a/./b", "a/../b",
          "..", ".", "a/.", "a/..", "a\\..\\b", "a\\.\\b", "a\\\\b", "a/\\b", "a//", "a\\/",  ".\\a"})
        EXPECT_FALSE(isSafeRelativePath(bad)) << bad;
    EXPECT_FALSE(isSafeRelativePath(std::string_view("a\0b", 3)));
}

TEST(FileListPaths, UrlEncoding) {
    EXPECT_EQ(urlEncodePath("veri/ağaç 1.png"), "veri/a%C4%9Fa%C3%A7%201.png");
    EXPECT_EQ(urlEncodePath("AZaz09-._~/"), "AZaz09-._~/");
    EXPECT_EQ(urlEncodePath("a+b%c?d#e&f=g"), "a%2Bb%25c%3Fd%23e%26f%3Dg");
    EXPECT_EQ(urlEncodePath(std::string_view("\x00\xff\x7f", 3)), "%00%FF%7F");
    EXPECT_EQ(urlEncodePath(""), "");
}

// ---- update cache ----

class UpdateCacheFiles : public ::testing::Test {
  protected:
    void writeText(const std::string& text) { testsupport::writeFile(file, text); }
    std::string readText() { return testsupport::readFile(file); }
    testsupport::TempFolder folder;
    const std::string file = folder / kUpdateCacheFile;
};

TEST_F(UpdateCacheFiles, RoundTripKeepsBlanksAndSortsByPath) {
    UpdateCache cache;
    cache.entries["veri/ağaç 1.png"] = FileEntry{kHashA, 12, "veri/ağaç 1.png"};
    cache.entries["a b/c d "] = FileEntry{kHashB, 0, "a b/c d "};
    cache.entries["Z"] = FileEntry{kHashA, 9000000000, "Z"};
    cache.mtimes["veri/ağaç 1.png"] = 133000000000000000;
    cache.mtimes["Z"] = -5;
    ASSERT_TRUE(saveUpdateCache(cache, file));
    EXPECT_EQ(cache.mtimes.at("a b/c d "), 0) << "a missing time is stored as 0";

    // Byte-wise order: 'Z' (0x5A) sorts before 'a' (0x61).
    EXPECT_EQ(readText(), "9000000000 -5 " + kHashA + " Z\n" + "0 0 " + kHashB + " a b/c d \n" +
                              "12 133000000000000000 " + kHashA + " veri/ağaç 1.png\n");

    UpdateCache back = loadUpdateCache(file);
    ASSERT_EQ(back.entries.size(), 3u);
    EXPECT_EQ(back.entries.at("a b/c d ").path, "a b/c d ");
    EXPECT_EQ(back.entries.at("a b/c d ").hash, kHashB);
    EXPECT_EQ(back.entries.at("Z").size, 9000000000);
    EXPECT_EQ(back.mtimes.at("Z"), -5);
    EXPECT_EQ(back.entries.at("veri/ağaç 1.png").size, 12);
    EXPECT_EQ(back.mtimes.at("veri/ağaç 1.png"), 133000000000000000);
}

TEST_F(UpdateCacheFiles, LinesInAnyOrderLaterLineWins) {
    writeText("3 30 " + kHashB + " z\n" + "1 10 " + kHashA + " a\n" + "2 20 " + kHashA + " m\n" + "4 40 " +
              kHashB + " a\n");
    UpdateCache cache = loadUpdateCache(file);
    ASSERT_EQ(cache.entries.size(), 3u);
    EXPECT_EQ(cache.entries.at("a").size, 4);
    EXPECT_EQ(cache.entries.at("a").hash, kHashB);
    EXPECT_EQ(cache.mtimes.at("a"), 40);
    ASSERT_TRUE(saveUpdateCache(cache, file));
    EXPECT_EQ(readText(), "4 40 " + kHashB + " a\n" + "2 20 " + kHashA + " m\n" + "3 30 " + kHashB + " z\n");
}

TEST_F(UpdateCacheFiles, MalformedLinesAreSkipped) {
    writeText("x 1 h p\n"                    // size not a number
              "1 y h p\n"                    // time not a number
              "1 2 h\n"                      // no path
              "1 2 h   \n"                   // only blanks where the path should be
              "1 2\n"                        // no hash
              "\n"                           // empty
              "99999999999999999999 1 h p\n" // size out of range
              "5 6 hash good path\n"
              "  7   8   h2   spaced\n" // extra white space between fields
              "9 10 h3 last");          // no final LF
    UpdateCache cache = loadUpdateCache(file);
    ASSERT_EQ(cache.entries.size(), 3u);
    EXPECT_EQ(cache.entries.at("good path").hash, "hash");
    EXPECT_EQ(cache.entries.at("good path").size, 5);
    EXPECT_EQ(cache.mtimes.at("good path"), 6);
    EXPECT_EQ(cache.entries.at("spaced").size, 7);
    EXPECT_EQ(cache.mtimes.at("spaced"), 8);
    EXPECT_EQ(cache.entries.at("last").hash, "h3");

    cache = loadUpdateCache(folder / "nothing-here");
    EXPECT_TRUE(cache.entries.empty());
    EXPECT_TRUE(cache.mtimes.empty());
}

TEST_F(UpdateCacheFiles, FailedSaveLeavesTheOldFile) {
    writeText("1 2 h old\n");
    UpdateCache cache;
    cache.entries["new"] = FileEntry{"h", 1, "new"};
    EXPECT_FALSE(saveUpdateCache(cache, folder / ("no-such-folder/" + std::string(kUpdateCacheFile))));
    EXPECT_EQ(readText(), "1 2 h old\n");
    // No temporary files are left behind by a successful save either.
    ASSERT_TRUE(saveUpdateCache(cache, file));
    EXPECT_EQ(testsupport::listTree(folder.path()), std::string(kUpdateCacheFile) + "\n");
}

} // namespace
