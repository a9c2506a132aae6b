#include "platform/linux/drives/block_devices.h"

#include <filesystem>
#include <vector>

#include "platform/linux/common/file_reading.h"
#include "platform/linux/common/text_fields.h"

namespace vq::linux_platform {

namespace fs = std::filesystem;

namespace {

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// A prefix followed only by digits: "usb2", "ata1", "virtio3", "mmc0".
bool isNumbered(std::string_view component, std::string_view prefix) {
    if (!startsWith(component, prefix) || component.size() == prefix.size()) return false;
    for (char c : component.substr(prefix.size()))
        if (c < '0' || c > '9') return false;
    return true;
}

std::vector<std::string_view> pathComponents(std::string_view path) {
    std::vector<std::string_view> components;
    while (!path.empty()) {
        const auto slash = path.find('/');
        if (slash != 0) components.push_back(path.substr(0, slash));
        if (slash == std::string_view::npos) break;
        path.remove_prefix(slash + 1);
    }
    return components;
}

// Whether the device hangs from a numbered bus node ("usb2", "virtio1").
bool pathHasNumbered(std::string_view devicePath, std::string_view prefix) {
    for (std::string_view component : pathComponents(devicePath))
        if (isNumbered(component, prefix)) return true;
    return false;
}

// Kernel names come from mount sources and directory listings; one that
// could climb out of the class directory is not looked up.
bool isPlainName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos;
}

std::optional<fs::path> resolved(const fs::path& path) {
    std::error_code error;
    fs::path real = fs::canonical(path, error);
    if (error) return std::nullopt;
    return real;
}

bool udevFlag(const DriveFacts& facts, std::string_view key) {
    if (!facts.udev) return false;
    const auto it = facts.udev->find(key);
    return it != facts.udev->end() && it->second == "1";
}

std::optional<std::string_view> udevValue(const DriveFacts& facts, std::string_view key) {
    if (!facts.udev) return std::nullopt;
    const auto it = facts.udev->find(key);
    if (it == facts.udev->end()) return std::nullopt;
    return std::string_view(it->second);
}

bool anyUdevFlagWithPrefix(const DriveFacts& facts, std::string_view prefix) {
    if (!facts.udev) return false;
    for (auto it = facts.udev->lower_bound(prefix); it != facts.udev->end() && startsWith(it->first, prefix); ++it)
        if (it->second == "1") return true;
    return false;
}

}  // namespace

std::optional<DeviceNumber> parseDeviceNumber(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.remove_suffix(1);
    const auto colon = text.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    const auto major = parseInteger<std::uint32_t>(text.substr(0, colon));
    const auto minor = parseInteger<std::uint32_t>(text.substr(colon + 1));
    if (!major || !minor) return std::nullopt;
    return DeviceNumber{*major, *minor};
}

std::optional<std::string> blockDeviceName(const std::string& sysRoot, DeviceNumber number) {
    const auto real =
        resolved(fs::path(sysRoot) / "dev/block" / (std::to_string(number.major) + ":" + std::to_string(number.minor)));
    if (!real || real->filename().empty()) return std::nullopt;
    return real->filename().string();
}

std::optional<DeviceNumber> blockDeviceNumber(const std::string& sysRoot, const std::string& name) {
    if (!isPlainName(name)) return std::nullopt;
    const auto text = readWholeFile(sysRoot + "/class/block/" + name + "/dev");
    if (!text) return std::nullopt;
    return parseDeviceNumber(*text);
}

std::string wholeDiskOf(const std::string& sysRoot, const std::string& name) {
    if (!isPlainName(name)) return name;
    const fs::path entry = fs::path(sysRoot) / "class/block" / name;
    std::error_code error;
    if (!fs::exists(entry / "partition", error)) return name;
    const auto real = resolved(entry);
    if (!real || !real->has_parent_path()) return name;
    const std::string disk = real->parent_path().filename().string();
    return disk.empty() ? name : disk;
}

DriveFacts readDriveFacts(const std::string& sysRoot, const std::string& udevRoot, const std::string& diskName) {
    DriveFacts facts;
    facts.name = diskName;
    if (!isPlainName(diskName)) return facts;
    const fs::path entry = fs::path(sysRoot) / "block" / diskName;
    if (const auto real = resolved(entry)) {
        if (const auto realRoot = resolved(sysRoot)) facts.devicePath = real->lexically_relative(*realRoot).string();
    }
    if (const auto number = blockDeviceNumber(sysRoot, diskName))
        facts.udev = readUdevBlockProperties(udevRoot, number->major, number->minor);
    if (const auto type = readWholeFile((entry / "device/type").string())) {
        auto fields = splitFields(*type);
        if (!fields.empty()) facts.scsiType = parseInteger<int>(fields[0]);
    }
    if (const auto removable = readWholeFile((entry / "removable").string()))
        facts.removable = !removable->empty() && (*removable)[0] == '1';
    std::error_code error;
    facts.hasLoopBacking = fs::is_directory(entry / "loop", error);
    return facts;
}

OpticalMedium opticalMedium(const DriveFacts& facts) {
    // ID_CDROM_MEDIA_DVD alone is only the DVD-ROM profile; recordable ones
    // are ID_CDROM_MEDIA_DVD_R, _DVD_PLUS_RW and so on.
    if (anyUdevFlagWithPrefix(facts, "ID_CDROM_MEDIA_DVD") || anyUdevFlagWithPrefix(facts, "ID_CDROM_MEDIA_HDDVD") ||
        anyUdevFlagWithPrefix(facts, "ID_CDROM_MEDIA_BD"))
        return OpticalMedium::DVD;
    if (anyUdevFlagWithPrefix(facts, "ID_CDROM_MEDIA_CD")) return OpticalMedium::CD;
    const bool opticalDrive = udevFlag(facts, "ID_CDROM") || facts.scsiType == 5 || isNumbered(facts.name, "sr");
    return opticalDrive ? OpticalMedium::CD : OpticalMedium::None;
}

std::optional<std::string> physicalInterconnect(const DriveFacts& facts) {
    const auto bus = udevValue(facts, "ID_BUS");
    const auto idPath = udevValue(facts, "ID_PATH");
    // USB-to-SATA bridges answer ATA IDENTIFY, so udev can record
    // ID_BUS=ata for a disk that is plugged in over USB; the path tells.
    if (bus == "usb" || (idPath && idPath->find("-usb-") != std::string_view::npos)) return "USB";
    if (pathHasNumbered(facts.devicePath, "usb")) return "USB";
    if (bus == "ata") return "ATA";
    if (bus == "scsi") return "SCSI";
    if (bus == "ieee1394") return "FireWire";
    if (facts.hasLoopBacking || isNumbered(facts.name, "loop")) return "Virtual Interface";
    // udev gives NVMe disks no ID_BUS.
    if (startsWith(facts.name, "nvme") || pathHasNumbered(facts.devicePath, "nvme")) return "NVMe";
    if (pathHasNumbered(facts.devicePath, "virtio") || (startsWith(facts.name, "vd") && facts.name.size() > 2))
        return "Virtio";
    if (pathHasNumbered(facts.devicePath, "mmc") || isNumbered(facts.name, "mmcblk")) return "SD";
    if (pathHasNumbered(facts.devicePath, "ata")) return "ATA";
    return std::nullopt;
}

bool isMemoryBackedDisk(std::string_view name) { return isNumbered(name, "zram") || isNumbered(name, "ram"); }

}  // namespace vq::linux_platform
