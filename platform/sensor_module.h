#pragma once
// Loading the optional sensor module: a bundle folder holding a shared object
// that exports the C entry points of platform/sensor_module_abi.h.

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vq {

// One instance of the module's principal class.
class SensorModuleInstance {
public:
    virtual ~SensorModuleInstance() = default;
    // The module's fan names and display values, in the module's order;
    // nullopt when the module's call failed.
    virtual std::optional<std::vector<std::pair<std::string, std::string>>> fanValues() = 0;
};

// A bundle whose code was loaded.
class SensorModuleBundle {
public:
    virtual ~SensorModuleBundle() = default;
    // Whether the module exports the entry points of a principal class.
    virtual bool hasPrincipalClass() = 0;
    // A fresh instance; null when the module's create call answered none.
    virtual std::unique_ptr<SensorModuleInstance> createInstance() = 0;
};

class SensorModuleLoader {
public:
    virtual ~SensorModuleLoader() = default;
    virtual bool fileExists(const std::string& bundlePath) = 0;
    // Null when no bundle can be opened there: no shared object, one that
    // fails to load, or one refused as unsafe (logged to the system log).
    virtual std::shared_ptr<SensorModuleBundle> openBundle(const std::string& bundlePath) = 0;
};

}  // namespace vq
