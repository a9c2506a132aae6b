#pragma once
// Every supply under <sys>/class/power_supply with every attribute file it
// has, for the node_power_supply_* families. Unlike the battery reader,
// nothing is chosen or combined here: each supply is its own series.

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vq::linux_platform::metrics {

struct PowerSupply {
    std::string name;  // the folder's name: "BAT0", "AC", "ucsi-source-psy-USBC000:001"
    // file name → text with surrounding blanks removed; files the driver
    // refuses to read are missing
    std::map<std::string, std::string, std::less<>> attributes;
};

// In name order; nullopt when class/power_supply cannot be listed.
std::optional<std::vector<PowerSupply>> readPowerSupplyClass(const std::string& sysRoot);

}  // namespace vq::linux_platform::metrics
