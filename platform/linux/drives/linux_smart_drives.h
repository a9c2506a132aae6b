#pragma once
// The SMART client of the disk that holds "/": ATA commands through SG_IO
// where the drive takes them and the node may be opened, else the drive's
// temperature from hwmon (NVMe "Composite", the drivetemp driver) dressed as
// identify and SMART data blocks, so the controller keeps one path.
//
// Only IDENTIFY DEVICE, SMART READ DATA and SMART RETURN STATUS ever reach a
// drive. Enabling SMART only checks that it is on, and the off-line routine
// and the disable steps send nothing: switching SMART off on a shared
// machine would blind every other tool that watches the drive.

#include <functional>
#include <memory>
#include <span>
#include <string>

#include "platform/linux/common/roots.h"
#include "platform/linux/drives/ata_commands.h"
#include "platform/smart_drives.h"
#include "platform/volumes.h"

namespace vq::linux_platform {

// A drive's node that takes SCSI commands.
class AtaPassThroughDevice {
public:
    virtual ~AtaPassThroughDevice() = default;
    // Sends one command; `dataIn` receives the data of a data-in command.
    virtual ScsiReply send(const AtaPassThroughCdb& cdb, std::span<std::uint8_t> dataIn) = 0;
};

// Opens /dev/<name>; null when the node cannot be opened (no node, no
// privilege).
using AtaDeviceOpener = std::function<std::unique_ptr<AtaPassThroughDevice>(const std::string& diskName)>;

// SG_IO on <dev>/<name>, opened read-only.
AtaDeviceOpener sgIoDeviceOpener(std::string devRoot);

// The whole disk under a block device, following device-mapper and md
// devices down to the first disk beneath them ("dm-0" → "nvme0n1").
std::string physicalDiskOf(const std::string& sysRoot, const std::string& deviceName);

// The drive's temperature from its own hwmon chip (NVMe, drivetemp); nullopt
// when it has none or the reading fails.
std::optional<int> driveHwmonTemperature(const std::string& sysRoot, const std::string& diskName);

class LinuxSmartDrives : public SmartDrives {
public:
    LinuxSmartDrives(Roots roots, std::shared_ptr<Volumes> volumes, AtaDeviceOpener openDevice);

    std::string firstDiskName() override;
    SmartPlugIn createPlugIn(RegistryEntryId service, const std::string& bsdName) override;

private:
    Roots roots_;
    std::shared_ptr<Volumes> volumes_;
    AtaDeviceOpener openDevice_;
};

std::shared_ptr<SmartDrives> makeLinuxSmartDrives(const Roots& roots, std::shared_ptr<Volumes> volumes);

}  // namespace vq::linux_platform
