#pragma once
// Fan speeds, one [display name, text] pair per fan. The source is chosen
// when the miner is made (a sensor source in the SMC controller's form, or
// the hardware registry's fan services named through a fixed table) and is
// replaced by the sensor module's instance when the module arrives.

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "miners/data_set.h"
#include "platform/io_registry.h"
#include "platform/sensor_module.h"
#include "platform/system_log.h"
#include "sensors/sensor_source.h"

namespace vq {

class VQTDataMinerFans {
public:
    // `source` null: the registry walk. `bundleFolder` is where the module
    // and the sibling bundle are looked for (sensorBundleFolder). Takes one
    // sample to collect the available sensors.
    VQTDataMinerFans(std::unique_ptr<FanSource> source, std::shared_ptr<IORegistry> registry,
                     std::shared_ptr<SensorModuleLoader> modules, std::shared_ptr<SystemLog> log,
                     std::string bundleFolder);

    // One sample: [display name, speed text] per fan shown.
    Value getDataSet();
    bool hasIntelBundle();
    const std::vector<std::string>& sensors() const { return availableSensors; }
    // Takes up the sensor module that was just installed, if a bundle opens
    // at its path, and collects the available sensors again.
    void moduleInstalled();

private:
    void setDictionaries();
    Value sourceDataSet();
    Value registryDataSet();
    // How a registry search went: whether its matching request succeeded,
    // and whether the last service it visited could be read.
    struct Search {
        bool matched = false;
        bool lastRead = true;
    };
    Search searchControls(const char* serviceName, std::array<std::map<std::string, std::string>, 4>& groups);
    Search searchControlInfo(std::array<std::map<std::string, std::string>, 4>& groups);
    void store(const std::string& location, std::int32_t raw,
               std::array<std::map<std::string, std::string>, 4>& groups);

    bool sensorArray = false;
    std::vector<std::string> availableSensors;
    std::map<std::string, std::string> validFanSensors;    // location → divisor
    std::map<std::string, std::string> fanSensorName;      // name → display name
    std::map<std::string, std::string> fanSensorPriority;  // location → "1" to "4"
    std::unique_ptr<FanSource> intelClassInstance;
    std::shared_ptr<IORegistry> registry_;
    std::shared_ptr<SensorModuleLoader> modules_;
    std::shared_ptr<SystemLog> log_;
    std::string bundleFolder_;
};

}  // namespace vq
