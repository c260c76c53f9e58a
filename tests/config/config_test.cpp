// config_test.cpp - reading, looking up, changing and saving the key=value files.
#include "config/config.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;
const std::string kBom = "\xEF\xBB\xBF";

using namespace testsupport;

class ConfigFiles : public ::testing::Test {
  protected:
    TempFolder tmp;
    const std::string file = tmp / "launcher.ini";
};

Entries pairs(const std::vector<ConfigEntry>& list) {
    Entries out;
    for (const ConfigEntry& e : list)
        out.emplace_back(e.key, e.value);
    return out;
}

// ---- reading ----

TEST_F(ConfigFiles, LineRules) {
    const std::string longValue(100000, 'x');
    const struct {
        std::string text;
        Entries entries;
    } cases[] = {
        {"sunucu=1.2.3.4\n# yorum=yok\n #bosluk=var\n\n[bolum]\nduz metin\na=b=c\nbos=\n=anahtarsiz\n"
         " sunucu = 5 \nson=satir",
         {{"sunucu", "1.2.3.4"},
          {" #bosluk", "var"},
          {"a", "b=c"},
          {"bos", ""},
          {"", "anahtarsiz"},
          {" sunucu ", " 5 "},
          {"son", "satir"}}},
        {"a=1\r\nb=2\r\n#c=3\r\n\r\nd=4\r\n", {{"a", "1"}, {"b", "2"}, {"d", "4"}}},
        {"a=1\r\r\n\r\n", {{"a", "1\r"}}}, // only one CR is dropped
        {"kullanici=Şükrü Öğüt\nuzun=" + longValue + "\n",
         {{"kullanici", "Şükrü Öğüt"}, {"uzun", longValue}}},
        {"", {}},
        // A byte-order mark (Windows editors) is skipped at the very start and nowhere else.
        {kBom, {}},
        {kBom + "\n", {}},
        {kBom + "#a=b\nk=v", {{"k", "v"}}},
        {kBom + "=v", {{"", "v"}}},
        {kBom + kBom + "k=v", {{kBom + "k", "v"}}},
        {"\xEF\xBBk=v", {{"\xEF\xBBk", "v"}}},
        {kBom + "s=1\n" + kBom + "k=v\n", {{"s", "1"}, {kBom + "k", "v"}}},
    };
    for (const auto& c : cases) {
        writeFile(file, c.text);
        std::vector<ConfigEntry> list{{"left", "over"}}; // cleared by every load
        loadConfigFile(file, list);
        EXPECT_EQ(pairs(list), c.entries) << c.text.substr(0, 40);
    }
    std::vector<ConfigEntry> list{{"k", "v"}};
    loadConfigFile(tmp / "yok.ini", list);
    EXPECT_TRUE(list.empty());
    list = {{"k", "v"}};
    loadConfigFile(tmp.path(), list); // a folder is not a readable file either
    EXPECT_TRUE(list.empty());
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
    // A key of the catalogue falls back to its own default.
    EXPECT_EQ(configGet(cfg, keys::kServer), "kullanici");
    EXPECT_EQ(configGet(Config{}, keys::kServer), "127.0.0.1");
    EXPECT_EQ(configGet(Config{}, keys::kRemember), "1");
    EXPECT_TRUE(isSwitchOn(Config{}, keys::kRemember));
    EXPECT_FALSE(isSwitchOn(cfg, keys::kConsole));
}

// ---- writing ----

TEST_F(ConfigFiles, SaveWritesEveryEntryWithCrLfAndReadsBack) {
    writeFile(file, "# eski yorum\nhatirla=1\ncift=a\ncift=b\n  \n");
    Config cfg;
    loadConfigFile(file, cfg.userEntries);
    cfg.defaultEntries = {{"sunucu", "varsayilan"}};
    // configSet changes the first user entry of a key, or appends one (also for a key that
    // only the defaults have, which stay as they are).
    configSet(cfg, "cift", "c");
    configSet(cfg, "kullanici", "Ayşe");
    configSet(cfg, "bos", "");
    configSet(cfg, "sunucu", "kendi");
    EXPECT_EQ(pairs(cfg.defaultEntries), (Entries{{"sunucu", "varsayilan"}}));
    EXPECT_EQ(configGet(cfg, "sunucu", ""), "kendi");
    ASSERT_TRUE(saveUserConfig(cfg, file));
    EXPECT_EQ(readFile(file), "hatirla=1\r\ncift=c\r\ncift=b\r\nkullanici=Ayşe\r\nbos=\r\nsunucu=kendi\r\n");

    // Reading the saved file back gives the same list; the blank-only line was never stored.
    std::vector<ConfigEntry> back;
    loadConfigFile(file, back);
    EXPECT_EQ(pairs(back), pairs(cfg.userEntries));

    ASSERT_TRUE(saveUserConfig(Config{}, file));
    EXPECT_EQ(readFile(file), "") << "an empty list saves an empty file";

    // Found by fuzz/config_fuzz.cpp: a first key that begins with a byte-order mark keeps it
    // through a save and a read.
    cfg = Config{};
    parseConfigText(kBom + kBom + "ilk=x\nleme=x\nu", cfg.userEntries);
    ASSERT_EQ(cfg.userEntries.at(0).key, kBom + "ilk");
    ASSERT_TRUE(saveUserConfig(cfg, file));
    loadConfigFile(file, back);
    EXPECT_EQ(pairs(back), (Entries{{kBom + "ilk", "x"}, {"leme", "x"}}));

    // A failed save keeps the memory as it was. (A target the rename cannot replace:
    // platform_test.cpp, writeFileAtomically.)
    EXPECT_FALSE(saveUserConfig(cfg, tmp / "yok/launcher.ini"));
    EXPECT_EQ(configGet(cfg, kBom + "ilk", ""), "x");
}

} // namespace
