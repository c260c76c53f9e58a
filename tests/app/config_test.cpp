// config_test.cpp - reading, looking up, changing and saving the key=value files.
#include "app/config.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

class ConfigFiles : public ::testing::Test {
  protected:
    std::string path(const std::string& name) const { return tmp / name; }
    void writeFile(const std::string& name, const std::string& text) { testsupport::writeFile(path(name), text); }
    std::string readFile(const std::string& name) { return testsupport::readFile(path(name)); }
    std::vector<ConfigEntry> load(const std::string& text) {
        writeFile("f.ini", text);
        std::vector<ConfigEntry> list{{"left", "over"}}; // cleared by every load
        loadConfigFile(path("f.ini"), list);
        return list;
    }

    testsupport::TempFolder tmp;
};

void expectEntries(const std::vector<ConfigEntry>& list,
                   const std::vector<std::pair<std::string, std::string>>& expected) {
    ASSERT_EQ(list.size(), expected.size());
    for (size_t i = 0; i < list.size(); ++i) {
        EXPECT_EQ(list[i].key, expected[i].first) << "entry " << i;
        EXPECT_EQ(list[i].value, expected[i].second) << "entry " << i;
    }
}

// ---- reading ----

TEST_F(ConfigFiles, LineRules) {
    expectEntries(load("sunucu=1.2.3.4\n"
                       "# yorum=yok\n"
                       " #bosluk=var\n"
                       "\n"
                       "[bolum]\n"
                       "duz metin\n"
                       "a=b=c\n"
                       "bos=\n"
                       "=anahtarsiz\n"
                       " sunucu = 5 \n"
                       "son=satir"),
                  {{"sunucu", "1.2.3.4"},
                   {" #bosluk", "var"},
                   {"a", "b=c"},
                   {"bos", ""},
                   {"", "anahtarsiz"},
                   {" sunucu ", " 5 "},
                   {"son", "satir"}});
}

TEST_F(ConfigFiles, CrLfAndLfGiveTheSameEntries) {
    auto lf = load("a=1\nb=2\n#c=3\n\nd=4");
    auto crlf = load("a=1\r\nb=2\r\n#c=3\r\n\r\nd=4\r\n");
    expectEntries(lf, {{"a", "1"}, {"b", "2"}, {"d", "4"}});
    expectEntries(crlf, {{"a", "1"}, {"b", "2"}, {"d", "4"}});
    // Only one CR is dropped; the rest belongs to the value.
    expectEntries(load("a=1\r\r\n\r\n"), {{"a", "1\r"}});
}

TEST_F(ConfigFiles, MissingFileGivesAnEmptyList) {
    std::vector<ConfigEntry> list{{"k", "v"}};
    loadConfigFile(path("yok.ini"), list);
    EXPECT_TRUE(list.empty());
    loadConfigFile(tmp.path(), list); // a folder is not a readable file either
    EXPECT_TRUE(list.empty());
    EXPECT_TRUE(load("").empty());
}

TEST_F(ConfigFiles, Utf8AndLongLinesSurvive) {
    std::string longValue(100000, 'x');
    expectEntries(load("kullanici=Şükrü Öğüt\nuzun=" + longValue + "\n"),
                  {{"kullanici", "Şükrü Öğüt"}, {"uzun", longValue}});
}

// ---- lookups and changes ----

TEST(Config, LookupOrder) {
    Config cfg;
    cfg.userEntries = {{"sunucu", "kullanici"}, {"bos", ""}, {"cift", "ilk"}, {"cift", "ikinci"}};
    cfg.defaultEntries = {{"sunucu", "varsayilan"}, {"bos", "dolu"}, {"yalniz", "d1"}, {"yalniz", "d2"}};
    EXPECT_EQ(configGet(cfg, "sunucu", "f"), "kullanici");
    EXPECT_EQ(configGet(cfg, "bos", "f"), "") << "an empty user value hides the default";
    EXPECT_EQ(configGet(cfg, "cift", "f"), "ilk");
    EXPECT_EQ(configGet(cfg, "yalniz", "f"), "d1");
    EXPECT_EQ(configGet(cfg, "yok", "f"), "f");
    EXPECT_EQ(configGet(cfg, "Sunucu", "f"), "f") << "keys compare case-sensitively";
    EXPECT_EQ(configGet(cfg, "sunucu ", "f"), "f") << "and with their full length";
}

TEST(Config, SetChangesOnlyTheFirstUserEntryOrAppends) {
    Config cfg;
    cfg.userEntries = {{"a", "1"}, {"b", "2"}, {"a", "3"}};
    cfg.defaultEntries = {{"c", "d"}};
    configSet(cfg, "a", "yeni");
    configSet(cfg, "c", "kullanici");
    expectEntries(cfg.userEntries, {{"a", "yeni"}, {"b", "2"}, {"a", "3"}, {"c", "kullanici"}});
    expectEntries(cfg.defaultEntries, {{"c", "d"}});
    EXPECT_EQ(configGet(cfg, "c", ""), "kullanici");
}

TEST(Config, SwitchIsOnOnlyForOne) {
    EXPECT_TRUE(isSwitchOn("1"));
    for (const char* off : {"", "0", "11", " 1", "1 ", "true", "evet"})
        EXPECT_FALSE(isSwitchOn(off)) << off;
}

// ---- writing ----

TEST_F(ConfigFiles, SaveWritesEveryEntryWithCrLf) {
    writeFile("launcher.ini", "# eski yorum\nhatirla=1\ncift=a\ncift=b\n  \n");
    Config cfg;
    loadConfigFile(path("launcher.ini"), cfg.userEntries);
    cfg.defaultEntries = {{"sunucu", "varsayilan"}};
    configSet(cfg, "cift", "c");
    configSet(cfg, "kullanici", "Ayşe");
    configSet(cfg, "bos", "");
    ASSERT_TRUE(saveUserConfig(cfg, path("launcher.ini")));
    EXPECT_EQ(readFile("launcher.ini"), "hatirla=1\r\ncift=c\r\ncift=b\r\nkullanici=Ayşe\r\nbos=\r\n");

    // Reading the saved file back gives the same list; the blank-only line was never stored.
    std::vector<ConfigEntry> back;
    loadConfigFile(path("launcher.ini"), back);
    expectEntries(back, {{"hatirla", "1"}, {"cift", "c"}, {"cift", "b"}, {"kullanici", "Ayşe"}, {"bos", ""}});
}

TEST_F(ConfigFiles, EmptyListSavesAnEmptyFile) {
    writeFile("launcher.ini", "a=b\n");
    Config cfg;
    ASSERT_TRUE(saveUserConfig(cfg, path("launcher.ini")));
    EXPECT_EQ(readFile("launcher.ini"), "");
}

TEST_F(ConfigFiles, FailedSaveKeepsFileAndMemory) {
    Config cfg;
    configSet(cfg, "sunucu", "10.0.0.1");
    EXPECT_FALSE(saveUserConfig(cfg, path("yok/launcher.ini")));
    EXPECT_EQ(configGet(cfg, "sunucu", ""), "10.0.0.1");

    // The target is a folder: the rename cannot replace it and the folder stays.
    std::filesystem::create_directories(path("klasor.ini"));
    EXPECT_FALSE(saveUserConfig(cfg, path("klasor.ini")));
    EXPECT_TRUE(std::filesystem::is_directory(path("klasor.ini")));
    EXPECT_EQ(testsupport::listTree(tmp.path()), "") << "no temporary file is left behind";
}

TEST_F(ConfigFiles, ProcessWideConfigurationUsesTheUserFileName) {
    Config saved = config();
    config() = Config{};
    configSet("anahtar", "deger");
    EXPECT_EQ(configGet("anahtar"), "deger");
    EXPECT_EQ(configGet("yok", "geri"), "geri");
    config().defaultEntries = {{"yok", "varsayilan"}};
    EXPECT_EQ(configGet("yok", "geri"), "varsayilan");

    std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(tmp.path());
    bool ok = saveUserConfig();
    std::filesystem::current_path(previous);
    config() = saved;
    ASSERT_TRUE(ok);
    EXPECT_EQ(readFile(kUserConfigFile), "anahtar=deger\r\n");
}

} // namespace
