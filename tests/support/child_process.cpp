// child_process.cpp - posix_spawn, waitpid and kill for the tests.
#include "support/child_process.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>

extern char** environ;

namespace testsupport {

const int kSigInt = SIGINT;
const int kSigTerm = SIGTERM;
const int kSigKill = SIGKILL;

Child::~Child() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int status;
        ::waitpid(pid_, &status, 0);
    }
}

bool Child::start(const std::string& program, const std::vector<std::string>& args,
                  const ChildOptions& options) {
    std::map<std::string, std::string> env;
    for (char** e = environ; *e; ++e) {
        const char* eq = std::strchr(*e, '=');
        if (eq) env[std::string(*e, static_cast<size_t>(eq - *e))] = eq + 1;
    }
    for (const auto& name : options.unsetEnv)
        env.erase(name);
    for (const auto& [k, v] : options.extraEnv)
        env[k] = v;
    std::vector<std::string> envText;
    for (const auto& [k, v] : env)
        envText.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& s : envText)
        envp.push_back(s.data());
    envp.push_back(nullptr);

    std::vector<std::string> argText{program};
    argText.insert(argText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : argText)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::string out = options.stdoutFile.empty() ? "/dev/null" : options.stdoutFile;
    std::string err = options.stderrFile.empty() ? "/dev/null" : options.stderrFile;
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!options.workingFolder.empty())
        posix_spawn_file_actions_addchdir_np(&actions, options.workingFolder.c_str());
    pid_t pid = -1;
    int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        ADD_FAILURE() << "cannot start " << program << ": " << std::strerror(rc);
        return false;
    }
    pid_ = pid;
    return true;
}

bool Child::wait(double seconds, int& outExitCode) {
    pid_t r = 0;
    int status = 0;
    waitUntil([&] { return pid_ <= 0 || (r = ::waitpid(pid_, &status, WNOHANG)) != 0; }, seconds);
    if (pid_ <= 0 || r != pid_) return false;
    pid_ = -1;
    outExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
}

void Child::signal(int signalNumber) {
    if (pid_ > 0) ::kill(pid_, signalNumber);
}

void Child::kill() {
    signal(SIGKILL);
}

ProgramRun runCaptured(const std::string& program, const std::vector<std::string>& args,
                       const ChildOptions& options, double seconds) {
    TempFolder scratch;
    ChildOptions o = options;
    o.stdoutFile = scratch / "stdout.txt";
    o.stderrFile = options.stderrFile.empty() ? scratch / "stderr.txt" : options.stderrFile;
    ProgramRun run;
    Child child;
    if (child.start(program, args, o) && !child.wait(seconds, run.exitCode)) run.exitCode = -1;
    run.out = readFile(o.stdoutFile);
    run.err = readFile(o.stderrFile);
    return run;
}

int runProgram(const std::string& program, const std::vector<std::string>& args, std::string& outStdout,
               double seconds, const ChildOptions& options) {
    ProgramRun run = runCaptured(program, args, options, seconds);
    outStdout = std::move(run.out);
    return run.exitCode;
}

ProgramRun runSync(const std::string& gameFolder, const std::string& url, const ChildOptions& options) {
    return runCaptured(builtProgram("morlaken-sync"), {gameFolder, url}, options);
}

int pickFreePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    int port = -1;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        socklen_t length = sizeof addr;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
        port = ntohs(addr.sin_port);
    }
    if (fd >= 0) ::close(fd);
    return port;
}

std::string builtProgram(const std::string& name) {
    return std::string(MORLAKEN_BIN_DIR) + "/" + name;
}

} // namespace testsupport
