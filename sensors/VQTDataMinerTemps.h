#pragma once
// Temperatures, one [display name, text] pair per sensor in the unit the page
// asks for. The source is chosen when the miner is made: a sensor source in
// the SMC controller's form, or, without one, the hardware registry's
// "IOHWSensor" services named and grouped through a fixed table.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "miners/data_set.h"
#include "platform/io_registry.h"
#include "platform/sensor_module.h"
#include "sensors/sensor_source.h"

namespace vq {

class VQTDataMinerTemps {
public:
    // `source` null: the registry walk. `bundleFolder` is where the sibling
    // sensor bundle is looked for (sensorBundleFolder). Takes one sample to
    // collect the available sensors.
    VQTDataMinerTemps(std::unique_ptr<TemperatureSource> source, std::shared_ptr<IORegistry> registry,
                      std::shared_ptr<SensorModuleLoader> modules, std::string bundleFolder);

    // One sample: [display name, "%i" + suffix] per sensor shown.
    Value getDataSet(int unitCode);
    bool hasIntelBundle();
    const std::vector<std::string>& sensors() const { return availableSensors; }
    // Temperatures stay with the source chosen at creation: the module has
    // no temperature call.
    void moduleInstalled() {}

private:
    void setDictionaries();
    Value sourceDataSet(int unitCode);
    Value registryDataSet(int unitCode);

    bool sensorArray = false;
    std::vector<std::string> availableSensors;
    std::map<std::string, std::string> validTempSensors;    // location → divisor
    std::map<std::string, std::string> tempSensorName;      // location → display name
    std::map<std::string, std::string> tempSensorPriority;  // location → "1" to "4"
    std::unique_ptr<TemperatureSource> intelClassInstance;
    std::shared_ptr<IORegistry> registry_;
    std::shared_ptr<SensorModuleLoader> modules_;
    std::string bundleFolder_;
};

}  // namespace vq
