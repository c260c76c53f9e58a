// nginx_test.cpp - the update pass against a real web server: nginx started by the test on
// 127.0.0.1 (HTTP and HTTPS with the test certificate), serving a folder published with
// morlaken-publish.
#include "net/http.h"
#include "support/child_process.h"
#include "support/site.h"
#include "support/temp_folder.h"
#include "support/test_server.h"
#include "update/chunks.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

constexpr const char* kNginx = "/usr/sbin/nginx";
constexpr int kStartAttempts = 5;

// nginx in the foreground with a configuration written for this test only.
class Nginx {
  public:
    // Serves `root` over HTTP and HTTPS on two free ports. False when it never answered.
    bool start(const std::string& root) {
        for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
            httpPort_ = pickFreePort();
            httpsPort_ = pickFreePort();
            if (httpPort_ <= 0 || httpsPort_ <= 0 || httpPort_ == httpsPort_) continue;
            writeFile(prefix_ / "nginx.conf", config(root));
            fs::create_directories(prefix_ / "logs"); // nginx opens its default log before reading the file
            ChildOptions options;
            options.stderrFile = prefix_ / "stderr.txt";
            if (!child_.start(kNginx,
                              {"-c", prefix_ / "nginx.conf", "-p", prefix_.path() + "/", "-g", "daemon off;"},
                              options))
                return false;
            bool up = waitUntil(
                [&] {
                    if (!child_.running()) return true;
                    std::string body, error;
                    return httpGet(httpUrl() + "dosyalar.txt", makeStringSink(body, kFileListCap), error,
                                   neverStop()) ||
                           error == "sunucu 404 dondu";
                },
                15);
            int code;
            if (up && !child_.wait(0, code)) return true;
            // A port was taken in between: try again with new ones.
            child_.kill();
            child_.wait(5, code);
        }
        return false;
    }
    ~Nginx() {
        child_.signal(kSigTerm); // fast shutdown; the destructor of child_ reaps (or kills)
        int code;
        child_.wait(10, code);
    }
    std::string httpUrl() const { return "http://127.0.0.1:" + std::to_string(httpPort_) + "/"; }
    std::string httpsUrl() const { return "https://127.0.0.1:" + std::to_string(httpsPort_) + "/"; }
    std::string log() { return readFile(prefix_ / "stderr.txt") + readFile(prefix_ / "error.log"); }

  private:
    // Every path nginx may write to lies under the test's own prefix.
    std::string config(const std::string& root) const {
        const std::string p = prefix_.path(), http = std::to_string(httpPort_),
                          https = std::to_string(httpsPort_);
        return "worker_processes 1;\npid " + p + "/nginx.pid;\nerror_log " + p + "/error.log warn;\n" +
               "events { worker_connections 64; }\nhttp {\n  access_log off;\n" + "  client_body_temp_path " +
               p + "/body;\n  proxy_temp_path " + p + "/proxy;\n" + "  fastcgi_temp_path " + p +
               "/fastcgi;\n  uwsgi_temp_path " + p + "/uwsgi;\n" + "  scgi_temp_path " + p + "/scgi;\n" +
               "  types { text/plain txt; }\n  default_type application/octet-stream;\n" +
               "  server { listen 127.0.0.1:" + http + "; root " + root + "; }\n" +
               "  server { listen 127.0.0.1:" + https + " ssl; ssl_certificate " + testCertificate() +
               "; ssl_certificate_key " + testKey() + "; root " + root + "; }\n}\n";
    }

    TempFolder prefix_;
    Child child_;
    int httpPort_ = 0;
    int httpsPort_ = 0;
};

class NginxTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fs::exists(kNginx)) GTEST_SKIP() << "nginx is not installed";
    }
    // Writes the files and lists them with morlaken-publish, as a studio would.
    void publish(const SiteFiles& files, const std::string& version) {
        for (const auto& [path, content] : files)
            writeFile(site / path, content);
        std::string out;
        ASSERT_EQ(runProgram(builtProgram("morlaken-publish"), {site.path(), "--version", version}, out), 0);
        // The published list must be the one the files call for, large files' indexes named.
        std::string list = siteList(files, version);
        for (const auto& [path, content] : files) {
            if (int64_t(content.size()) < kIndexedFileMinBytes) continue;
            const std::string index = chunkIndexBytes(chunkBytes(content), int64_t(content.size()));
            list += chunkIndexLine(path, {referenceSha256(index), int64_t(index.size())});
        }
        ASSERT_EQ(readFile(site / "dosyalar.txt"), list);
    }
    // morlaken-sync's exit code; its standard error lands in `outError`.
    int sync(const std::string& url, std::string& outError, const ChildOptions& options = {}) {
        ProgramRun run = runSync(game.path(), url, options);
        outError = run.err;
        return run.exitCode;
    }
    TempFolder site, game;
};

TEST_F(NginxTest, PassesOverHttpAndHttps) {
    SiteFiles files = {{"oyun.bin", patternBytes(5000000, 1)},
                       {"veri/ağaç 1.png", patternBytes(70000, 2)},
                       {"veri/boş dosya", ""}};
    publish(files, "2.1");
    Nginx nginx;
    ASSERT_TRUE(nginx.start(site.path()));

    std::string error;
    EXPECT_EQ(sync(nginx.httpUrl(), error), 0) << error << nginx.log();
    EXPECT_TRUE(folderMatches(game.path(), files));

    // One changed file: only it travels; the launcher itself travels with a restart.
    files["veri/ağaç 1.png"] = patternBytes(70000, 3);
    files["MorlakenLauncher"] = "new launcher";
    publish(files, "2.2");
    EXPECT_EQ(sync(nginx.httpUrl(), error), 3) << error;
    EXPECT_TRUE(folderMatches(game.path(), files));

    // HTTPS with the test certificate trusted (refusing an untrusted one is tested with
    // the HTTP client itself), the large file patched with nginx's answers to ranges.
    files["oyun.bin"].replace(2500000, 3000, patternBytes(3000, 4));
    publish(files, "2.3");
    ChildOptions trusted;
    trusted.extraEnv = {{"SSL_CERT_FILE", testCertificate()}};
    EXPECT_EQ(sync(nginx.httpsUrl(), error, trusted), 0) << error;
    EXPECT_TRUE(folderMatches(game.path(), files));
    EXPECT_EQ(sync(nginx.httpsUrl(), error, trusted), 0) << error;
}

} // namespace
