#pragma once
// Which sensor source the temperature and fan miners read, chosen once when
// each miner is created, and the adapters that put the platform's native
// sensors and the sensor module's instance into the sources' common form.

#include <memory>
#include <string>

#include "platform/file_system.h"
#include "platform/hardware_sensors.h"
#include "platform/machine_info.h"
#include "platform/sensor_module.h"
#include "sensors/sensor_source.h"

namespace vq {

// The sensor module and the sibling product's sensor bundle, inside the
// folder that sensorBundleFolder answers.
constexpr const char* kSensorModuleBundleName = "VelquorIntelSensorsV3.bundle";
constexpr const char* kSiblingSensorBundleName = "IntelSensorsParquell.bundle";

// "<application support>/Brackwell/Velquor"; empty when the user has no
// application support directory.
std::string sensorBundleFolder(FileSystem& files);

// Whether a file exists at the sibling bundle's path and a bundle opens there.
bool hasSiblingBundle(SensorModuleLoader& modules, const std::string& bundleFolder);

// Gestalt's architecture answer is Intel; false when Gestalt cannot answer.
bool isIntel(MachineInfo& machine);

// The source of a new miner:
// - an Intel machine whose SMC opens: a fresh SMC sensor controller;
// - otherwise a machine with native sensors (Linux hwmon, any architecture):
//   those sensors in the controller's form;
// - otherwise an Intel machine: the controller that could not open the SMC,
//   which answers four empty groups and no fans;
// - otherwise none: the miners walk the hardware registry.
std::unique_ptr<SensorSource> chooseSensorSource(MachineInfo& machine, std::shared_ptr<HardwareSensors> native);

// Native readings as the controller answers them: four priority groups of
// [name, whole °C] sorted by name ignoring case, and fans as name → "%irpm".
// Readings that carry an SMC key the controller knows take its display name.
std::unique_ptr<SensorSource> makeNativeSensorSource(std::shared_ptr<HardwareSensors> sensors);

// An instance of the sensor module as a fan source. A failed fan call throws,
// so that the miner shows an empty list for that call and keeps the module.
// The bundle is kept open for as long as the instance lives.
std::unique_ptr<FanSource> makeModuleFanSource(std::shared_ptr<SensorModuleBundle> bundle,
                                               std::unique_ptr<SensorModuleInstance> instance);

}  // namespace vq
