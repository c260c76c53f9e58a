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

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <thread>

extern char** environ;

namespace testsupport {

const int kSigInt = SIGINT;
const int kSigTerm = SIGTERM;
const int kSigKill = SIGKILL;

namespace {
// How often waits look again; short enough not to slow tests, long enough not to spin.
constexpr auto kPollInterval = std::chrono::milliseconds(5);
} // namespace

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
    if (pid_ <= 0) return false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        int status = 0;
        pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            pid_ = -1;
            outExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return true;
        }
        if (r < 0 || std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(kPollInterval);
    }
}

void Child::signal(int signalNumber) {
    if (pid_ > 0) ::kill(pid_, signalNumber);
}

void Child::kill() {
    signal(SIGKILL);
}

int runProgram(const std::string& program, const std::vector<std::string>& args, std::string& outStdout,
               double seconds, const ChildOptions& options) {
    char name[] = "/tmp/morlaken-child-XXXXXX";
    int fd = ::mkstemp(name);
    if (fd >= 0) ::close(fd);
    ChildOptions o = options;
    o.stdoutFile = name;
    Child child;
    int code = -1;
    if (child.start(program, args, o) && !child.wait(seconds, code)) code = -1;
    outStdout = readFile(name);
    ::unlink(name);
    return code;
}

ProgramRun runCaptured(const std::string& program, const std::vector<std::string>& args,
                       const ChildOptions& options, double seconds) {
    TempFolder scratch;
    ChildOptions o = options;
    o.stderrFile = scratch / "stderr.txt";
    ProgramRun run;
    run.exitCode = runProgram(program, args, run.out, seconds, o);
    run.err = readFile(o.stderrFile);
    return run;
}

ProgramRun runSync(const std::string& gameFolder, const std::string& url, const ChildOptions& options) {
    return runCaptured(builtProgram("morlaken-sync"), {gameFolder, url}, options);
}

ScopedEnv::ScopedEnv(const std::string& name, const char* value) : name_(name) {
    const char* old = std::getenv(name.c_str());
    had_ = old != nullptr;
    old_ = old ? old : "";
    if (value)
        ::setenv(name.c_str(), value, 1);
    else
        ::unsetenv(name.c_str());
}

ScopedEnv::~ScopedEnv() {
    if (had_)
        ::setenv(name_.c_str(), old_.c_str(), 1);
    else
        ::unsetenv(name_.c_str());
}

bool waitUntilImpl(bool (*condition)(void*), void* context, double seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition(context)) {
        if (std::chrono::steady_clock::now() > deadline) return condition(context);
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

bool waitFor(const std::function<bool()>& condition, double seconds, const std::function<void()>& step) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (true) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() > deadline) return condition();
        if (step) step();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
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
