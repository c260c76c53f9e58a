// devhost.h - morlaken-devhost started by a test on 127.0.0.1 with an ephemeral port; the
// port is read from its first output line.
#pragma once

#include "support/child_process.h"
#include "support/temp_folder.h"

#include <string>
#include <vector>

namespace testsupport {

class DevHost {
  public:
    // Starts the program with `args`; false when it never announced its port.
    // `program` is morlaken-devhost or another built program that announces "port N" the
    // same way (morlaken_server); `workingFolder` "" keeps the test's own.
    bool start(const std::vector<std::string>& args, const std::string& program = "morlaken-devhost",
               const std::string& workingFolder = "") {
        ChildOptions options;
        options.workingFolder = workingFolder;
        options.stdoutFile = scratch_ / "stdout.txt";
        options.stderrFile = scratch_ / "stderr.txt";
        if (!child_.start(builtProgram(program), args, options)) return false;
        return waitUntil(
            [&] {
                std::string out = readFile(scratch_ / "stdout.txt");
                if (out.rfind("port ", 0) != 0 || out.find('\n') == std::string::npos) return false;
                port_ = std::stoi(out.substr(5));
                return true;
            },
            20);
    }
    int port() const { return port_; }
    std::string url(const std::string& scheme = "http") const {
        return scheme + "://127.0.0.1:" + std::to_string(port_) + "/";
    }
    Child& child() { return child_; }
    std::string log() { return readFile(scratch_ / "stderr.txt"); }
    std::string output() { return readFile(scratch_ / "stdout.txt"); }

  private:
    TempFolder scratch_;
    Child child_;
    int port_ = 0;
};

} // namespace testsupport
