#include "platform/linux/storage/linux_volumes.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <poll.h>
#include <sys/statvfs.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <set>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "platform/linux/common/file_reading.h"
#include "platform/linux/drives/block_devices.h"
#include "platform/linux/drives/udev_database.h"
#include "platform/linux/storage/linux_storage.h"
#include "platform/linux/storage/volume_icons.h"

namespace vq::linux_platform {

namespace {

std::string trimmedLine(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

}  // namespace

std::vector<MountinfoEntry> selectVolumeMounts(const std::vector<MountinfoEntry>& mounts,
                                               const std::function<bool(const MountinfoEntry&)>& onBlockDevice) {
    std::unordered_map<std::string_view, std::size_t> lastOnMountPoint;
    for (std::size_t i = 0; i < mounts.size(); ++i) lastOnMountPoint[mounts[i].mountPoint] = i;

    std::vector<MountinfoEntry> volumes;
    std::set<std::pair<std::uint32_t, std::uint32_t>> seenDevices;
    for (std::size_t i = 0; i < mounts.size(); ++i) {
        const MountinfoEntry& mount = mounts[i];
        const bool hidden = lastOnMountPoint[mount.mountPoint] != i;
        if (hidden || isPseudoOrNetworkFileSystem(mount.fsType) || !mountsFileSystemTop(mount)) continue;
        if (!onBlockDevice(mount)) continue;
        if (!seenDevices.emplace(mount.major, mount.minor).second) continue;
        volumes.push_back(mount);
    }
    return volumes;
}

std::string withoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string lastPathComponent(const std::string& path) {
    const std::string trimmed = withoutTrailingSlash(path);
    const auto slash = trimmed.rfind('/');
    if (slash == std::string::npos || trimmed == "/") return trimmed;
    return trimmed.substr(slash + 1);
}

std::optional<std::string> systemHostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return std::nullopt;
    return std::string(name);
}

LinuxVolumes::LinuxVolumes(LinuxVolumesOptions options) : options_(std::move(options)) {
    mountsWatch_.reset(::open((options_.roots.proc + "/self/mountinfo").c_str(), O_RDONLY | O_CLOEXEC));
    struct statfs fileSystem {};
    watchReportsChanges_ = mountsWatch_ && ::fstatfs(mountsWatch_.get(), &fileSystem) == 0 &&
                           fileSystem.f_type == PROC_SUPER_MAGIC;
}

bool LinuxVolumes::mountTableMayHaveChanged() const {
    // Without waiting: a change that the main loop has not delivered yet (an
    // unmount a moment ago) must not be answered from the old table.
    pollfd watch{mountsWatch_.get(), POLLPRI, 0};
    const int ready = ::poll(&watch, 1, 0);
    return ready != 0 && (ready < 0 || (watch.revents & (POLLPRI | POLLERR | POLLNVAL)) != 0);
}

LinuxVolumes::MountTable& LinuxVolumes::currentMounts() const {
    if (table_ && watchReportsChanges_ && !mountTableMayHaveChanged()) return *table_;
    if (!readWholeFileInto(options_.roots.proc + "/self/mountinfo", readBuffer_)) readBuffer_.clear();
    if (table_ && table_->text == readBuffer_) return *table_;
    MountTable table;
    table.mounts = parseMountinfo(readBuffer_);
    table.text = readBuffer_;
    table.facts.resize(table.mounts.size());
    for (std::size_t i = 0; i < table.mounts.size(); ++i) table.visibleMount[table.mounts[i].mountPoint] = i;
    const auto volumes = selectVolumeMounts(
        table.mounts, [this](const MountinfoEntry& mount) { return deviceNameOf(mount).has_value(); });
    for (const MountinfoEntry& mount : volumes) table.volumePaths.push_back(mount.mountPoint);
    table_ = std::move(table);
    return *table_;
}

std::optional<std::size_t> LinuxVolumes::mountAt(const std::string& path) const {
    const MountTable& table = currentMounts();
    const auto visible = table.visibleMount.find(withoutTrailingSlash(path));
    if (visible == table.visibleMount.end()) return std::nullopt;
    return visible->second;
}

const std::optional<std::string>& LinuxVolumes::deviceNameAt(std::size_t index) const {
    MountFacts& facts = table_->facts[index];
    if (!facts.deviceName) facts.deviceName = deviceNameOf(table_->mounts[index]);
    return *facts.deviceName;
}

std::optional<std::string> LinuxVolumes::deviceNameOf(const MountinfoEntry& mount) const {
    const std::string& sys = options_.roots.sys;
    if (mount.major != 0) return blockDeviceName(sys, {mount.major, mount.minor});
    if (mount.source.rfind("/dev/", 0) != 0) return std::nullopt;
    const std::string name = lastPathComponent(mount.source);
    if (blockDeviceNumber(sys, name)) return name;
    // /dev/mapper/<name> is a link to /dev/dm-N; sysfs has the name in
    // dm/name.
    if (mount.source.rfind("/dev/mapper/", 0) == 0) {
        for (const std::string& candidate : listDirectory(sys + "/class/block").value_or(std::vector<std::string>{})) {
            const auto dmName = readWholeFile(sys + "/class/block/" + candidate + "/dm/name");
            if (dmName && trimmedLine(*dmName) == name) return candidate;
        }
    }
    return std::nullopt;
}

std::optional<std::string> LinuxVolumes::labelOf(const MountinfoEntry& mount) const {
    std::optional<DeviceNumber> number;
    if (mount.major != 0)
        number = DeviceNumber{mount.major, mount.minor};
    else if (const auto name = deviceNameOf(mount))
        number = blockDeviceNumber(options_.roots.sys, *name);
    if (!number) return std::nullopt;
    const auto properties = readUdevBlockProperties(options_.roots.udev, number->major, number->minor);
    if (!properties) return std::nullopt;
    return fileSystemLabel(*properties);
}

std::vector<std::string> LinuxVolumes::mountedLocalVolumePaths() { return currentMounts().volumePaths; }

std::optional<std::string> LinuxVolumes::mountedFrom(const std::string& path) {
    const auto index = mountAt(path);
    if (!index) return std::nullopt;
    if (const auto& name = deviceNameAt(*index)) return "/dev/" + *name;
    const std::string& source = table_->mounts[*index].source;
    if (source.empty()) return std::nullopt;
    return source;
}

std::optional<VolumeSizes> LinuxVolumes::volumeSizes(const std::string& path) {
    struct statvfs info {};
    if (::statvfs(path.c_str(), &info) != 0) return std::nullopt;
    // f_blocks and f_bavail count fragments; old file systems leave f_frsize 0.
    const std::uint64_t unit = info.f_frsize != 0 ? info.f_frsize : info.f_bsize;
    return VolumeSizes{static_cast<std::uint64_t>(info.f_blocks) * unit,
                       static_cast<std::uint64_t>(info.f_bavail) * unit};
}

std::string LinuxVolumes::displayNameAtPath(const std::string& path) {
    if (const auto index = mountAt(path)) {
        MountFacts& facts = table_->facts[*index];
        if (!facts.label) facts.label = labelOf(table_->mounts[*index]);
        if (*facts.label) return **facts.label;
    }
    if (withoutTrailingSlash(path) == "/") {
        // The host name is asked every time: it can change while the mounts stay.
        if (options_.hostName) {
            if (auto host = options_.hostName(); host && !host->empty()) return std::move(*host);
        }
        return "/";
    }
    return lastPathComponent(path);
}

std::optional<std::string> LinuxVolumes::iconForVolume(const std::string& path) {
    VolumeKind kind = VolumeKind::InternalDisk;
    if (const auto index = mountAt(path)) {
        if (isNetworkFileSystem(table_->mounts[*index].fsType)) {
            kind = VolumeKind::Network;
        } else if (const auto& device = deviceNameAt(*index)) {
            const DriveFacts facts =
                readDriveFacts(options_.roots.sys, options_.roots.udev, wholeDiskOf(options_.roots.sys, *device));
            const auto bus = physicalInterconnect(facts);
            if (facts.removable || bus == "USB" || bus == "SD" || bus == "FireWire" ||
                opticalMedium(facts) != OpticalMedium::None)
                kind = VolumeKind::Removable;
        }
    }
    return volumeIconPng(options_.iconThemeRoots, kind);
}

std::vector<std::string> LinuxVolumes::volumeRoots() { return {"/media/", "/run/media/", "/mnt/"}; }

std::string LinuxVolumes::wholeDiskName(const std::string& deviceName) {
    // Partitions only come and go with the mounts that use them, so the
    // answer is kept as long as the mount table is.
    auto& wholeDisks = currentMounts().wholeDisks;
    const auto known = wholeDisks.find(deviceName);
    if (known != wholeDisks.end()) return known->second;
    return wholeDisks.emplace(deviceName, wholeDiskOf(options_.roots.sys, deviceName)).first->second;
}

std::shared_ptr<Volumes> makeLinuxVolumes(const Roots& roots) {
    LinuxVolumesOptions options;
    options.roots = roots;
    options.iconThemeRoots =
        iconThemeRoots(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"), std::getenv("XDG_DATA_DIRS"));
    options.hostName = systemHostName;
    return std::make_shared<LinuxVolumes>(std::move(options));
}

}  // namespace vq::linux_platform
