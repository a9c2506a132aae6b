#pragma once
// The hardware registry of a Linux machine, as far as disks and the battery
// go: for each whole disk of <sys>/block a medium entry ("IOMedia", or
// "IOCDMedia" / "IODVDMedia" for an optical medium) with its kernel name as
// "BSD Name", under a drive entry whose "Protocol Characteristics" name the
// bus; and, on a machine with a system battery, one "AppleSmartBattery"
// entry holding the combined battery of <sys>/class/power_supply.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/io_registry.h"
#include "platform/linux/common/roots.h"
#include "platform/linux/drives/block_devices.h"

namespace vq::linux_platform {

// The medium entry and its drive entry for one whole disk, with the given
// ids (the drive is the medium's parent).
std::vector<RegistryEntry> diskRegistryEntries(const DriveFacts& facts, RegistryEntryId mediumId,
                                               RegistryEntryId driveId);

// Both entries of every whole disk under <sys>/block, RAM disks left out;
// nullopt when <sys>/block cannot be read.
std::optional<std::vector<RegistryEntry>> readDiskRegistry(const Roots& roots);

class LinuxIORegistry : public IORegistry {
public:
    explicit LinuxIORegistry(Roots roots) : roots_(std::move(roots)) {}

    // A matching call reads the disks afresh; the entries it returns stay
    // valid for the property queries that follow, until the next matching
    // call. The battery's class or name only looks for a system battery; its
    // properties are read when first asked for and kept until the next
    // battery search.
    std::optional<std::vector<RegistryEntryId>> matchingServices(const std::string& className,
                                                                 const nlohmann::json& propertyMatch) override;
    std::optional<std::vector<RegistryEntryId>> matchingServicesByName(const std::string& name) override;
    std::optional<nlohmann::json> properties(RegistryEntryId entry) override;
    bool conformsTo(RegistryEntryId entry, const std::string& className) override;
    std::optional<nlohmann::json> searchProperty(RegistryEntryId entry, const std::string& key) override;
    std::optional<nlohmann::json> searchPropertyBelow(RegistryEntryId entry, const std::string& key) override;

private:
    // False when the disks could not be read; the snapshot is empty then.
    bool refresh();
    RegistrySnapshot& current();
    std::optional<std::vector<RegistryEntryId>> matchingBattery();
    const std::optional<nlohmann::json>& batteryProperties();

    Roots roots_;
    std::unique_ptr<RegistrySnapshot> snapshot_;
    // Unset until asked for after a battery search; then the reading.
    std::optional<std::optional<nlohmann::json>> batteryProperties_;
};

}  // namespace vq::linux_platform
