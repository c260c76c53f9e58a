// sync_test.cpp - morlaken-sync as a studio runs it, over real HTTP: its arguments, exit codes
// and messages, signals (a killed run's download continued by the next run, from a mirror),
// two runs in one folder, and nginx as the server. What the pass itself fetches, resumes and
// installs: tests/update.
#include "support/child_process.h"
#include "support/process_probe.h"
#include "support/site.h"
#include "support/temp_folder.h"
#include "support/test_server.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

class SyncTest : public ::testing::Test {
  protected:
    void SetUp() override { server.serveFolder(site.path()); }
    // morlaken-sync on the game folder from `urls` (the test server's when none): run to its
    // end, or started and left running.
    ProgramRun sync(const std::vector<std::string>& urls = {}, const ChildOptions& o = {}) {
        return runCaptured(builtProgram("morlaken-sync"), args(urls), o);
    }
    bool start(Child& child, const std::vector<std::string>& urls = {}) {
        return child.start(builtProgram("morlaken-sync"), args(urls));
    }
    std::vector<std::string> args(std::vector<std::string> urls) {
        if (urls.empty()) urls = {server.baseUrl()};
        urls.insert(urls.begin(), game.path());
        return urls;
    }

    TempFolder game, site;
    TestServer server;
};

TEST_F(SyncTest, UpToDateFailedAndLauncherReplacedHaveTheirExitCodes) {
    SiteFiles files = {{"oyun.bin", patternBytes(250000, 1)}, {"veri/ağaç 1.png", "png"}};
    publishSite(site.path(), files);
    fs::remove_all(game.path()); // a missing folder is created
    ProgramRun r = sync();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(folderMatches(game.path(), files));
    EXPECT_NE(r.out.find("2 dosya indirildi"), std::string::npos) << r.out;
    r = sync();
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("0 dosya indirildi"), std::string::npos) << r.out;

    files["MorlakenLauncher"] = "new launcher";
    publishSite(site.path(), files);
    EXPECT_EQ(sync().exitCode, 3);
    EXPECT_EQ(readFile(game / "MorlakenLauncher"), "new launcher");

    fs::remove(site / "dosyalar.txt");
    r = sync();
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Güncelleme sunucusuna ulaşılamadı (sunucu 404 dondu)\n");

    writeFile(game / "dosya", "a file, not a folder");
    const int asked = server.totalRequests();
    for (const std::vector<std::string>& usage : {std::vector<std::string>{},
                                                  {game.path()},
                                                  {game.path(), ""},
                                                  {game / "dosya", server.baseUrl()},
                                                  {game / "dosya/alt", server.baseUrl()}})
        EXPECT_EQ(runCaptured(builtProgram("morlaken-sync"), usage).exitCode, 2) << usage.size();
    EXPECT_EQ(server.totalRequests(), asked) << "a usage error asks the server nothing";
}

// TERM and INT stop the pass cleanly, without partial files. A KILL cannot be caught: its
// folder lock goes with the run, and the run that waited for it continues the cut-off download
// from the mirror that answers.
TEST_F(SyncTest, SignalsStopThePassAndTheWaitingRunContinuesAKilledOne) {
    constexpr size_t kSent = 700000;
    const SiteFiles files = {{"big.bin", patternBytes(2000000, 3)}};
    publishSite(site.path(), files);
    server.route("/big.bin", stall(files.at("big.bin"), kSent));
    TestServer mirror;
    mirror.serveFolder(site.path());
    Child waiting;
    for (int signalNumber : {kSigTerm, kSigInt, kSigKill}) {
        SCOPED_TRACE(signalNumber);
        Child child;
        ASSERT_TRUE(start(child));
        ASSERT_TRUE(waitUntil(
            [&] {
                std::error_code ec;
                return fs::file_size(game / "big.bin.indir", ec) == kSent;
            },
            20));
        if (signalNumber == kSigKill) { // every further argument is a mirror: the first refuses connections
            ASSERT_TRUE(start(
                waiting, {"http://127.0.0.1:" + std::to_string(pickFreePort()) + "/", mirror.baseUrl()}));
            ASSERT_TRUE(waitUntil([&] { return flockRole(waiting.pid()) == LockRole::Waits; }, 20));
        }
        child.signal(signalNumber);
        int code = -1;
        ASSERT_TRUE(child.wait(10, code));
        EXPECT_EQ(code, 128 + signalNumber);
        if (signalNumber != kSigKill) {
            EXPECT_EQ(listTree(game.path()), "guncelleme.kilit\n");
        }
    }
    int code = -1;
    ASSERT_TRUE(waiting.wait(30, code));
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(folderMatches(game.path(), files));
    EXPECT_EQ(listTree(game.path()), "big.bin\nguncelleme.cache\nguncelleme.kilit\n");
    std::string ranges;
    for (const SeenRequest& r : mirror.requests())
        ranges += r.path + " " + r.range + "\n";
    EXPECT_EQ(ranges, "/dosyalar.txt \n/big.bin bytes=" + std::to_string(kSent) + "-\n");
}

// Two runs in one folder against a server the test paces: one holds the folder lock through
// its download (files go in list order) while the other waits without reading the list, and
// then finds the work done.
TEST_F(SyncTest, ARunWaitingForTheFolderLockFindsTheWorkDone) {
    const SiteFiles files = {
        {"a.bin", patternBytes(40000, 1)}, {"b/big.bin", patternBytes(3000000, 2)}, {"c.bin", "c"}};
    publishSite(site.path(), files);
    server.route("/b/big.bin",
                 {.behaviour = Behaviour::Hold, .body = files.at("b/big.bin"), .sendBytes = 1000000});
    std::array<Child, 2> runs;
    for (Child& c : runs)
        ASSERT_TRUE(start(c));
    ASSERT_TRUE(waitUntil(
        [&] {
            const LockRole first = flockRole(runs[0].pid()), second = flockRole(runs[1].pid());
            return server.stalledNow() == 1 && first != second && first != LockRole::None &&
                   second != LockRole::None && fileExists(game / "a.bin");
        },
        30))
        << "no run holds the folder lock while the other waits";
    EXPECT_EQ(server.requestCount("/dosyalar.txt"), 1) << "the waiting run must not read the list yet";
    EXPECT_FALSE(fileExists(game / "c.bin")) << "downloads go in list order";
    server.releaseStalls();
    for (Child& c : runs) {
        int code = -1;
        ASSERT_TRUE(c.wait(60, code));
        EXPECT_EQ(code, 0);
    }
    EXPECT_EQ(server.requestCount("/b/big.bin"), 1) << "downloaded once, by the holder";
    EXPECT_TRUE(folderMatches(game.path(), files));
    EXPECT_EQ(listTree(game.path()), "a.bin\nb/big.bin\nc.bin\nguncelleme.cache\nguncelleme.kilit\n");
}

// ---- nginx as the update server (HTTP and HTTPS with the test certificate) ----

constexpr const char* kNginx = "/usr/sbin/nginx";

// nginx in the foreground with a configuration of this test's own, every path it writes to
// under its prefix; serves `root` on two free ports. start() is false when it never listened.
class Nginx {
  public:
    bool start(const std::string& root) {
        const std::string p = prefix_.path(), r = "; root " + root + "; }\n";
        std::string temps;
        for (const char* kind : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
            temps += std::string("  ") + kind + "_temp_path " + p + "/" + kind + ";\n";
        fs::create_directories(prefix_ / "logs");       // opened before the configuration is read
        for (int attempt = 0; attempt < 5; ++attempt) { // a port taken in between: new ones
            port_ = pickFreePort(), tlsPort_ = pickFreePort();
            writeFile(prefix_ / "nginx.conf",
                      "worker_processes 1;\npid " + p + "/nginx.pid;\nerror_log " + p +
                          "/error.log warn;\nevents { worker_connections 64; }\nhttp {\n  access_log off;\n" +
                          temps + "  default_type application/octet-stream;\n  server { listen 127.0.0.1:" +
                          std::to_string(port_) + r + "  server { listen 127.0.0.1:" +
                          std::to_string(tlsPort_) + " ssl; ssl_certificate " + testCertificate() +
                          "; ssl_certificate_key " + testKey() + r + "}\n");
            if (port_ == tlsPort_ ||
                !child_.start(kNginx, {"-c", prefix_ / "nginx.conf", "-p", p + "/", "-g", "daemon off;"}))
                continue;
            // The pid file is written once every socket is bound; a port taken ends nginx first.
            int code;
            bool ended = false;
            auto listening = [&] { return (ended = child_.wait(0, code)) || fileExists(p + "/nginx.pid"); };
            if (waitUntil(listening, 15) && !ended) return true;
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
    // Published as a studio would; the second time over HTTPS, with a patch of the large file
    // that nginx's answers to ranges deliver.
    for (bool tls : {false, true}) {
        if (tls) files["oyun.bin"].replace(2500000, 3000, patternBytes(3000, 4));
        for (const auto& [path, bytes] : files)
            writeFile(site / path, bytes);
        ASSERT_EQ(runCaptured(builtProgram("morlaken-publish"), {site.path()}).exitCode, 0);
        ProgramRun r = sync({nginx.url(tls)}, trusted);
        EXPECT_EQ(r.exitCode, 0) << tls << " " << r.err;
        EXPECT_TRUE(folderMatches(game.path(), files)) << tls;
    }
    EXPECT_EQ(sync({nginx.url(true)}, trusted).exitCode, 0) << "up to date over HTTPS";
}

} // namespace
