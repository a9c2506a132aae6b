#pragma once
// The network configuration store: keys such as "State:/Network/Global/IPv4"
// answered with dictionaries. Linux synthesizes it from the kernel's links,
// addresses and routes; the simulated machine serves its machine file.

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace vq {

class DynamicStore {
public:
    virtual ~DynamicStore() = default;
    // The dictionary (a JSON object) stored under `key`, or nullopt.
    virtual std::optional<nlohmann::json> copyValue(const std::string& key) = 0;
};

}  // namespace vq
