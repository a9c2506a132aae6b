#pragma once
// Runs the real velquette binary as a child process for end-to-end tests:
// on an ephemeral port, on a machine file or on the real machine, and stops
// it with SIGTERM so that a clean exit can be checked.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vq::e2e {

struct HostLaunch {
    // VELQUETTE_MACHINE for the child; nullopt runs it on the real machine.
    std::optional<std::string> machineFile;
    // Arguments after the binary; "--port 0" is added unless a --port is given.
    std::vector<std::string> args;
    // NAME=VALUE entries added to the child's environment, replacing any
    // inherited entry of the same name.
    std::vector<std::string> environment = {};
    // A program (absolute path) and its arguments that start the host, such
    // as unshare; empty starts the host directly. It must exec the host in
    // its own process so that the child's pid is the host's.
    std::vector<std::string> launcher = {};
};

// How a finished child ended: its exit code, or the signal that killed it.
struct ExitStatus {
    std::optional<int> code;
    std::optional<int> signal;
    bool exitedWith(int expected) const { return code && *code == expected; }
};
std::string describe(const ExitStatus& status);

class HostProcess {
public:
    // Starts the host and waits for its URL line. Throws std::runtime_error
    // (with the child's stderr) when it exits or stays silent instead.
    explicit HostProcess(HostLaunch launch);
    ~HostProcess();
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    const std::string& url() const { return url_; }
    std::uint16_t port() const { return port_; }
    pid_t pid() const { return pid_; }

    // Sends the signal and waits for the child to end (SIGKILL after the
    // timeout). Safe to call once; the destructor kills a child still running.
    ExitStatus stop(int signal, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    std::string stderrText() const;

private:
    pid_t pid_ = -1;
    int stdoutFd_ = -1;
    std::string stderrPath_;
    std::string url_;
    std::uint16_t port_ = 0;
};

// Runs the host expecting it to exit by itself (bad options, port in use,
// unusable machine file): its exit status and stderr.
struct FinishedHost {
    ExitStatus status;
    std::string stderrText;
    std::string stdoutText;
};
FinishedHost runHostToCompletion(HostLaunch launch, std::chrono::milliseconds timeout = std::chrono::seconds(10));

// The number of cpuN lines of /proc/stat: one per processor the kernel reports.
std::size_t procStatProcessorCount();

}  // namespace vq::e2e
