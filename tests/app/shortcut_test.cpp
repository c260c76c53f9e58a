// shortcut_test.cpp - the desktop shortcut: made once in the desktop folder XDG points at,
// never again once "kisayol" is "1", nothing written without a desktop folder; the entry
// passes desktop-file-validate, also for a path with blanks and quotes.
#include "config/config.h"
#include "platform/platform.h"
#include "app/shortcut.h"
#include "support/child_process.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using namespace testsupport;

class Shortcut : public ::testing::Test {
  protected:
    void SetUp() override {
        previous_ = std::filesystem::current_path();
        ASSERT_TRUE(platform::setWorkingFolder(folder.path()));
        std::filesystem::create_directory(desktop());
    }
    void TearDown() override { std::filesystem::current_path(previous_); }
    std::string desktop() const { return folder / "Masaüstü"; }
    std::string shortcut() const {
        return desktop() + "/" + kShortcutName + platform::desktopShortcutExtension();
    }
    TempFolder folder;
    Config cfg;
    ScopedEnv xdg_{"XDG_DESKTOP_DIR", (folder / "Masaüstü").c_str()};

  private:
    std::filesystem::path previous_;
};

int validate(const std::string& path, std::string& out) {
    return runProgram("/usr/bin/desktop-file-validate", {path}, out, 30);
}

TEST_F(Shortcut, MadeOnceAndNotAgainAfterThePlayerDeletesIt) {
    ensureDesktopShortcut(cfg);
    ASSERT_TRUE(fileExists(shortcut()));
    const auto perms = std::filesystem::status(shortcut()).permissions();
    EXPECT_NE(perms & std::filesystem::perms::owner_exec, std::filesystem::perms::none);
    const std::string text = readFile(shortcut());
    EXPECT_NE(text.find("Exec=" + platform::executablePath() + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Name=Morlaken Online\n"), std::string::npos);
    const std::string home = platform::executablePath().substr(0, platform::executablePath().rfind('/'));
    EXPECT_NE(text.find("Path=" + home + "\nIcon=" + home + "/veri/logo.png\n"), std::string::npos) << text;
    std::string out;
    EXPECT_EQ(validate(shortcut(), out), 0) << out;
    EXPECT_NE(readFile(folder / "launcher.ini").find("kisayol=1"), std::string::npos);

    std::filesystem::remove(shortcut());
    ensureDesktopShortcut(cfg);
    EXPECT_FALSE(fileExists(shortcut()));
}

TEST_F(Shortcut, KisayolOneInEitherFileMeansDoneAnyOtherValueDoesNot) {
    struct Case {
        std::vector<ConfigEntry> user, defaults;
        bool made;
    } cases[] = {
        {{{"kisayol", "1"}}, {}, false},
        {{}, {{"kisayol", "1"}}, false},
        {{{"kisayol", "0"}}, {{"kisayol", "1"}}, true},
        {{{"kisayol", "1 "}}, {}, true},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(shortcut());
        cfg = Config{c.user, c.defaults};
        ensureDesktopShortcut(cfg);
        EXPECT_EQ(fileExists(shortcut()), c.made);
        if (c.made) {
            EXPECT_EQ(configGet(cfg, keys::kShortcutDone), "1");
        }
    }
}

TEST_F(Shortcut, NothingIsWrittenWithoutADesktopFolder) {
    std::filesystem::remove(desktop());
    ensureDesktopShortcut(cfg);
    EXPECT_FALSE(fileExists(shortcut()));
    EXPECT_FALSE(fileExists(folder / "launcher.ini"));
    EXPECT_EQ(configGet(cfg, keys::kShortcutDone), "");
}

TEST_F(Shortcut, ExecKeepsAPathWithBlanksAndQuotesAsOneArgument) {
    struct Case {
        std::string path, exec;
    } cases[] = {
        {"/oyun/MorlakenLauncher", "Exec=/oyun/MorlakenLauncher\n"},
        {"/Oyunlar/Morlaken Online/MorlakenLauncher", "Exec=\"/Oyunlar/Morlaken Online/MorlakenLauncher\"\n"},
        {"/a\"b/$c`d/e\\f/%g", "Exec=\"/a\\\\\"b/\\\\$c\\\\`d/e\\\\\\\\f/%%g\"\n"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(platform::saveDesktopShortcut({kShortcutName, c.path, "/oyun", "/oyun/logo.png", "x"}));
        const std::string text = readFile(shortcut());
        EXPECT_NE(text.find(c.exec), std::string::npos) << text;
        std::string out;
        EXPECT_EQ(validate(shortcut(), out), 0) << c.path << "\n" << out;
    }
}

} // namespace
