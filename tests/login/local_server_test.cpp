// local_server_test.cpp - the local server is started only for a local address, only when
// none of its name runs, and ended at exit only when this launcher started it. The server
// is a copy of morlaken-game under a name of its own (so parallel tests never see each
// other's), which stays up until it is ended.
#include "login/local_server.h"
#include "login/login_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

namespace {

using namespace logintest;

TEST(LocalServer, StartsOnlyForAnExactLocalHostAndAnExistingExecutable) {
    GameFolder server(0, 60, "yerelsunucu" + std::to_string(std::random_device{}() % 1000000));
    struct Case {
        std::string sunucu, path;
        bool started;
    } cases[] = {
        {"127.0.0.1", server.dir / server.name, true},
        {" localhost:27016 ", server.dir / server.name, true},
        {"LOCALHOST", server.dir / server.name, false},
        {"127.0.0.2", server.dir / server.name, false},
        {"oyun.example", server.dir / server.name, false},
        {"a:b:c", server.dir / server.name, false},
        {"127.0.0.1", server.dir / "yok", false},
        {"127.0.0.1", "", false},
    };
    for (const Case& c : cases) {
        Config cfg;
        configSet(cfg, keys::kServer, c.sunucu);
        configSet(cfg, keys::kLocalServer, c.path);
        configSet(cfg, keys::kLocalServerFolder, server.dir.path());
        LocalServer local;
        EXPECT_EQ(startLocalServer(local, cfg), c.started) << c.sunucu << " " << c.path;
        EXPECT_EQ(local.process != 0, c.started);
        if (!c.started) continue;
        EXPECT_TRUE(waitUntil([&] { return platform::isProgramRunning(server.name); }, 10));
        // One of its name runs (in any letter case: platform_test): a second is not started,
        // and ending that one ends nothing.
        LocalServer second;
        EXPECT_FALSE(startLocalServer(second, cfg));
        stopLocalServer(second);
        EXPECT_TRUE(platform::isProgramRunning(server.name));
        stopLocalServer(local);
        EXPECT_EQ(local.process, 0);
        EXPECT_TRUE(waitUntil([&] { return !platform::isProgramRunning(server.name); }, 10)) << c.sunucu;
    }
}

TEST(LocalServer, ShippedDefaultsStartNothingOutsideTheGameFolder) {
    // Whatever sits beside the game folder (anyone may have put a program there) is never
    // started on the defaults: neither the shipped file's nor the built-in ones.
    TempFolder root;
    std::filesystem::create_directories(root / "oyun");
    std::filesystem::create_directories(root / "build");
    std::filesystem::copy_file(builtProgram("morlaken-game"), root / "build/morlaken_server");
    writeFile(root / "build/morlaken-game.ini", "sure=60\npencere=0\n");
    const std::string before = std::filesystem::current_path();
    ASSERT_TRUE(platform::setWorkingFolder(root / "oyun"));
    for (const std::string& defaults :
         {std::string(MORLAKEN_SOURCE_DIR "/varsayilan.ini"), root / "yok.ini"}) {
        Config cfg;
        loadConfigFile(defaults, cfg.defaultEntries);
        LocalServer local;
        EXPECT_FALSE(startLocalServer(local, cfg)) << defaults;
    }
    platform::setWorkingFolder(before);
}

} // namespace
