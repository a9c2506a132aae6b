#pragma once
// Block devices as sysfs shows them: <sys>/dev/block/MAJ:MIN and
// <sys>/class/block/<name> link to the device's directory under
// <sys>/devices, whose path names the buses it hangs from.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/linux/drives/udev_database.h"

namespace vq::linux_platform {

struct DeviceNumber {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    bool operator==(const DeviceNumber&) const = default;
};

// The "dev" file of a block device: "8:1\n".
std::optional<DeviceNumber> parseDeviceNumber(std::string_view text);

// Kernel name ("sda1") of block device major:minor; nullopt when sysfs does
// not know it.
std::optional<std::string> blockDeviceName(const std::string& sysRoot, DeviceNumber number);
std::optional<DeviceNumber> blockDeviceNumber(const std::string& sysRoot, const std::string& name);

// A partition has a "partition" file and lives in its disk's directory, so
// the disk is the parent directory and never a guess from the name. The name
// itself for a whole disk or a name sysfs does not know.
std::string wholeDiskOf(const std::string& sysRoot, const std::string& name);

// The facts that decide what kind of drive a whole disk is.
struct DriveFacts {
    std::string name;                    // "sda"
    std::string devicePath;              // below the sys root: "devices/pci0000:00/0000:00:14.0/usb2/.../block/sda"
    std::optional<UdevProperties> udev;  // nullopt where there is no udev record
    std::optional<int> scsiType;         // device/type: 5 for CD/DVD drives
    bool removable = false;              // the disk's "removable" flag
    bool hasLoopBacking = false;         // a "loop" directory: a bound loop device
};

DriveFacts readDriveFacts(const std::string& sysRoot, const std::string& udevRoot, const std::string& diskName);

enum class OpticalMedium { None, CD, DVD };

// DVD for any DVD, HD DVD or Blu-ray medium udev saw, CD for a CD medium and
// for an optical drive whose medium is unknown (no udev database, empty
// drive); None for anything that is not an optical drive.
OpticalMedium opticalMedium(const DriveFacts& facts);

// The "Physical Interconnect" of the drive: "USB", "ATA", "SCSI", "FireWire",
// "Virtual Interface" (loop devices), "NVMe", "Virtio", "SD"; nullopt when
// nothing tells.
std::optional<std::string> physicalInterconnect(const DriveFacts& facts);

// RAM-backed disks (zram swap, ramdisks), which are no drives at all.
bool isMemoryBackedDisk(std::string_view name);

}  // namespace vq::linux_platform
