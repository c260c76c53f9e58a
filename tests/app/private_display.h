// private_display.h - an Xvfb of the test's own, started on a free display number and
// stopped with the test, so launcher windows never meet another test's pointer or
// windows on a shared X server.
#pragma once

#include "support/child_process.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

class PrivateDisplay {
  public:
    // `dir` holds the server's files (it must exist and outlive this object). The server never
    // resets: without -noreset each xdotool call that leaves it clientless starts a reset,
    // and a launcher connecting during one fails with "Pencere sistemi baslatilamadi.".
    explicit PrivateDisplay(const std::filesystem::path& dir) : dir_(dir) {
        std::system(("Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset 3>'" +
                     (dir_ / "display").string() + "' >/dev/null 2>&1 & echo $! >'" +
                     (dir_ / "xvfb.pid").string() + "'")
                        .c_str());
        const bool up = testsupport::waitUntil(
            [&] {
                const std::string d = testsupport::readFile(dir_ / "display");
                if (d.empty() || d.back() != '\n') return false;
                name_ = ":" + d.substr(0, d.size() - 1);
                return true;
            },
            20);
        if (!up) ADD_FAILURE() << "Xvfb did not start";
    }
    ~PrivateDisplay() {
        const std::string pid = testsupport::readFile(dir_ / "xvfb.pid");
        if (!pid.empty()) std::system(("kill " + pid + " 2>/dev/null").c_str());
    }
    PrivateDisplay(const PrivateDisplay&) = delete;
    PrivateDisplay& operator=(const PrivateDisplay&) = delete;

    // ":N", or "" when the server did not come up.
    const std::string& name() const { return name_; }

  private:
    std::filesystem::path dir_;
    std::string name_;
};
