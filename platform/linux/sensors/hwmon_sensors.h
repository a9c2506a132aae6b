#pragma once
// Temperatures and fan speeds from the kernel's hwmon class
// (<sys>/class/hwmon), named for a person and grouped by priority.
//
// Chips are told apart by their `name` and their device, never by the hwmonN
// number. The input files are found once and kept open; each call reads only
// those. They are found again when the entries of class/hwmon change or when
// a read says its device is gone. Readings come in a stable order: by group,
// then by name, case folded.

#include <memory>
#include <string>

#include "platform/hardware_sensors.h"

namespace vq::linux_platform {

std::shared_ptr<HardwareSensors> makeHwmonSensors(std::string sysRoot);

}  // namespace vq::linux_platform
