#include "platform/linux/cgroups/linux_resource_limits.h"

#include <chrono>
#include <optional>
#include <vector>

#include "platform/linux/cgroups/cgroup_files.h"
#include "platform/linux/common/file_reading.h"
#include "platform/linux/memory/meminfo.h"
#include "platform/linux/storage/mountinfo.h"

namespace vq::linux_platform {
namespace {

// The folders of one controller's groups: the host's own first, then each
// parent up to the top of the mount.
struct Hierarchy {
    std::vector<std::string> folders;
    std::string top;  // the last of the folders
    bool unified = false;
};

class Walk {
public:
    Walk(const Roots& roots, const std::vector<CgroupMembership>& groups, const std::vector<MountinfoEntry>& mounts)
        : roots_(roots), groups_(groups), mounts_(mounts) {}

    std::optional<Hierarchy> of(std::string_view controller) const {
        const auto group = groupOfController(groups_, controller);
        if (!group) return std::nullopt;
        for (const MountinfoEntry& mount : mounts_) {
            const bool fits = group->unified ? mount.fsType == "cgroup2"
                                             : mount.fsType == "cgroup" && superOption(mount, controller);
            if (!fits) continue;
            // A mount of a subtree (a container's view) shows the group
            // relative to that subtree.
            std::string path = group->path;
            if (mount.root != "/" && path.starts_with(mount.root)) path.erase(0, mount.root.size());
            const std::string top = underRoots(mount.mountPoint);
            Hierarchy hierarchy{{}, top, group->unified};
            while (!path.empty() && path != "/") {
                hierarchy.folders.push_back(top + path);
                path.erase(path.rfind('/'));
            }
            hierarchy.folders.push_back(top);
            return hierarchy;
        }
        return std::nullopt;
    }

private:
    std::string underRoots(const std::string& mountPoint) const {
        if (mountPoint.starts_with("/sys/")) return roots_.sys + mountPoint.substr(4);
        return mountPoint;
    }
    const Roots& roots_;
    const std::vector<CgroupMembership>& groups_;
    const std::vector<MountinfoEntry>& mounts_;
};

std::optional<std::string> read(const std::string& folder, const char* file) {
    return readWholeFile(folder + "/" + file);
}

// The smallest limit along the walk and the folder that sets it.
template <typename T, typename Parse>
std::optional<std::pair<T, std::string>> smallest(const Hierarchy& hierarchy, const char* file, Parse parse) {
    std::optional<std::pair<T, std::string>> best;
    for (const std::string& folder : hierarchy.folders) {
        const auto text = read(folder, file);
        const std::optional<T> value = text ? parse(*text) : std::nullopt;
        if (value && (!best || *value < best->first)) best = std::pair{*value, folder};
    }
    return best;
}

std::optional<std::uint64_t> statValue(const std::string& folder, const char* file, std::string_view key) {
    const auto text = read(folder, file);
    if (!text) return std::nullopt;
    const auto values = parseFlatKeyed(*text);
    const auto it = values.find(key);
    return it == values.end() ? std::nullopt : std::optional(it->second);
}

}  // namespace

LinuxResourceLimits::LinuxResourceLimits(Roots roots, std::function<double()> now)
    : roots_(std::move(roots)), now_(std::move(now)) {
    if (!now_)
        now_ = [] {
            return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
        };
}

ResourceLimitSample LinuxResourceLimits::sample() {
    const std::string cgroups = readWholeFile(roots_.proc + "/self/cgroup").value_or("");
    if (cgroups != cgroupsOfMounts_ || mounts_.empty()) {
        mounts_ = parseMountinfo(readWholeFile(roots_.proc + "/self/mountinfo").value_or(""));
        cgroupsOfMounts_ = cgroups;
    }
    return sampleOf(cgroups, mounts_, std::nullopt);
}

ResourceLimitSample LinuxResourceLimits::sample(const std::vector<MountinfoEntry>& mounts,
                                                std::optional<std::uint64_t> memTotalKiB) {
    return sampleOf(readWholeFile(roots_.proc + "/self/cgroup").value_or(""), mounts, memTotalKiB);
}

ResourceLimitSample LinuxResourceLimits::sampleOf(const std::string& cgroups, const std::vector<MountinfoEntry>& mounts,
                                                  std::optional<std::uint64_t> memTotalKiB) {
    ResourceLimitSample out;
    const auto groups = parseProcCgroup(cgroups);
    // LXCFS mounts its own figures over these files; they already tell the
    // container's share and must not be corrected again.
    const auto virtualised = [&](std::string_view file) {
        return std::any_of(mounts.begin(), mounts.end(), [&](const MountinfoEntry& m) {
            return m.fsType == "fuse.lxcfs" && m.mountPoint == file;
        });
    };
    const Walk walk(roots_, groups, mounts);

    if (const auto memory = walk.of("memory"); memory && !virtualised("/proc/meminfo")) {
        const auto limit = smallest<std::uint64_t>(*memory, memory->unified ? "memory.max" : "memory.limit_in_bytes",
                                                   [](std::string_view t) { return parseLimit(t); });
        const auto total =
            memTotalKiB ? memTotalKiB : parseMeminfo(readWholeFile(roots_.proc + "/meminfo").value_or("")).memTotalKiB;
        if (limit && (!total || limit->first < *total * 1024)) {
            out.memoryLimitBytes = limit->first;
            // What counts against the limit is the usage of the group that
            // sets it, less the inactive page cache it would give back first.
            const auto usage = read(limit->second, memory->unified ? "memory.current" : "memory.usage_in_bytes");
            auto inactive = statValue(limit->second, "memory.stat", memory->unified ? "inactive_file" : "total_inactive_file");
            if (!inactive) inactive = statValue(limit->second, "memory.stat", "inactive_file");
            if (const auto used = usage ? parseLimit(*usage) : std::nullopt)
                out.memoryUsedBytes = *used - std::min(*used, inactive.value_or(0));
        }
    }

    if (const auto cpu = walk.of("cpu"); cpu && !virtualised("/proc/stat")) {
        const auto quota = cpu->unified ? smallest<double>(*cpu, "cpu.max", parseCpuMax)
                                        : smallest<double>(*cpu, "cpu.cfs_quota_us", [&](std::string_view text) {
                                              // The quota alone; the period is read below.
                                              const auto microseconds = parseLimit(text);
                                              return microseconds ? std::optional(double(*microseconds))
                                                                  : std::nullopt;
                                          });
        if (quota && !cpu->unified) {
            // v1 keeps the period in a file of its own.
            const auto period = parseLimit(read(quota->second, "cpu.cfs_period_us").value_or(""));
            if (period && *period > 0) out.cpuQuota = quota->first / double(*period);
        } else if (quota) {
            out.cpuQuota = quota->first;
        }
        if (out.cpuQuota) {
            const double now = now_();
            const auto changed = [&](std::optional<Previous>& previous, std::optional<std::uint64_t> value) {
                std::optional<std::pair<std::uint64_t, double>> delta;
                if (value && previous && previous->group == quota->second && *value >= previous->value)
                    delta = std::pair{*value - previous->value, now - previous->at};
                previous = value ? std::optional(Previous{quota->second, *value, now}) : std::nullopt;
                return delta;
            };
            if (const auto throttled = changed(throttles_, statValue(quota->second, "cpu.stat", "nr_throttled")))
                out.cpuThrottled = throttled->first > 0;
            // v2 counts the group's time in cpu.stat (µs); v1 in cpuacct.usage
            // (ns) of the same group in the cpuacct controller, which may be
            // mounted with cpu or apart.
            std::optional<std::uint64_t> used;
            if (cpu->unified) {
                used = statValue(quota->second, "cpu.stat", "usage_usec");
            } else if (const auto accounting = walk.of("cpuacct")) {
                const std::string group = quota->second.substr(cpu->top.size());
                used = parseLimit(read(accounting->top + group, "cpuacct.usage").value_or(""));
            }
            if (const auto usage = changed(usage_, used); usage && usage->second > 0)
                out.cpuUsage = double(usage->first) / (cpu->unified ? 1e6 : 1e9) / usage->second;
        }
    }

    if (const auto pids = walk.of("pids"))
        if (const auto max = smallest<std::uint64_t>(*pids, "pids.max", [](std::string_view t) { return parseLimit(t); }))
            out.pidsMax = max->first;
    return out;
}

std::string LinuxResourceLimits::unitOf(std::int32_t pid) {
    const auto groups = parseProcCgroup(readWholeFile(roots_.proc + "/" + std::to_string(pid) + "/cgroup").value_or(""));
    // The unified line, else v1's systemd hierarchy, holds the unit layout.
    for (const char* controller : {"", "name=systemd"}) {
        for (const CgroupMembership& group : groups) {
            const bool fits = *controller ? std::find(group.controllers.begin(), group.controllers.end(), controller) !=
                                                group.controllers.end()
                                          : group.hierarchy == 0 && group.controllers.empty();
            if (fits && group.path != "/") return unitLabelOfCgroup(group.path);
        }
    }
    return {};
}

std::shared_ptr<ResourceLimits> makeLinuxResourceLimits(const Roots& roots) {
    return std::make_shared<LinuxResourceLimits>(roots);
}

}  // namespace vq::linux_platform
