#include "platform/linux/metrics/filesystem_metrics.h"

#include <sys/vfs.h>

#include <algorithm>
#include <array>
#include <set>

#include "platform/linux/storage/mountinfo.h"

namespace vq::linux_platform::metrics {

bool isExcludedMountPoint(std::string_view mountPoint) {
    // ^/(dev|proc|run|sys|mnt|media|var/lib/docker/.+|var/lib/containers/storage/.+)($|/)
    constexpr std::array<std::string_view, 6> whole = {"/dev", "/proc", "/run", "/sys", "/mnt", "/media"};
    for (auto prefix : whole)
        if (mountPoint == prefix || (mountPoint.starts_with(prefix) && mountPoint[prefix.size()] == '/')) return true;
    constexpr std::array<std::string_view, 2> below = {"/var/lib/docker/", "/var/lib/containers/storage/"};
    return std::any_of(below.begin(), below.end(), [&](std::string_view prefix) {
        return mountPoint.starts_with(prefix) && mountPoint.size() > prefix.size();
    });
}

bool isExcludedFileSystemType(std::string_view fsType) {
    constexpr std::array<std::string_view, 23> types = {
        "autofs", "binfmt_misc", "bpf", "cgroup", "cgroup2", "configfs", "debugfs", "devpts",
        "devtmpfs", "fusectl", "hugetlbfs", "iso9660", "mqueue", "nsfs", "overlay", "proc",
        "procfs", "pstore", "rpc_pipefs", "securityfs", "selinuxfs", "squashfs", "sysfs"};
    return fsType == "tracefs" || std::find(types.begin(), types.end(), fsType) != types.end();
}

std::optional<FileSystemSpace> statfsSpace(const std::string& mountPoint) {
    struct statfs info{};
    if (::statfs(mountPoint.c_str(), &info) != 0) return std::nullopt;
    const auto block = std::uint64_t(info.f_bsize);
    return FileSystemSpace{std::uint64_t(info.f_blocks) * block, std::uint64_t(info.f_bfree) * block,
                           std::uint64_t(info.f_bavail) * block};
}

std::vector<FileSystemUsage> keptFileSystems(const std::vector<MountinfoEntry>& entries) {
    std::vector<FileSystemUsage> kept;
    std::set<std::string> seen;
    // From the last mount back, so that the top mount of a mount point wins.
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
        if (isExcludedMountPoint(entry->mountPoint) || isExcludedFileSystemType(entry->fsType)) continue;
        if (seen.insert(entry->mountPoint).second) kept.push_back({entry->source, entry->fsType, entry->mountPoint, {}});
    }
    std::reverse(kept.begin(), kept.end());
    return kept;
}

}  // namespace vq::linux_platform::metrics
