// shortcut_test.cpp - the desktop shortcut: made once in the desktop folder XDG points at,
// never again once "kisayol" is "1", nothing written without a desktop folder; the entry
// passes desktop-file-validate, also for a path with blanks and quotes.
#include "app/shortcut.h"
#include "config/config.h"
#include "platform/platform.h"
#include "support/child_process.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using namespace testsupport;
namespace fs = std::filesystem;

class Shortcut : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(platform::setWorkingFolder(folder.path())); }
    void TearDown() override { fs::current_path(previous_); }
    ::testing::AssertionResult valid() {
        std::string out;
        if (runProgram("/usr/bin/desktop-file-validate", {shortcut}, out, 30) == 0)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << readFile(shortcut) << out;
    }
    const fs::path previous_ = fs::current_path();
    TempFolder folder;
    const std::string desktop = folder / "Masaüstü";
    const std::string shortcut = desktop + "/" + kShortcutName + platform::desktopShortcutExtension();
    ScopedEnv xdg_{"XDG_DESKTOP_DIR", desktop.c_str()};
};

TEST_F(Shortcut, MadeOnceUnlessKisayolIsOneInEitherFileAndNeverWithoutADesktop) {
    const struct {
        std::vector<ConfigEntry> user, defaults;
        bool desktop, made;
    } cases[] = {
        {{}, {}, false, false},
        {{}, {}, true, true},
        {{{"kisayol", "1"}}, {}, true, false},
        {{}, {{"kisayol", "1"}}, true, false},
        {{{"kisayol", "0"}}, {{"kisayol", "1"}}, true, true},
        {{{"kisayol", "1 "}}, {}, true, true},
    };
    const std::string exe = platform::executablePath(), home = exe.substr(0, exe.rfind('/'));
    for (const auto& c : cases) {
        fs::remove_all(desktop);
        fs::remove(folder / "launcher.ini");
        if (c.desktop) fs::create_directory(desktop);
        Config cfg{c.user, c.defaults};
        ensureDesktopShortcut(cfg);
        EXPECT_EQ(fileExists(shortcut), c.made);
        EXPECT_EQ(configGet(cfg, keys::kShortcutDone), c.desktop ? "1" : "");
        EXPECT_EQ(readFile(folder / "launcher.ini").find("kisayol=1") != std::string::npos, c.made);
        if (!c.made) continue;
        EXPECT_NE(fs::status(shortcut).permissions() & fs::perms::owner_exec, fs::perms::none);
        const std::string text = readFile(shortcut);
        EXPECT_NE(text.find("Name=Morlaken Online\n"), std::string::npos) << text;
        EXPECT_NE(text.find("Exec=" + exe + "\nPath=" + home + "\nIcon=" + home + "/veri/logo.png\n"),
                  std::string::npos)
            << text;
        EXPECT_TRUE(valid());
        fs::remove(shortcut);
        ensureDesktopShortcut(cfg);
        EXPECT_FALSE(fileExists(shortcut));
    }
}

TEST_F(Shortcut, ExecKeepsAPathWithBlanksAndQuotesAsOneArgument) {
    fs::create_directory(desktop);
    const std::pair<std::string, std::string> cases[] = {
        {"/oyun/MorlakenLauncher", "Exec=/oyun/MorlakenLauncher\n"},
        {"/Oyunlar/Morlaken Online/MorlakenLauncher", "Exec=\"/Oyunlar/Morlaken Online/MorlakenLauncher\"\n"},
        {"/a\"b/$c`d/e\\f/%g", "Exec=\"/a\\\\\"b/\\\\$c\\\\`d/e\\\\\\\\f/%%g\"\n"},
    };
    for (const auto& [path, exec] : cases) {
        ASSERT_TRUE(platform::saveDesktopShortcut({kShortcutName, path, "/oyun", "/oyun/logo.png", "x"}));
        EXPECT_NE(readFile(shortcut).find(exec), std::string::npos) << readFile(shortcut);
        EXPECT_TRUE(valid()) << path;
    }
}

} // namespace
