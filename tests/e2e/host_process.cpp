#include "host_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace vq::e2e {
namespace {

using Clock = std::chrono::steady_clock;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string makeTempFile(const char* stem) {
    const char* dir = std::getenv("TMPDIR");
    std::string pattern = std::string(dir && *dir ? dir : "/tmp") + "/" + stem + "-XXXXXX";
    int fd = ::mkstemp(pattern.data());
    if (fd < 0) throw std::runtime_error("mkstemp failed: " + std::string(std::strerror(errno)));
    ::close(fd);
    return pattern;
}

struct Spawned {
    pid_t pid;
    int stdoutFd;  // read end of a pipe, or -1 when stdout went to a file
};

// Starts the host with stdout on a pipe (or into stdoutFile) and stderr into
// stderrFile.
Spawned spawnHost(const HostLaunch& launch, const std::string& stderrFile, const std::string* stdoutFile) {
    std::vector<std::string> args = launch.launcher;
    args.push_back(VELQUETTE_HOST_BINARY);
    bool hasPort = false;
    for (const auto& a : launch.args) hasPort |= a == "--port" || a.starts_with("--port=");
    if (!hasPort) args.insert(args.end(), {"--port", "0"});
    args.insert(args.end(), launch.args.begin(), launch.args.end());

    std::vector<std::string> added = launch.environment;
    if (launch.machineFile) added.push_back("VELQUETTE_MACHINE=" + *launch.machineFile);
    auto replaced = [&](std::string_view entry) {
        if (entry.starts_with("VELQUETTE_MACHINE=")) return true;
        for (const auto& a : added)
            if (entry.substr(0, entry.find('=') + 1) == std::string_view(a).substr(0, a.find('=') + 1)) return true;
        return false;
    };
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (!replaced(*e)) env.emplace_back(*e);
    env.insert(env.end(), added.begin(), added.end());

    auto pointers = [](std::vector<std::string>& strings) {
        std::vector<char*> out;
        for (auto& s : strings) out.push_back(s.data());
        out.push_back(nullptr);
        return out;
    };
    auto argv = pointers(args);
    auto envp = pointers(env);

    int pipeFds[2] = {-1, -1};
    if (!stdoutFile && ::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdoutFile)
        posix_spawn_file_actions_addopen(&actions, 1, stdoutFile->c_str(), O_WRONLY | O_TRUNC, 0);
    else
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, stderrFile.c_str(), O_WRONLY | O_TRUNC, 0);

    pid_t pid = -1;
    int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (!stdoutFile) ::close(pipeFds[1]);
    if (rc != 0) {
        if (!stdoutFile) ::close(pipeFds[0]);
        throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(rc));
    }
    return {pid, stdoutFile ? -1 : pipeFds[0]};
}

ExitStatus toExitStatus(int raw) {
    ExitStatus status;
    if (WIFEXITED(raw)) status.code = WEXITSTATUS(raw);
    if (WIFSIGNALED(raw)) status.signal = WTERMSIG(raw);
    return status;
}

std::optional<ExitStatus> waitFor(pid_t pid, std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    while (true) {
        int raw = 0;
        pid_t done = ::waitpid(pid, &raw, WNOHANG);
        if (done == pid) return toExitStatus(raw);
        if (done < 0 && errno != EINTR) return std::nullopt;
        if (Clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::uint16_t portOfUrl(const std::string& url) {
    // "http://127.0.0.1:PORT/"
    auto colon = url.rfind(':');
    auto slash = url.find('/', colon);
    std::uint16_t port = 0;
    if (colon == std::string::npos || slash == std::string::npos ||
        std::from_chars(url.data() + colon + 1, url.data() + slash, port).ec != std::errc{})
        throw std::runtime_error("host printed no usable URL: \"" + url + "\"");
    return port;
}

}  // namespace

std::string describe(const ExitStatus& status) {
    if (status.code) return "exit code " + std::to_string(*status.code);
    if (status.signal) return "killed by signal " + std::to_string(*status.signal);
    return "still running";
}

HostProcess::HostProcess(HostLaunch launch) : stderrPath_(makeTempFile("velquette-host-stderr")) {
    auto spawned = spawnHost(launch, stderrPath_, nullptr);
    pid_ = spawned.pid;
    stdoutFd_ = spawned.stdoutFd;

    // Sanitizer builds start slowly; a healthy host prints its URL at once.
    auto deadline = Clock::now() + std::chrono::seconds(20);
    std::string line;
    while (line.find('\n') == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{stdoutFd_, POLLIN, 0};
        int ready = left > 0 ? ::poll(&p, 1, int(left)) : 0;
        char buffer[256];
        ssize_t n = ready > 0 ? ::read(stdoutFd_, buffer, sizeof buffer) : 0;
        if (n <= 0) {
            auto status = stop(SIGKILL, std::chrono::seconds(5));
            auto message = "host gave no URL (" + describe(status) + "); stderr: " + stderrText();
            ::close(stdoutFd_);
            ::unlink(stderrPath_.c_str());
            throw std::runtime_error(message);
        }
        line.append(buffer, std::size_t(n));
    }
    url_ = line.substr(0, line.find('\n'));
    port_ = portOfUrl(url_);
}

HostProcess::~HostProcess() {
    if (pid_ > 0) stop(SIGKILL, std::chrono::seconds(5));
    if (stdoutFd_ >= 0) ::close(stdoutFd_);
    ::unlink(stderrPath_.c_str());
}

ExitStatus HostProcess::stop(int signal, std::chrono::milliseconds timeout) {
    if (pid_ <= 0) return {};
    ::kill(pid_, signal);
    auto status = waitFor(pid_, timeout);
    if (!status) {
        ::kill(pid_, SIGKILL);
        status = waitFor(pid_, std::chrono::seconds(5));
    }
    pid_ = -1;
    return status.value_or(ExitStatus{});
}

std::string HostProcess::stderrText() const { return readFile(stderrPath_); }

FinishedHost runHostToCompletion(HostLaunch launch, std::chrono::milliseconds timeout) {
    auto stderrPath = makeTempFile("velquette-host-stderr");
    auto stdoutPath = makeTempFile("velquette-host-stdout");
    auto spawned = spawnHost(launch, stderrPath, &stdoutPath);
    auto status = waitFor(spawned.pid, timeout);
    if (!status) {
        ::kill(spawned.pid, SIGKILL);
        waitFor(spawned.pid, std::chrono::seconds(5));
    }
    FinishedHost out{status.value_or(ExitStatus{}), readFile(stderrPath), readFile(stdoutPath)};
    ::unlink(stderrPath.c_str());
    ::unlink(stdoutPath.c_str());
    return out;
}

std::size_t procStatProcessorCount() {
    std::ifstream in("/proc/stat");
    std::size_t count = 0;
    for (std::string line; std::getline(in, line);)
        if (line.size() > 3 && line.starts_with("cpu") && line[3] >= '0' && line[3] <= '9') ++count;
    return count;
}

}  // namespace vq::e2e
