#pragma once
// Loads sensor module bundles with dlopen, after checking that the files are
// safe to run: see platform/sensor_module_abi.h for the bundle's layout.

#include <memory>

#include "platform/sensor_module.h"
#include "platform/system_log.h"

namespace vq::linux_platform {

std::shared_ptr<SensorModuleLoader> makeSensorModuleLoader(std::shared_ptr<SystemLog> log);

}  // namespace vq::linux_platform
