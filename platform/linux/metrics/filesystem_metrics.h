#pragma once
// Sizes of the mounted file systems for node_filesystem_*, with the mounts
// that Debian's node_exporter leaves out by default left out here too.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/storage/mountinfo.h"

namespace vq::linux_platform::metrics {

// Mount points under /dev, /proc, /run, /sys, /mnt, /media, containers'
// storage; kernel and memory file system types (proc, sysfs, cgroup, overlay,
// squashfs, …).
bool isExcludedMountPoint(std::string_view mountPoint);
bool isExcludedFileSystemType(std::string_view fsType);

struct FileSystemSpace {
    std::uint64_t sizeBytes = 0;
    std::uint64_t freeBytes = 0;   // including the blocks kept for root
    std::uint64_t availBytes = 0;  // what an ordinary user may still write
};

struct FileSystemUsage {
    std::string device;  // the mount's source: "/dev/sda2", "tmpfs"
    std::string fsType;
    std::string mountPoint;
    FileSystemSpace space;
};

// statfs() of a mount point; nullopt when it fails.
std::optional<FileSystemSpace> statfsSpace(const std::string& mountPoint);

// The mounts of <proc>/self/mountinfo (as parsed) that are not excluded, one
// per mount point (the top mount, the one statfs sees), in table order, with
// no space read yet: what stays true until the mount table changes.
std::vector<FileSystemUsage> keptFileSystems(const std::vector<MountinfoEntry>& entries);

}  // namespace vq::linux_platform::metrics
