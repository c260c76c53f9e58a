// filelist_test.cpp - the file list, the path rule, URL encoding and the update cache.
#include "update/filelist.h"

#include "platform/platform.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>

namespace {

const std::string A(64, 'a');
const std::string B = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
const std::string H = "morlaken-liste 1\n";
const std::string kBadLine = "! Güncelleme listesinde geçersiz satır\n";
const std::string kBadHeader = "! Güncelleme listesi bozuk\n";

// A parse as one text: each version as it is handed out ("surum: ..."), then the entries
// in list order ("path|size|hash", A and B for those hashes), or "! " and the error.
std::string parsed(const std::string& body) {
    FileList list = {FileEntry{"stale", 1, "stale"}}; // replaced either way
    std::string error, out;
    const bool ok =
        parseFileList(body, list, error, [&](const std::string& v) { out += "surum: " + v + "\n"; });
    EXPECT_EQ(ok, error.empty()) << error;
    if (!ok) return list.empty() ? out + "! " + error + "\n" : "a refused list kept entries";
    for (const FileEntry& e : list)
        out += e.path + "|" + std::to_string(e.size) + "|" +
               (e.hash == A   ? "A"
                : e.hash == B ? "B"
                              : e.hash) +
               "\n";
    return out;
}

std::string withCrLf(const std::string& text) {
    std::string out;
    for (char c : text)
        out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return out;
}

// ---- file list ----

TEST(FileList, ReadAsTheLauncherReadsIt) {
    const std::pair<std::string, std::string> cases[] = {
        // The first line: its first 16 bytes, exactly.
        {H, ""},
        {"morlaken-liste 1", ""},
        {"morlaken-liste 12\n", ""},
        {"morlaken-liste 1 anything at all\r\n", ""},
        {"", kBadHeader},
        {"\n", kBadHeader},
        {"morlaken-liste 2\n", kBadHeader},
        {"\xEF\xBB\xBF" + H, kBadHeader},
        {"morlaken-liste \n", kBadHeader},
        {"Morlaken-liste 1\n", kBadHeader},
        {" " + H, kBadHeader},
        {"morlaken-liste\n1\n", kBadHeader},
        // Entries in order, blanks in paths, duplicates kept; comments, empty lines and lines
        // without two blanks skipped; CR LF read as LF, and a last CR without its LF dropped.
        {H + "# a comment " + A + " 1 x\n\n" + A + " 10 MorlakenLauncher\n" + B + " 0 veri/ağaç 1.png\n" + A +
             " 5 a/b c.txt\n" + A + " 7 a/\n" + A + " 10 MorlakenLauncher\n",
         "MorlakenLauncher|10|A\nveri/ağaç 1.png|0|B\na/b c.txt|5|A\na/|7|A\nMorlakenLauncher|10|A\n"},
        {H + A + "\n" + A + " \n" + A + " 12\nnonsense\n" + A + " 1 kept\n", "kept|1|A\n"},
        {withCrLf(H + "surum 1.2 beta\n" + A + " 3 a b\n" + B + " 4 c/d.txt\n"),
         "surum: 1.2 beta\na b|3|A\nc/d.txt|4|B\n"},
        {"morlaken-liste 1\r\n" + A + " 3 a b\r", "a b|3|A\n"},
        // The size reads as atoll does, stopping at the 64-bit limits; below 0 it refuses.
        {H + A + " abc f\n", "f|0|A\n"},
        {H + A + " 12kB f\n", "f|12|A\n"},
        {H + A + "  f\n", "f|0|A\n"},
        {H + A + " 007 f\n", "f|7|A\n"},
        {H + A + " +5 f\n", "f|5|A\n"},
        {H + A + " -0 f\n", "f|0|A\n"},
        {H + A + " \t42 f\n", "f|42|A\n"},
        {H + A + " 9223372036854775807 f\n", "f|9223372036854775807|A\n"},
        {H + A + " 99999999999999999999 f\n", "f|9223372036854775807|A\n"},
        {H + A + " -1 f\n", kBadLine},
        {H + A + " -99999999999999999999 f\n", kBadLine},
        // The hash: 64 characters, not otherwise looked at.
        {H + std::string(63, 'a') + " 1 f\n", kBadLine},
        {H + std::string(65, 'a') + " 1 f\n", kBadLine},
        {H + " 1 f\n", kBadLine},
        {H + std::string(64, 'A') + " 1 f\n", "f|1|" + std::string(64, 'A') + "\n"},
        // One unsafe path refuses the whole list (the rule itself: FileListPaths below).
        {H + A + " 1 good\n" + A + " 1 /x\n", kBadLine},
        {H + A + " 1 good\n" + A + " 1 a/../b\n", kBadLine},
        {H + A + " 1 good\n" + A + " 1 a\\..\\b\n", kBadLine},
        {H + A + " 1 \n", kBadLine}, // a blank at the end: an empty path
        {H + A + " 1 a" + std::string(1, '\0') + "b\n", kBadLine},
        // Versions are handed out as they are read, even before a line that refuses the list.
        {H + "surum 1.0\nsurum \nsurum  2.0 son \n" + A + " 1 f\n",
         "surum: 1.0\nsurum: \nsurum:  2.0 son \nf|1|A\n"},
        {H + "surum 3.1\n" + A + " 1 ../f\nsurum 9\n", "surum: 3.1\n" + kBadLine},
        {H + "surum\n", ""}, // without its blank: an ordinary line, skipped
    };
    for (const auto& [body, result] : cases)
        EXPECT_EQ(parsed(body), result) << body;
    FileList list;
    std::string error;
    EXPECT_TRUE(parseFileList(H + "surum 1\n", list, error, nullptr))
        << "no callback: the version is dropped";
}

// ---- path rule and URLs ----

// '\' separates segments as '/' does; a name is at most 255 bytes, a path 4096.
TEST(FileListPaths, SafeRelativePathRule) {
    for (const char* good : {"a", "a/", "a/b", "a/b c.txt", "veri/ağaç 1.png", "...", "a/..b", "..a/b", ".a",
                             "a b/ c", "MorlakenLauncher"})
        EXPECT_TRUE(isSafeRelativePath(good)) << good;
    for (const char* bad :
         {"",   "/", "\\",  "/x",   "\\x",      "c:x",     "x:",     "a//b",  "./a", "a/./b", "a/../b",
          "..", ".", "a/.", "a/..", "a\\..\\b", "a\\.\\b", "a\\\\b", "a/\\b", "a//", "a\\/",  ".\\a"})
        EXPECT_FALSE(isSafeRelativePath(bad)) << bad;
    EXPECT_FALSE(isSafeRelativePath(std::string_view("a\0b", 3)));

    auto names = [](size_t count, size_t length) {
        std::string path;
        for (size_t i = 0; i < count; ++i)
            path += (i ? "/" : "") + std::string(length, 'a' + char(i % 26));
        return path;
    };
    const std::string exactly4096 = names(16, 255) + "/" + std::string(4096 - 16 * 256, 'z');
    for (const auto& [path, safe] : std::initializer_list<std::pair<std::string, bool>>{
             {std::string(255, 'a'), true},
             {std::string(256, 'a'), false},
             {"veri/" + std::string(255, 'b') + "/x.png", true},
             {"veri/" + std::string(256, 'b') + "/x.png", false},
             {"veri\\" + std::string(256, 'b'), false},
             {std::string(255, 'c') + "/", true}, // the trailing separator adds no segment
             {exactly4096, true},
             {exactly4096 + "/", false},
             {exactly4096 + "z", false},
             {names(40, 200), false}, // many short-enough names, too long together
         })
        EXPECT_EQ(isSafeRelativePath(path), safe) << path.size() << " bytes: " << path.substr(0, 40);
}

TEST(FileListPaths, UrlEncoding) {
    EXPECT_EQ(urlEncodePath("veri/ağaç 1.png"), "veri/a%C4%9Fa%C3%A7%201.png");
    EXPECT_EQ(urlEncodePath("AZaz09-._~/"), "AZaz09-._~/");
    EXPECT_EQ(urlEncodePath("a+b%c?d#e&f=g"), "a%2Bb%25c%3Fd%23e%26f%3Dg");
    EXPECT_EQ(urlEncodePath(std::string_view("\x00\xff\x7f", 3)), "%00%FF%7F");
    EXPECT_EQ(urlEncodePath(""), "");
}

// ---- update cache ----

// A cache as one text: "path|size|time|hash" per entry, in path order.
std::string cacheLines(const UpdateCache& cache) {
    std::string out;
    for (const auto& [path, e] : cache.entries)
        out += path + "|" + std::to_string(e.size) + "|" + std::to_string(cache.mtimes.at(path)) + "|" +
               e.hash + "\n";
    return out;
}

// The pass's table reads the same records, finds each in any order, writes the same
// bytes, and knows when the file is exactly in the writer's form (so it is not rewritten).
TEST(UpdateCache, ReadsEveryWellFormedLineAndTheLaterOneWins) {
    const struct {
        std::string text, result;
        bool writersForm;
    } cases[] = {
        {"3 30 h3 z\n1 10 h1 a\n2 20 h2 m\n4 40 h4 a\n", "a|4|40|h4\nm|2|20|h2\nz|3|30|h3\n", false},
        {"x 1 h p\n1 y h p\n1 2 h\n1 2 h   \n1 2\n\n99999999999999999999 1 h p\n", "",
         false}, // each malformed
        {"5 6 hash good path\n  7   8   h2   spaced\n9 10 h3 last",
         "good path|5|6|hash\nlast|9|10|h3\nspaced|7|8|h2\n", false},
        {"1 2 h yol\r\n", "yol\r|1|2|h\n", true}, // a CR ending a listed path is part of it
        {"", "", true},
        {"1 -2 h a\n3 4 h b b\n", "a|1|-2|h\nb b|3|4|h\n", true},
        {"1 2 h b\n3 4 h a\n", "a|3|4|h\nb|1|2|h\n", false}, // out of order
        {"1 2 h a\n1 2 h a\n", "a|1|2|h\n", false},          // twice
        {"+1 2 h a\n", "a|1|2|h\n", false},
        {"01 2 h a\n", "a|1|2|h\n", false},
        {"1 -0 h a\n", "a|1|0|h\n", false},
        {"1\t2 h a\n", "a|1|2|h\n", false},
        {"1 2 h\ta\n", "a|1|2|h\n", false},
        {"1 2  h a\n", "a|1|2|h\n", false},
        {"1 2 h a", "a|1|2|h\n", false}, // no LF
        {"1 2 h a\n\n", "a|1|2|h\n", false},
    };
    for (const auto& [text, result, writersForm] : cases) {
        UpdateCache parsed = parseUpdateCache(text);
        EXPECT_EQ(cacheLines(parsed), result) << text;
        for (const bool reversed : {false, true}) {
            CacheTable table;
            table.adopt(text);
            EXPECT_EQ(table.unchangedOnDisk(), writersForm) << text;
            std::vector<std::string> paths;
            for (const auto& [path, e] : parsed.entries)
                paths.insert(reversed ? paths.begin() : paths.end(), path);
            UpdateCache found; // every record looked up, in path order or in reverse
            for (const std::string& path : paths) {
                CacheTable::Record r;
                if (!table.find(path, r)) continue;
                found.entries[path] = FileEntry{std::string(r.hash), r.size, path};
                found.mtimes[path] = r.time;
            }
            EXPECT_EQ(cacheLines(found), result) << text;
            CacheTable::Record none;
            EXPECT_FALSE(table.find("yok", none)) << text;
            EXPECT_EQ(table.text(), updateCacheText(parsed)) << text;
            EXPECT_EQ(table.text() == text, writersForm) << text;
        }
    }
}

TEST(UpdateCache, SavedWholeInByteOrderAndReadBack) {
    testsupport::TempFolder folder;
    const std::string file = folder / kUpdateCacheFile;
    UpdateCache cache;
    for (const FileEntry& e : {FileEntry{A, 12, "veri/ağaç 1.png"}, FileEntry{B, 0, "a b/c d "},
                               FileEntry{A, 9000000000, "Z"}, FileEntry{A, 1, "iki\nsatır"}})
        cache.entries[e.path] = e;
    cache.mtimes["veri/ağaç 1.png"] = 133000000000000000;
    cache.mtimes["Z"] = -5;
    ASSERT_TRUE(saveUpdateCache(cache, file));
    EXPECT_EQ(cache.mtimes.at("a b/c d "), 0) << "a missing time is stored as 0";
    // Byte-wise order ('Z' before 'a'); a path with a line feed could not be read back.
    EXPECT_EQ(testsupport::readFile(file), "9000000000 -5 " + A + " Z\n0 0 " + B +
                                               " a b/c d \n12 133000000000000000 " + A +
                                               " veri/ağaç 1.png\n");
    EXPECT_EQ(cacheLines(loadUpdateCache(file)), "Z|9000000000|-5|" + A + "\na b/c d |0|0|" + B +
                                                     "\nveri/ağaç 1.png|12|133000000000000000|" + A + "\n");
    EXPECT_FALSE(saveUpdateCache(cache, folder / "yok/guncelleme.cache"));
    EXPECT_EQ(testsupport::listTree(folder.path()), "guncelleme.cache\n") << "a save left a temporary behind";
    EXPECT_TRUE(loadUpdateCache(folder / "yok.cache").entries.empty());

    // The pass's table rewrites the file only when its bytes would change: something
    // learned (the learned record wins), or a file not in the writer's form.
    const std::string saved = testsupport::readFile(file);
    auto identity = [&file] {
        platform::FileIdentity id;
        EXPECT_TRUE(platform::fileIdentity(file, id));
        return id;
    };
    const platform::FileIdentity before = identity();
    CacheTable table;
    table.load(file);
    ASSERT_TRUE(table.save(file));
    EXPECT_EQ(identity(), before) << "a save of the same bytes wrote the file";
    table.learned.entries["Z"] = FileEntry{B, 3, "Z"};
    table.learned.entries["b"] = FileEntry{B, 4, "b"};
    table.learned.mtimes["b"] = 7;
    ASSERT_TRUE(table.save(file));
    const std::string merged = "3 0 " + B + " Z\n0 0 " + B + " a b/c d \n4 7 " + B +
                               " b\n12 133000000000000000 " + A + " veri/ağaç 1.png\n";
    EXPECT_EQ(testsupport::readFile(file), merged);
    testsupport::writeFile(file, "\n" + merged);
    table.load(file);
    ASSERT_TRUE(table.save(file));
    EXPECT_EQ(testsupport::readFile(file), merged) << "a file not in the writer's form is rewritten";
    for (const std::string& missing : {folder / "yok.cache", folder / "yok/guncelleme.cache"}) {
        table.load(missing); // no file: an empty one is written, as every save did
        EXPECT_EQ(table.save(missing), missing == folder / "yok.cache");
    }
    EXPECT_EQ(testsupport::readFile(folder / "yok.cache"), "");
}

} // namespace
