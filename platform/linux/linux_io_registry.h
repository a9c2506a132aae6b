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
#include "platform/linux/block_devices.h"
#include "platform/linux/roots.h"

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

    // A matching call reads the disks afresh, or only the battery when it
    // asks for the battery's class or name; the entries it returns stay
    // valid for the property queries that follow, until the next matching
    // call of the same kind.
    std::optional<std::vector<RegistryEntryId>> matchingServices(const std::string& className,
                                                                 const nlohmann::json& propertyMatch) override;
    std::optional<std::vector<RegistryEntryId>> matchingServicesByName(const std::string& name) override;
    std::optional<nlohmann::json> properties(RegistryEntryId entry) override;
    bool conformsTo(RegistryEntryId entry, const std::string& className) override;
    std::optional<nlohmann::json> searchProperty(RegistryEntryId entry, const std::string& key) override;

private:
    // False when the disks could not be read; the snapshot is empty then.
    bool refresh();
    RegistrySnapshot& refreshBattery();
    // The snapshot that holds this entry.
    RegistrySnapshot& current(RegistryEntryId entry);

    Roots roots_;
    std::unique_ptr<RegistrySnapshot> snapshot_;
    std::unique_ptr<RegistrySnapshot> battery_;
};

}  // namespace vq::linux_platform
