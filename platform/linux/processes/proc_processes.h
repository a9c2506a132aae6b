#pragma once
// The process table under /proc: per-process CPU time and resident memory
// for sampling, and what names a process (its comm, executable and command
// line). Everything is opened relative to one /proc directory descriptor.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/common/unique_fd.h"
#include "platform/processes.h"

namespace vq::linux_platform {

// The fields of /proc/PID/stat that sampling needs (proc(5) numbering).
struct ProcStatFields {
    std::string_view comm;       // field 2, without its parentheses
    std::uint64_t utime = 0;     // 14, clock ticks
    std::uint64_t stime = 0;     // 15, clock ticks
    std::uint64_t starttime = 0; // 22, clock ticks after boot
    std::int64_t rssPages = 0;   // 24
};

// nullopt when the text is no stat line. The comm may hold spaces and
// parentheses, so the fields after it are found from the last ')'.
std::optional<ProcStatFields> parseProcessStat(std::string_view text);

// What a process is called: the untruncated form of its comm (which the
// kernel cuts to 15 bytes) taken from the executable's file name or from
// argv[0] or argv[1] (a script's interpreter comes first there), whichever
// starts with the comm; else the comm itself.
std::string chooseProcessName(std::string_view comm, std::string_view exePath, const std::vector<std::string>& argv);

// What the process table says about one process.
struct ProcessIdentity {
    std::string comm;
    std::string exePath;            // empty when the link cannot be read
    std::vector<std::string> argv;  // the first two arguments at most
};

class ProcTable {
public:
    explicit ProcTable(const std::string& procRoot);

    bool sample(ProcessSample& sample);
    // nullopt when the process does not exist or its stat cannot be read.
    std::optional<ProcessIdentity> identity(std::int32_t pid);
    // A file of the process's folder, such as "cgroup" or "root/.flatpak-info".
    std::optional<std::string> readProcessFile(std::int32_t pid, std::string_view name);

private:
    UniqueFd proc_;
    double secondsPerTick_;
    std::uint64_t pageSize_;
};

}  // namespace vq::linux_platform
