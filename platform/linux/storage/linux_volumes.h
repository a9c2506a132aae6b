#pragma once
// Mounted local volumes of a Linux machine: the mount table of
// <proc>/self/mountinfo, sizes from statvfs, labels from the udev database,
// disks from sysfs and icons from the installed icon themes.

#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/linux/common/roots.h"
#include "platform/linux/common/unique_fd.h"
#include "platform/linux/storage/mountinfo.h"
#include "platform/volumes.h"

namespace vq::linux_platform {

// The mounts that are volumes, in mount order:
// - only file systems on a block device of this machine (`onBlockDevice`),
//   never memory, kernel or network file systems;
// - only mounts of a file system's top (or its btrfs subvolume), so bind
//   mounts of a directory or a file stay out;
// - one entry per mount point: a mount hidden by a later mount on the same
//   point is gone;
// - one entry per file system: mounting the same device again elsewhere,
//   or another subvolume of it, adds nothing.
std::vector<MountinfoEntry> selectVolumeMounts(const std::vector<MountinfoEntry>& mounts,
                                               const std::function<bool(const MountinfoEntry&)>& onBlockDevice);

// "/media/usb/" and "/media/usb" name the same mount point; "/" stays.
std::string withoutTrailingSlash(std::string path);

// The name a file manager shows for a mount point without a label: its last
// component.
std::string lastPathComponent(const std::string& path);

struct LinuxVolumesOptions {
    Roots roots;
    std::vector<std::string> iconThemeRoots;
    // The machine's name, which "/" shows when its file system has no label.
    std::function<std::optional<std::string>()> hostName;
};

class LinuxVolumes : public Volumes {
public:
    explicit LinuxVolumes(LinuxVolumesOptions options);

    std::vector<std::string> mountedLocalVolumePaths() override;
    std::optional<std::string> mountedFrom(const std::string& path) override;
    std::optional<VolumeSizes> volumeSizes(const std::string& path) override;
    std::string displayNameAtPath(const std::string& path) override;
    std::optional<std::string> iconForVolume(const std::string& path) override;
    std::vector<std::string> volumeRoots() override;
    std::string wholeDiskName(const std::string& deviceName) override;

    // The kernel name of the block device a mount lives on ("sda1"), from its
    // device number or, for btrfs and fuseblk whose number is anonymous, from
    // its /dev source.
    std::optional<std::string> deviceNameOf(const MountinfoEntry& mount) const;

private:
    // The mount table and what was learnt about its mounts. Between two
    // changes of the table only the sizes change, so device names, labels and
    // whole disks are read from sysfs and udev once per table and kept with it.
    struct MountFacts {
        std::optional<std::optional<std::string>> deviceName;
        std::optional<std::optional<std::string>> label;
    };
    struct MountTable {
        std::string text;
        std::vector<MountinfoEntry> mounts;
        std::vector<std::string> volumePaths;
        std::unordered_map<std::string, std::size_t> visibleMount;  // mount point → its last mount
        std::vector<MountFacts> facts;                              // one per mount
        std::unordered_map<std::string, std::string> wholeDisks;    // device name → whole disk
    };
    // The table as it is now: kept while the kernel reports no change on our
    // descriptor, else read again and parsed again when its text changed.
    MountTable& currentMounts() const;
    bool mountTableMayHaveChanged() const;
    // The index of the mount that is visible at `path` now: the last one on it.
    std::optional<std::size_t> mountAt(const std::string& path) const;
    const std::optional<std::string>& deviceNameAt(std::size_t index) const;
    std::optional<std::string> labelOf(const MountinfoEntry& mount) const;

    LinuxVolumesOptions options_;
    // mountinfo opened for this reader alone: the kernel keeps the "changed"
    // flag per open file and a poll clears it, so the main loop's watch on its
    // own descriptor still sees every change.
    UniqueFd mountsWatch_;
    // Only procfs flags changes; a copy of the file (a fixture tree) is read
    // and compared every time.
    bool watchReportsChanges_ = false;
    mutable std::string readBuffer_;
    mutable std::optional<MountTable> table_;
};

// The machine's name from gethostname(); nullopt when it has none.
std::optional<std::string> systemHostName();

}  // namespace vq::linux_platform
