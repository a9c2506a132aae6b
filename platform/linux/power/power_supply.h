#pragma once
// The machine's battery from <sys>/class/power_supply: every supply whose
// type is "Battery" and whose scope is not "Device" (a mouse or headset
// reports its own battery there) is a system battery; several of them (the
// two bays of some laptops) make one combined battery, their capacities and
// energies added up. "Mains" and "USB" supplies tell whether external power
// is connected. The result uses the battery entry's property names:
// "CurrentCapacity", "MaxCapacity", "DesignCapacity" (mAh), "CycleCount",
// "ExternalConnected", "FullyCharged", "IsCharging" (0 or 1), "Amperage"
// (mA, negative while discharging) and "TimeRemaining" (minutes). A
// property that cannot be known from the files present is left out. A
// battery known only by the driver's percentage (`capacity`) answers that
// percentage as "CurrentCapacity" of a "MaxCapacity" of 100, with no
// "DesignCapacity".

#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace vq::linux_platform {

// The attribute files read of one supply: file name -> text as read.
using SupplyAttributes = std::map<std::string, std::string, std::less<>>;

// The combined battery of these supplies; nullopt when none of them is a
// present system battery.
std::optional<nlohmann::json> combinedBattery(const std::vector<SupplyAttributes>& supplies);

// How much of a battery readPowerSupplies reads: only what tells whether it
// is a present system battery, or every attribute the combined battery uses.
enum class SupplyDetail { Presence, Full };

// The attribute files of every supply under <sys>/class/power_supply, in
// name order: "type", and "online" for a Mains or USB supply, or the battery
// attributes for a Battery one (only "scope" when that says "Device").
// Files that cannot be read are missing from the map.
std::vector<SupplyAttributes> readPowerSupplies(const std::string& sysRoot, SupplyDetail detail = SupplyDetail::Full);

// Whether the machine has a present system battery, from the few files that
// decide it.
inline bool hasSystemBattery(const std::string& sysRoot) {
    return combinedBattery(readPowerSupplies(sysRoot, SupplyDetail::Presence)).has_value();
}

// The file names readPowerSupplies reads for a system battery.
const std::vector<std::string>& batteryAttributeNames();

inline std::optional<nlohmann::json> readCombinedBattery(const std::string& sysRoot) {
    return combinedBattery(readPowerSupplies(sysRoot));
}

}  // namespace vq::linux_platform
