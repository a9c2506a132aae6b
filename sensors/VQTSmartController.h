#pragma once
// The temperature of the first disk, read from the drive's own ATA SMART
// data: one entry per drive examined, with the label "model" ("HD: <name of
// the start-up volume>") when the drive's identify data is sound, and
// "deviceTemp" (whole °C) when the drive reports attribute 194.

#include <memory>
#include <optional>

#include "miners/data_set.h"
#include "platform/io_registry.h"
#include "platform/smart_drives.h"
#include "platform/volumes.h"

namespace vq {

class VQTSmartController {
public:
    VQTSmartController(std::shared_ptr<IORegistry> registry, std::shared_ptr<SmartDrives> drives,
                       std::shared_ptr<Volumes> volumes);

    // Examines the first disk again and replaces the data set.
    void update();
    // The list of the last update; null before the first.
    const Value& getDataSet() const { return latestData; }

    // Examines one drive and appends its entry; the plug-in's creation status.
    int PerformSMARTUnitTest(RegistryEntryId service, const std::string& bsdName);
    // True when the identify data is sound and the drive supports SMART; sets "model".
    bool PrintIdentifyData(SmartInterface& smart, Value& results);
    // Sets "deviceTemp" when the drive reports attribute 194.
    void PrintSMARTData(SmartInterface& smart, Value& results);
    // 0 for a sound block; 255 without the 0xA5 signature; else the
    // non-zero 8-bit sum of the block.
    static int VerifyIdentifyData(const AtaBlock& block);

private:
    // Examines the services of one search that lead to the first disk.
    void examine(const std::optional<std::vector<RegistryEntryId>>& services, const std::string& firstDisk);

    std::shared_ptr<IORegistry> registry_;
    std::shared_ptr<SmartDrives> drives_;
    std::shared_ptr<Volumes> volumes_;
    Value diskData;
    Value latestData;  // null until the first update
};

// The temperature in the attribute table of a SMART data block: the raw low
// byte of the first attribute 194, unsigned; nullopt without one.
std::optional<unsigned> smartTemperature(const AtaBlock& smartData);

}  // namespace vq
