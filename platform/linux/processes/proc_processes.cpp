#include "platform/linux/processes/proc_processes.h"

#include <dirent.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <memory>

namespace vq::linux_platform {
namespace {

template <typename T>
bool toNumber(std::string_view text, T& out) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
    return error == std::errc() && end == text.data() + text.size();
}

std::string_view baseName(std::string_view path) {
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Reads a small file at `path` below `directory` into `buffer`; the length
// read, or nullopt.
std::optional<std::size_t> readSmall(int directory, const char* path, char* buffer, std::size_t size) {
    UniqueFd fd(::openat(directory, path, O_RDONLY | O_CLOEXEC));
    if (!fd) return std::nullopt;
    std::size_t used = 0;
    while (used < size) {
        const ssize_t n = ::read(fd.get(), buffer + used, size - used);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        used += static_cast<std::size_t>(n);
    }
    return used;
}

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

}  // namespace

std::optional<ProcStatFields> parseProcessStat(std::string_view text) {
    const auto open = text.find('(');
    const auto close = text.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) return std::nullopt;
    ProcStatFields fields;
    fields.comm = text.substr(open + 1, close - open - 1);
    // Field 3 (state) follows ") ".
    std::string_view rest = text.substr(close + 1);
    int field = 2;
    bool ok = true;
    while (!rest.empty() && field < 24) {
        while (rest.starts_with(' ')) rest.remove_prefix(1);
        const auto end = std::min(rest.find_first_of(" \n"), rest.size());
        const std::string_view value = rest.substr(0, end);
        rest.remove_prefix(end);
        ++field;
        if (field == 14) ok &= toNumber(value, fields.utime);
        if (field == 15) ok &= toNumber(value, fields.stime);
        if (field == 22) ok &= toNumber(value, fields.starttime);
        if (field == 24) ok &= toNumber(value, fields.rssPages);
    }
    if (!ok || field < 24) return std::nullopt;
    return fields;
}

std::string chooseProcessName(std::string_view comm, std::string_view exePath, const std::vector<std::string>& argv) {
    if (comm.empty()) return std::string();
    constexpr std::string_view deleted = " (deleted)";
    if (exePath.ends_with(deleted)) exePath.remove_suffix(deleted.size());
    std::array<std::string_view, 3> candidates{baseName(exePath)};
    for (std::size_t i = 0; i < argv.size() && i < 2; ++i) candidates[i + 1] = baseName(argv[i]);
    for (std::string_view candidate : candidates) {
        if (!candidate.starts_with(comm)) continue;
        // A process that rewrote its command line may hold all of it in argv[0].
        return std::string(candidate.substr(0, candidate.find(' ', comm.size())));
    }
    return std::string(comm);
}

ProcTable::ProcTable(const std::string& procRoot)
    : proc_(::open(procRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)),
      secondsPerTick_(1.0 / static_cast<double>(::sysconf(_SC_CLK_TCK))),
      pageSize_(static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE))) {}

bool ProcTable::sample(ProcessSample& sample) {
    if (!proc_) return false;
    std::unique_ptr<DIR, DirCloser> dir(::fdopendir(::openat(proc_.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
    if (!dir) return false;
    // The same clock as the kernel's start times: time since boot, suspend included.
    timespec now{};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    sample.takenAt = static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
    sample.records.clear();
    char path[32];
    char buffer[1024];
    while (const dirent* entry = ::readdir(dir.get())) {
        std::int32_t pid = 0;
        const std::string_view name(entry->d_name);
        if (name.empty() || name[0] < '1' || name[0] > '9' || !toNumber(name, pid)) continue;
        std::snprintf(path, sizeof path, "%d/stat", pid);
        // A process that ends between readdir and open is simply left out.
        const auto length = readSmall(proc_.get(), path, buffer, sizeof buffer);
        if (!length) continue;
        const auto fields = parseProcessStat(std::string_view(buffer, *length));
        if (!fields) continue;
        sample.records.push_back({pid, static_cast<double>(fields->starttime) * secondsPerTick_,
                                  static_cast<double>(fields->utime + fields->stime) * secondsPerTick_,
                                  static_cast<std::uint64_t>(std::max<std::int64_t>(fields->rssPages, 0)) * pageSize_});
    }
    return true;
}

std::optional<ProcessIdentity> ProcTable::identity(std::int32_t pid) {
    if (!proc_ || pid <= 0) return std::nullopt;
    const std::string folder = std::to_string(pid);
    char buffer[1024];
    const auto length = readSmall(proc_.get(), (folder + "/stat").c_str(), buffer, sizeof buffer);
    if (!length) return std::nullopt;
    const auto fields = parseProcessStat(std::string_view(buffer, *length));
    if (!fields) return std::nullopt;
    ProcessIdentity identity;
    identity.comm = std::string(fields->comm);
    // Another user's executable link is unreadable; the command line is not.
    char link[4096];
    const ssize_t linkLength = ::readlinkat(proc_.get(), (folder + "/exe").c_str(), link, sizeof link);
    if (linkLength > 0) identity.exePath.assign(link, static_cast<std::size_t>(linkLength));
    if (auto cmdline = readProcessFile(pid, "cmdline")) {
        std::string_view rest(*cmdline);
        while (!rest.empty() && identity.argv.size() < 2) {
            const auto end = std::min(rest.find('\0'), rest.size());
            identity.argv.emplace_back(rest.substr(0, end));
            rest.remove_prefix(std::min(end + 1, rest.size()));
        }
    }
    return identity;
}

std::optional<std::string> ProcTable::readProcessFile(std::int32_t pid, std::string_view name) {
    if (!proc_ || pid <= 0) return std::nullopt;
    const std::string path = std::to_string(pid) + "/" + std::string(name);
    UniqueFd fd(::openat(proc_.get(), path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return std::nullopt;
    std::string text;
    char buffer[4096];
    // Small files only: a command line or a cgroup list.
    while (text.size() < 64 * 1024) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

}  // namespace vq::linux_platform
