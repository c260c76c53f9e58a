// child_process.cpp - posix_spawn, waitpid and kill for the tests.
#include "support/child_process.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace testsupport {

const int kSigInt = SIGINT, kSigTerm = SIGTERM, kSigKill = SIGKILL;

Child::~Child() {
    int status;
    if (pid_ > 0 && ::kill(pid_, SIGKILL) == 0) ::waitpid(pid_, &status, 0);
}

bool Child::start(const std::string& program, const std::vector<std::string>& args,
                  const ChildOptions& options) {
    // Our environment without the names unset or replaced, then the extra variables.
    std::vector<std::string> envText, argText{program};
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e, name = entry.substr(0, entry.find('='));
        const auto replaced = [&](const auto& kv) { return kv.first == name; };
        if (std::find(options.unsetEnv.begin(), options.unsetEnv.end(), name) == options.unsetEnv.end() &&
            std::none_of(options.extraEnv.begin(), options.extraEnv.end(), replaced))
            envText.push_back(entry);
    }
    for (const auto& [k, v] : options.extraEnv)
        envText.push_back(k + "=" + v);
    argText.insert(argText.end(), args.begin(), args.end());
    std::vector<char*> envp, argv;
    for (auto& s : envText)
        envp.push_back(s.data());
    for (auto& s : argText)
        argv.push_back(s.data());
    envp.push_back(nullptr);
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    const std::string out = options.stdoutFile.empty() ? "/dev/null" : options.stdoutFile;
    const std::string err = options.stderrFile.empty() ? "/dev/null" : options.stderrFile;
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!options.workingFolder.empty())
        posix_spawn_file_actions_addchdir_np(&actions, options.workingFolder.c_str());
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) ADD_FAILURE() << "cannot start " << program << ": " << std::strerror(rc);
    pid_ = rc == 0 ? pid : -1;
    return rc == 0;
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

int pickFreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    const bool bound = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
                       ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) == 0;
    if (fd >= 0) ::close(fd);
    return bound ? ntohs(addr.sin_port) : -1;
}

} // namespace testsupport
