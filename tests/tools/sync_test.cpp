// sync_test.cpp - morlaken-sync as a studio runs it, the launcher's pass end to end over real
// HTTP: exit codes and messages, signals, a SIGKILL in the middle of a large download and the
// next run continuing it, two passes at once, and nginx as the server.
#include "net/http.h"
#include "support/child_process.h"
#include "support/process_probe.h"
#include "support/site.h"
#include "support/temp_folder.h"
#include "support/test_server.h"
#include "update/filelist.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

class SyncTest : public ::testing::Test {
  protected:
    void SetUp() override { server.serveFolder(site.path()); }
    // morlaken-sync on `folder` (the game folder when "") from `url` (the test server's).
    ProgramRun sync(const std::string& url = "", const std::string& folder = "", const ChildOptions& o = {}) {
        return runCaptured(builtProgram("morlaken-sync"),
                           {folder.empty() ? game.path() : folder, url.empty() ? server.baseUrl() : url}, o);
    }
    ProgramRun publish(const std::vector<std::string>& args) {
        return runCaptured(builtProgram("morlaken-publish"), args);
    }

    TempFolder game, site;
    TestServer server;
};

TEST_F(SyncTest, UpToDateFailedAndLauncherReplacedHaveTheirExitCodes) {
    SiteFiles files = {{"oyun.bin", patternBytes(250000, 1)}, {"veri/ağaç 1.png", "png"}};
    publishSite(site.path(), files);
    const std::string folder = game / "yeni/oyun"; // a missing folder is created
    ProgramRun r = sync("", folder);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(folderMatches(folder, files));
    EXPECT_NE(r.out.find("2 dosya indirildi"), std::string::npos) << r.out;
    writeFile(folder + "/MorlakenLauncher.eski", "set aside by the last update");
    r = sync("", folder);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("0 dosya indirildi"), std::string::npos) << r.out;
    EXPECT_FALSE(fileExists(folder + "/MorlakenLauncher.eski"));

    files["MorlakenLauncher"] = "new launcher";
    publishSite(site.path(), files);
    EXPECT_EQ(sync("", folder).exitCode, 3);
    EXPECT_EQ(readFile(folder + "/MorlakenLauncher"), "new launcher");

    fs::remove(site / "dosyalar.txt");
    r = sync("", folder);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Güncelleme sunucusuna ulaşılamadı (sunucu 404 dondu)\n");

    writeFile(game / "dosya", "a file, not a folder");
    const int asked = server.totalRequests();
    const std::vector<std::vector<std::string>> usage = {{},
                                                         {game.path()},
                                                         {game / "dosya", server.baseUrl()},
                                                         {game / "dosya/alt", server.baseUrl()},
                                                         {game.path(), ""}};
    for (const auto& args : usage)
        EXPECT_EQ(runCaptured(builtProgram("morlaken-sync"), args).exitCode, 2) << args.size();
    EXPECT_EQ(server.totalRequests(), asked) << "a usage error asks the server nothing";
}

TEST_F(SyncTest, TermAndIntStopCleanlyWithoutPartialFiles) {
    SiteFiles files = {{"big.bin", patternBytes(2000000, 3)}};
    publishSite(site.path(), files);
    for (int signalNumber : {kSigTerm, kSigInt}) {
        SCOPED_TRACE(signalNumber);
        TestServer local;
        local.serveFolder(site.path());
        local.route("/big.bin", stall(files["big.bin"], 700000));
        Child child;
        ASSERT_TRUE(child.start(builtProgram("morlaken-sync"), {game.path(), local.baseUrl()}));
        ASSERT_TRUE(
            waitUntil([&] { return local.stalledNow() == 1 && fileExists(game / "big.bin.indir"); }, 20));
        child.signal(signalNumber);
        int code = -1;
        ASSERT_TRUE(child.wait(10, code));
        EXPECT_EQ(code, 128 + signalNumber);
        EXPECT_EQ(listTree(game.path()), "guncelleme.kilit\n"); // the lock; no target, .indir or cache
    }
}

// A target is always its old content or its new verified content, never partial: checked at
// the moment of a SIGKILL. The next run continues the cut-off download from the mirror that
// answers: only the rest of it crosses the wire.
TEST_F(SyncTest, AKilledRunLeavesNoPartialTargetAndTheNextOneContinues) {
    constexpr size_t kSent = 4500000;
    SiteFiles oldFiles = {{"a.bin", patternBytes(30000, 1)},
                          {"b/big.bin", patternBytes(6000000, 2)},
                          {"c.bin", patternBytes(40000, 3)}};
    SiteFiles newFiles = {{"a.bin", patternBytes(30000, 11)},
                          {"b/big.bin", patternBytes(9000000, 12)},
                          {"c.bin", patternBytes(40000, 13)}};
    for (const auto& [path, content] : oldFiles)
        writeFile(game / path, content);
    publishSite(site.path(), newFiles);
    server.route("/b/big.bin", stall(newFiles["b/big.bin"], kSent));

    Child child;
    ASSERT_TRUE(child.start(builtProgram("morlaken-sync"), {game.path(), server.baseUrl()}));
    // Killed while the big file downloads, once a.bin (installed beside it) is in place.
    ASSERT_TRUE(waitUntil(
        [&] {
            return fs::exists(game / "b/big.bin.indir") && fs::file_size(game / "b/big.bin.indir") == kSent &&
                   readFile(game / "a.bin") == newFiles["a.bin"];
        },
        20));
    child.kill();
    int code = 0;
    ASSERT_TRUE(child.wait(10, code));
    EXPECT_EQ(code, 128 + kSigKill);
    EXPECT_EQ(readFile(game / "b/big.bin"), oldFiles["b/big.bin"]); // still the old file
    EXPECT_EQ(readFile(game / "c.bin"), oldFiles["c.bin"]);         // not reached

    // Every further argument is a mirror: the first refuses connections.
    TestServer next;
    next.serveFolder(site.path());
    const std::string refused = "http://127.0.0.1:" + std::to_string(pickFreePort()) + "/";
    EXPECT_EQ(runCaptured(builtProgram("morlaken-sync"), {game.path(), refused, next.baseUrl()}).exitCode, 0);
    EXPECT_TRUE(folderMatches(game.path(), newFiles));
    EXPECT_EQ(listTree(game.path()), "a.bin\nb/big.bin\nc.bin\nguncelleme.cache\nguncelleme.kilit\n");
    std::string ranges;
    for (const SeenRequest& r : next.requests())
        ranges += r.path + " " + r.range + "\n";
    EXPECT_EQ(ranges, "/dosyalar.txt \n/b/big.bin bytes=" + std::to_string(kSent) + "-\n/c.bin \n");
    const long long rest =
        9000000 - kSent + 40000 + static_cast<long long>(readFile(site / "dosyalar.txt").size());
    EXPECT_GE(next.bytesSent(), rest);
    EXPECT_LT(next.bytesSent(), rest + 2000); // and three heads
}

// ---- two passes at once in one folder, against a server the test paces: the second one
// waits for the first one's folder lock and finds the work done, or takes over when the first
// is killed; every file ends correct and its cache record true ----

const SiteFiles kLockFiles = {{"a.bin", patternBytes(40000, 1)},
                              {"b/big.bin", patternBytes(3000000, 2)},
                              {"c.bin", patternBytes(50000, 3)}};

class SyncLockTest : public ::testing::Test {
  protected:
    void SetUp() override {
        publishSite(site.path(), kLockFiles);
        server.serveFolder(site.path());
        server.route("/b/big.bin", hold(kLockFiles.at("b/big.bin"), 1000000)); // a slow server
        for (Child& c : syncs)
            ASSERT_TRUE(c.start(builtProgram("morlaken-sync"), {game.path(), server.baseUrl()}));
        // One pass is inside the big download and holds the lock; the other is blocked on it.
        ASSERT_TRUE(waitUntil(
            [&] {
                return server.stalledNow() == 1 && flockRole(syncs[0].pid()) != flockRole(syncs[1].pid()) &&
                       flockRole(syncs[0].pid()) != LockRole::None &&
                       flockRole(syncs[1].pid()) != LockRole::None;
            },
            30))
            << "no pass holds the folder lock while the other waits";
        holder = flockRole(syncs[0].pid()) == LockRole::Holds ? 0 : 1;
        EXPECT_EQ(server.requestCount("/dosyalar.txt"), 1) << "the waiting pass must not read the list yet";
    }

    // Every listed file has its content, and its cache record its hash, size and time.
    void expectFolderAndCacheTrue() {
        EXPECT_TRUE(folderMatches(game.path(), kLockFiles));
        UpdateCache cache = loadUpdateCache(game / kUpdateCacheFile);
        for (const auto& [path, content] : kLockFiles) {
            SCOPED_TRACE(path);
            EXPECT_EQ(cache.entries[path].hash, referenceSha256(content));
            EXPECT_EQ(cache.entries[path].size, static_cast<int64_t>(content.size()));
            EXPECT_EQ(cache.mtimes[path], fileModTime(game / path));
        }
        EXPECT_EQ(listTree(game.path()), "a.bin\nb/big.bin\nc.bin\nguncelleme.cache\nguncelleme.kilit\n");
    }

    TempFolder game, site;
    TestServer server;
    std::array<Child, 2> syncs;
    int holder = 0;
};

TEST_F(SyncLockTest, TheSecondPassWaitsAndFindsTheWorkDone) {
    server.releaseStalls();
    for (Child& c : syncs) {
        int code = -1;
        ASSERT_TRUE(c.wait(60, code));
        EXPECT_EQ(code, 0);
    }
    EXPECT_EQ(server.requestCount("/b/big.bin"), 1); // downloaded once, by the first pass
    EXPECT_EQ(server.requestCount("/dosyalar.txt"), 2);
    expectFolderAndCacheTrue();
}

TEST_F(SyncLockTest, WhenTheHolderIsKilledTheWaitingPassTakesOver) {
    Child& first = syncs[holder];
    Child& second = syncs[1 - holder];
    first.kill();
    int code = -1;
    ASSERT_TRUE(first.wait(10, code));
    EXPECT_EQ(code, 128 + kSigKill);
    // The dead pass's lock is released: the other one reads the list and downloads.
    ASSERT_TRUE(waitUntil([&] { return server.requestCount("/b/big.bin") >= 2; }, 30));
    server.releaseStalls();
    ASSERT_TRUE(second.wait(60, code));
    EXPECT_EQ(code, 0);
    expectFolderAndCacheTrue(); // no ".indir" of the killed pass is left either
}

// ---- nginx as the update server (HTTP and HTTPS with the test certificate) ----

constexpr const char* kNginx = "/usr/sbin/nginx";

// nginx in the foreground with a configuration of this test's own, every path it writes to
// under its prefix; serves `root` on two free ports. start() is false when it never answered.
class Nginx {
  public:
    bool start(const std::string& root) {
        for (int attempt = 0; attempt < 5; ++attempt) { // a port taken in between: new ones
            port_ = pickFreePort(), tlsPort_ = pickFreePort();
            if (port_ <= 0 || tlsPort_ <= 0 || port_ == tlsPort_) continue;
            const std::string p = prefix_.path(), r = "; root " + root + "; }\n";
            std::string temps;
            for (const char* kind : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
                temps += std::string("  ") + kind + "_temp_path " + p + "/" + kind + ";\n";
            writeFile(prefix_ / "nginx.conf",
                      "worker_processes 1;\npid " + p + "/nginx.pid;\nerror_log " + p +
                          "/error.log warn;\nevents { worker_connections 64; }\nhttp {\n  access_log off;\n" +
                          temps + "  default_type application/octet-stream;\n  server { listen 127.0.0.1:" +
                          std::to_string(port_) + r + "  server { listen 127.0.0.1:" +
                          std::to_string(tlsPort_) + " ssl; ssl_certificate " + testCertificate() +
                          "; ssl_certificate_key " + testKey() + r + "}\n");
            fs::create_directories(prefix_ / "logs"); // opened before the configuration is read
            if (!child_.start(kNginx, {"-c", prefix_ / "nginx.conf", "-p", p + "/", "-g", "daemon off;"}))
                return false;
            std::string body, error;
            int code;
            if (waitUntil(
                    [&] {
                        return !child_.running() ||
                               httpGet(url(false) + "dosyalar.txt", makeStringSink(body, kFileListCap), error,
                                       neverStop()) ||
                               error == "sunucu 404 dondu";
                    },
                    15) &&
                !child_.wait(0, code))
                return true;
            child_.kill();
            child_.wait(5, code);
        }
        return false;
    }
    ~Nginx() {
        child_.signal(kSigTerm); // the destructor of child_ reaps (or kills)
        int code;
        child_.wait(10, code);
    }
    std::string url(bool tls) const {
        return (tls ? "https" : "http") + std::string("://127.0.0.1:") +
               std::to_string(tls ? tlsPort_ : port_) + "/";
    }

  private:
    TempFolder prefix_;
    Child child_;
    int port_ = 0, tlsPort_ = 0;
};

TEST_F(SyncTest, PassesThroughNginxOverHttpAndHttps) {
    if (!fs::exists(kNginx)) GTEST_SKIP() << "nginx is not installed";
    SiteFiles files = {{"oyun.bin", patternBytes(5000000, 1)},
                       {"veri/ağaç 1.png", patternBytes(70000, 2)},
                       {"veri/boş dosya", ""}};
    Nginx nginx;
    ASSERT_TRUE(nginx.start(site.path()));
    ChildOptions trusted;
    trusted.extraEnv = {{"SSL_CERT_FILE", testCertificate()}};
    // Each step changes files and publishes them as a studio would; the launcher itself
    // travels with a restart (3); the last step patches the large file with nginx's answers
    // to ranges.
    const struct {
        const char* path;
        uint32_t seed;
        bool tls, patch;
        int code;
    } steps[] = {{"oyun.bin", 1, false, false, 0},
                 {"MorlakenLauncher", 5, false, false, 3},
                 {"oyun.bin", 4, true, true, 0}};
    for (const auto& s : steps) {
        std::string& content = files[s.path];
        if (s.patch)
            content.replace(2500000, 3000, patternBytes(3000, s.seed));
        else
            content = patternBytes(content.empty() ? 100 : content.size(), s.seed);
        for (const auto& [path, bytes] : files)
            writeFile(site / path, bytes);
        ASSERT_EQ(publish({site.path(), "--version", std::to_string(s.seed)}).exitCode, 0);
        ProgramRun r = sync(nginx.url(s.tls), "", trusted);
        EXPECT_EQ(r.exitCode, s.code) << s.path << " " << r.err;
        EXPECT_TRUE(folderMatches(game.path(), files)) << s.path;
    }
    EXPECT_EQ(sync(nginx.url(true), "", trusted).exitCode, 0) << "up to date over HTTPS";
}

} // namespace
