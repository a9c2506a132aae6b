#pragma once
// The platform's power-source information: one description per power source
// (battery, UPS), each a dictionary with keys such as "Transport Type",
// "Power Source State", "Current Capacity", "Is Charging",
// "Time to Full Charge" and "Time to Empty".

#include <optional>
#include <vector>

#include <nlohmann/json.hpp>

namespace vq {

class PowerSources {
public:
    virtual ~PowerSources() = default;
    // The descriptions in the platform's order; nullopt when the information
    // cannot be read.
    virtual std::optional<std::vector<nlohmann::json>> powerSourceDescriptions() = 0;
};

}  // namespace vq
