#include "platform/linux/linux_io_registry.h"

#include <algorithm>

#include "platform/linux/file_reading.h"
#include "platform/linux/linux_storage.h"
#include "platform/linux/power_supply.h"

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

RegistrySnapshot& LinuxIORegistry::refreshBattery() {
    std::vector<RegistryEntry> entries;
    if (auto properties = readCombinedBattery(roots_.sys)) {
        RegistryEntry battery;
        battery.id = kBatteryId;
        battery.classes = {kBatteryName};
        battery.name = kBatteryName;
        battery.properties = std::move(*properties);
        entries.push_back(std::move(battery));
    }
    battery_ = std::make_unique<RegistrySnapshot>(std::move(entries));
    return *battery_;
}

RegistrySnapshot& LinuxIORegistry::current(RegistryEntryId entry) {
    if (entry == kBatteryId && battery_) return *battery_;
    if (!snapshot_) refresh();
    return *snapshot_;
}

std::optional<std::vector<RegistryEntryId>> LinuxIORegistry::matchingServices(const std::string& className,
                                                                              const nlohmann::json& propertyMatch) {
    if (className == kBatteryName) return refreshBattery().matchingServices(className, propertyMatch);
    if (!refresh()) return std::nullopt;
    return snapshot_->matchingServices(className, propertyMatch);
}

std::optional<std::vector<RegistryEntryId>> LinuxIORegistry::matchingServicesByName(const std::string& name) {
    if (name == kBatteryName) return refreshBattery().matchingServicesByName(name);
    if (!refresh()) return std::nullopt;
    return snapshot_->matchingServicesByName(name);
}

std::optional<nlohmann::json> LinuxIORegistry::properties(RegistryEntryId entry) {
    return current(entry).properties(entry);
}

bool LinuxIORegistry::conformsTo(RegistryEntryId entry, const std::string& className) {
    return current(entry).conformsTo(entry, className);
}

std::optional<nlohmann::json> LinuxIORegistry::searchProperty(RegistryEntryId entry, const std::string& key) {
    return current(entry).searchProperty(entry, key);
}

std::shared_ptr<IORegistry> makeLinuxIORegistry(const Roots& roots) { return std::make_shared<LinuxIORegistry>(roots); }

}  // namespace vq::linux_platform
