// One /metrics page of this machine made in process, without HTTP, beside
// its floor: a plain loop doing only the kernel reads the page needs (the
// four /proc files read from offset 0 on descriptors kept open, the poll of
// the mount table, statfs of each file system on the page, the rtnetlink
// link dump, the listings of the hwmon and power-supply classes, uname, the
// clock, and the control group files that hold the host's limits). The
// difference is the scraper's own work: parsing and writing the page.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/statfs.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "metrics/node_collector.h"
#include "platform/linux/common/file_reading.h"
#include "platform/linux/metrics/filesystem_metrics.h"
#include "platform/linux/netlink/rtnetlink.h"
#include "platform/linux/storage/mountinfo.h"

namespace {

using namespace vq::linux_platform;

void BM_MetricsPageInProcess(benchmark::State& state) {
    vq::metrics::NodeScraper scraper(Roots{});
    for (auto _ : state) benchmark::DoNotOptimize(scraper.scrape().size());
}
BENCHMARK(BM_MetricsPageInProcess)->Unit(benchmark::kMicrosecond);

// The limit files of the memory, cpu and pids controllers along the
// process's groups, v1 or v2, that exist.
std::vector<std::string> cgroupLimitFiles() {
    std::vector<std::string> files;
    std::ifstream groups("/proc/self/cgroup");
    for (std::string line; std::getline(groups, line);) {
        const auto first = line.find(':'), second = line.find(':', first + 1);
        if (first == std::string::npos || second == std::string::npos) continue;
        const std::string controllers = line.substr(first + 1, second - first - 1);
        std::string path = line.substr(second + 1);
        const std::vector<std::pair<std::string, std::vector<std::string>>> wanted = {
            {"memory", {"memory.limit_in_bytes", "memory.max"}}, {"cpu", {"cpu.cfs_quota_us", "cpu.max"}},
            {"pids", {"pids.max"}}};
        for (const auto& [controller, names] : wanted) {
            if (!controllers.empty() && ("," + controllers + ",").find("," + controller + ",") == std::string::npos)
                continue;
            const std::string top = controllers.empty() ? "/sys/fs/cgroup" : "/sys/fs/cgroup/" + controllers;
            for (std::string folder = path;; folder = folder.substr(0, folder.rfind('/'))) {
                for (const auto& name : names)
                    if (::access((top + folder + "/" + name).c_str(), R_OK) == 0) files.push_back(top + folder + "/" + name);
                if (folder.empty() || folder == "/") break;
            }
        }
    }
    return files;
}

void readWhole(int fd, std::string& buffer) {
    std::size_t length = 0;
    for (ssize_t got; (got = ::pread(fd, buffer.data() + length, buffer.size() - length, off_t(length))) > 0;) {
        length += std::size_t(got);
        if (length == buffer.size()) buffer.resize(buffer.size() * 2);
    }
}

void listFolder(const char* path) {
    if (DIR* dir = ::opendir(path)) {
        while (::readdir(dir)) {}
        ::closedir(dir);
    }
}

void BM_KernelReadsOfThePage(benchmark::State& state) {
    std::vector<int> kept;
    for (const char* path : {"/proc/stat", "/proc/loadavg", "/proc/meminfo", "/proc/vmstat"})
        kept.push_back(::open(path, O_RDONLY | O_CLOEXEC));
    const int mountinfo = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    std::vector<std::string> mountPoints;
    for (const auto& fileSystem :
         metrics::keptFileSystems(parseMountinfo(readWholeFile("/proc/self/mountinfo").value_or(""))))
        mountPoints.push_back(fileSystem.mountPoint);
    const auto cgroupFiles = cgroupLimitFiles();
    std::string buffer(65536, '\0');
    for (auto _ : state) {
        for (int fd : kept) readWhole(fd, buffer);
        pollfd watch{mountinfo, POLLPRI, 0};
        ::poll(&watch, 1, 0);
        for (const auto& point : mountPoints) {
            struct statfs info{};
            ::statfs(point.c_str(), &info);
        }
        benchmark::DoNotOptimize(requestDump(RTM_GETLINK, AF_UNSPEC));
        listFolder("/sys/class/hwmon");
        listFolder("/sys/class/power_supply");
        utsname names{};
        ::uname(&names);
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        for (const auto& path : {std::string("/proc/self/cgroup")})
            if (const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC); fd >= 0) readWhole(fd, buffer), ::close(fd);
        for (const auto& path : cgroupFiles)
            if (const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC); fd >= 0) readWhole(fd, buffer), ::close(fd);
    }
    state.counters["file_systems"] = double(mountPoints.size());
    state.counters["cgroup_files"] = double(cgroupFiles.size());
    for (int fd : kept) ::close(fd);
    ::close(mountinfo);
}
BENCHMARK(BM_KernelReadsOfThePage)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
