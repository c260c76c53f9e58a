// config_bom_test.cpp - configuration files saved by Windows editors start with a UTF-8
// byte-order mark; it is skipped so the first key is still found.
#include "app/config.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kBom = "\xEF\xBB\xBF";

TEST(ConfigByteOrderMark, IsSkippedAtTheStartOfEitherFileAndNowhereElse) {
    testsupport::TempFolder tmp;
    testsupport::writeFile(tmp / "varsayilan.ini",
                           kBom + "guncelleme=http://127.0.0.1:1/\r\nhaber_adresi=h\r\n");
    testsupport::writeFile(tmp / "launcher.ini", kBom + "sunucu=10.0.0.1\n" + kBom + "kullanici=ayse\n");
    Config cfg;
    loadConfigFile(tmp / "launcher.ini", cfg.userEntries);
    loadConfigFile(tmp / "varsayilan.ini", cfg.defaultEntries);

    EXPECT_EQ(configGet(cfg, "guncelleme", "off"), "http://127.0.0.1:1/"); // updates stay on
    EXPECT_EQ(configGet(cfg, "haber_adresi", ""), "h");
    EXPECT_EQ(configGet(cfg, "sunucu", ""), "10.0.0.1");
    // Only the file's first bytes are a mark; one further down stays part of its key.
    EXPECT_EQ(configGet(cfg, "kullanici", "none"), "none");
    EXPECT_EQ(configGet(cfg, kBom + "kullanici", "none"), "ayse");
}

TEST(ConfigByteOrderMark, TableOfTexts) {
    struct Case {
        std::string text;
        size_t entries;
        std::string firstKey;
    } cases[] = {
        {kBom, 0, ""},
        {kBom + "\n", 0, ""},
        {kBom + "#a=b\nk=v", 1, "k"}, // the mark does not hide a comment's '#'
        {kBom + "=v", 1, ""},
        {kBom + kBom + "k=v", 1, kBom + "k"}, // one mark, not any number
        {"\xEF\xBBk=v", 1, "\xEF\xBBk"},      // half a mark is an ordinary key
    };
    for (const Case& c : cases) {
        std::vector<ConfigEntry> list{{"left", "over"}};
        parseConfigText(c.text, list);
        ASSERT_EQ(list.size(), c.entries) << c.text;
        if (c.entries) {
            EXPECT_EQ(list[0].key, c.firstKey) << c.text;
        }
    }
}

// Found by fuzz/config_fuzz.cpp: a file starting with two marks gave a first key that
// began with one; saved and read again, that key lost its mark.
TEST(ConfigByteOrderMark, ASaveReadsBackToTheSameEntries) {
    const std::string text = testsupport::readFile(MORLAKEN_SOURCE_DIR "/fuzz/corpus/config/regress-bom-key");
    ASSERT_EQ(text.substr(0, 6), kBom + kBom);
    testsupport::TempFolder tmp;
    Config cfg;
    parseConfigText(text, cfg.userEntries);
    ASSERT_FALSE(cfg.userEntries.empty());
    ASSERT_EQ(cfg.userEntries[0].key.substr(0, 3), kBom);
    ASSERT_TRUE(saveUserConfig(cfg, tmp / "launcher.ini"));
    std::vector<ConfigEntry> reread;
    loadConfigFile(tmp / "launcher.ini", reread);
    ASSERT_EQ(reread.size(), cfg.userEntries.size());
    for (size_t i = 0; i < reread.size(); ++i) {
        EXPECT_EQ(reread[i].key, cfg.userEntries[i].key) << i;
        EXPECT_EQ(reread[i].value, cfg.userEntries[i].value) << i;
    }
}

} // namespace
