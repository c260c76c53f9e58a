// child_process.h - start a program from a test, wait for it with a deadline, signal it. The
// only place in the tests that talks to the process API directly.
#pragma once

#include "support/scoped_env.h"
#include "support/wait.h"

#include <string>
#include <utility>
#include <vector>

namespace testsupport {

struct ChildOptions {
    std::vector<std::pair<std::string, std::string>> extraEnv; // added to (or replacing in) ours
    std::vector<std::string> unsetEnv;
    std::string stdoutFile, stderrFile; // "" = /dev/null
    std::string workingFolder;
};

// Signal numbers the tests use, without an OS header in the tests themselves.
extern const int kSigInt, kSigTerm, kSigKill;

class Child {
  public:
    Child() = default;
    ~Child(); // kills (SIGKILL) and reaps a child that is still running
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Starts `program` with `args`. False (and ADD_FAILURE) when it cannot start.
    bool start(const std::string& program, const std::vector<std::string>& args,
               const ChildOptions& options = {});
    // Waits at most `seconds` for the child to end; true with its exit code (128 + N after
    // signal N) when it ended.
    bool wait(double seconds, int& outExitCode);
    void signal(int signalNumber);
    void kill() { signal(kSigKill); }
    bool running() const { return pid_ > 0; }
    int pid() const { return pid_; }

  private:
    int pid_ = -1;
};

struct ProgramRun {
    int exitCode = -1; // -1 on time-out
    std::string out, err;
};
// Runs `program` to its end (at most `seconds`), its standard output and error captured.
ProgramRun runCaptured(const std::string& program, const std::vector<std::string>& args,
                       const ChildOptions& options = {}, double seconds = 120);
// The exit code of runCaptured (-1 on time-out); standard output lands in `outStdout`.
inline int runProgram(const std::string& program, const std::vector<std::string>& args,
                      std::string& outStdout, double seconds = 120, const ChildOptions& options = {}) {
    ProgramRun run = runCaptured(program, args, options, seconds);
    outStdout = std::move(run.out);
    return run.exitCode;
}

// A TCP port on 127.0.0.1 that was free a moment ago (bind to 0, read it, close).
int pickFreePort();

// Path of a program built beside the tests (MORLAKEN_BIN_DIR/name).
inline std::string builtProgram(const std::string& name) {
    return std::string(MORLAKEN_BIN_DIR) + "/" + name;
}

} // namespace testsupport
