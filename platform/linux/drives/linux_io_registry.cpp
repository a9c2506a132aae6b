#include "platform/linux/drives/linux_io_registry.h"

#include <algorithm>

#include "platform/linux/common/file_reading.h"
#include "platform/linux/power/power_supply.h"
#include "platform/linux/storage/linux_storage.h"

namespace vq::linux_platform {

namespace {

// Ids follow the device number, so a disk keeps its ids from one reading to
// the next; disks without a readable number are counted above every number
// (device numbers have 32 bits).
constexpr RegistryEntryId kUnnumberedBase = RegistryEntryId{1} << 40;

RegistryEntryId mediumIdFor(std::optional<DeviceNumber> number, std::size_t index) {
    if (!number) return kUnnumberedBase + 2 * index;
    return ((RegistryEntryId{number->major} << 20 | number->minor) + 1) * 2;
}

// The battery sits above every disk id.
constexpr RegistryEntryId kBatteryId = RegistryEntryId{1} << 41;
constexpr const char* kBatteryName = "AppleSmartBattery";

}  // namespace

std::vector<RegistryEntry> diskRegistryEntries(const DriveFacts& facts, RegistryEntryId mediumId,
                                               RegistryEntryId driveId) {
    RegistryEntry drive;
    drive.id = driveId;
    drive.classes = {"IOBlockStorageDriver", "IOService"};
    drive.name = "IOBlockStorageDriver";
    nlohmann::json characteristics = nlohmann::json::object();
    if (const auto bus = physicalInterconnect(facts)) characteristics["Physical Interconnect"] = *bus;
    drive.properties = {{"Protocol Characteristics", characteristics}};
    // Drives that can answer ATA SMART commands (through SCSI-ATA translation)
    // or report their temperature the way NVMe drives do. USB bridges are left
    // out: some hang on pass-through commands they do not understand.
    if (const auto bus = physicalInterconnect(facts); bus && (*bus == "ATA" || *bus == "SCSI" || *bus == "NVMe"))
        drive.properties["SMART Capable"] = true;

    RegistryEntry medium;
    medium.id = mediumId;
    switch (opticalMedium(facts)) {
        case OpticalMedium::DVD: medium.classes = {"IODVDMedia", "IOMedia"}; break;
        case OpticalMedium::CD: medium.classes = {"IOCDMedia", "IOMedia"}; break;
        case OpticalMedium::None: medium.classes = {"IOMedia"}; break;
    }
    medium.name = facts.name;
    medium.properties = {{"BSD Name", facts.name}, {"Whole", true}};
    medium.parent = driveId;
    return {std::move(medium), std::move(drive)};
}

std::optional<std::vector<RegistryEntry>> readDiskRegistry(const Roots& roots) {
    auto disks = listDirectory(roots.sys + "/block");
    if (!disks) return std::nullopt;
    std::sort(disks->begin(), disks->end());
    std::vector<RegistryEntry> entries;
    for (std::size_t i = 0; i < disks->size(); ++i) {
        const std::string& disk = (*disks)[i];
        if (isMemoryBackedDisk(disk)) continue;
        const RegistryEntryId mediumId = mediumIdFor(blockDeviceNumber(roots.sys, disk), i);
        const DriveFacts facts = readDriveFacts(roots.sys, roots.udev, disk);
        for (RegistryEntry& entry : diskRegistryEntries(facts, mediumId, mediumId + 1))
            entries.push_back(std::move(entry));
    }
    return entries;
}

bool LinuxIORegistry::refresh() {
    auto entries = readDiskRegistry(roots_);
    snapshot_ = std::make_unique<RegistrySnapshot>(entries ? std::move(*entries) : std::vector<RegistryEntry>{});
    return entries.has_value();
}

const std::optional<nlohmann::json>& LinuxIORegistry::batteryProperties() {
    if (!batteryProperties_) batteryProperties_ = readCombinedBattery(roots_.sys);
    return *batteryProperties_;
}

RegistrySnapshot& LinuxIORegistry::current() {
    if (!snapshot_) refresh();
    return *snapshot_;
}

// Finding the battery reads only the files that tell whether there is one
// (the laptop test asks on every refresh); its properties are read on the
// first question after that and kept until the next search.
std::optional<std::vector<RegistryEntryId>> LinuxIORegistry::matchingBattery() {
    batteryProperties_.reset();
    if (!hasSystemBattery(roots_.sys)) return std::vector<RegistryEntryId>{};
    return std::vector<RegistryEntryId>{kBatteryId};
}

std::optional<std::vector<RegistryEntryId>> LinuxIORegistry::matchingServices(const std::string& className,
                                                                              const nlohmann::json& propertyMatch) {
    if (className == kBatteryName && propertyMatch.empty()) return matchingBattery();
    if (!refresh()) return std::nullopt;
    return snapshot_->matchingServices(className, propertyMatch);
}

std::optional<std::vector<RegistryEntryId>> LinuxIORegistry::matchingServicesByName(const std::string& name) {
    if (name == kBatteryName) return matchingBattery();
    if (!refresh()) return std::nullopt;
    return snapshot_->matchingServicesByName(name);
}

std::optional<nlohmann::json> LinuxIORegistry::properties(RegistryEntryId entry) {
    if (entry == kBatteryId) return batteryProperties();
    return current().properties(entry);
}

bool LinuxIORegistry::conformsTo(RegistryEntryId entry, const std::string& className) {
    if (entry == kBatteryId) return className == kBatteryName;
    return current().conformsTo(entry, className);
}

std::optional<nlohmann::json> LinuxIORegistry::searchProperty(RegistryEntryId entry, const std::string& key) {
    if (entry == kBatteryId) {
        // The battery has no parent: only its own properties can answer.
        const auto& own = batteryProperties();
        if (!own || !own->contains(key)) return std::nullopt;
        return own->at(key);
    }
    return current().searchProperty(entry, key);
}

std::optional<nlohmann::json> LinuxIORegistry::searchPropertyBelow(RegistryEntryId entry, const std::string& key) {
    if (entry == kBatteryId) return searchProperty(entry, key);
    return current().searchPropertyBelow(entry, key);
}

std::shared_ptr<IORegistry> makeLinuxIORegistry(const Roots& roots) { return std::make_shared<LinuxIORegistry>(roots); }

}  // namespace vq::linux_platform
