#pragma once
// Each rule's condition, judged from one set of readings against the rule's
// settings: the worst reading's severity, whether every reading is past the
// clear threshold, and the words of a notification about it.

#include <optional>
#include <string>
#include <vector>

#include "alerts/alert_engine.h"
#include "alerts/alert_rules.h"
#include "platform/hardware_sensors.h"
#include "platform/memory_pressure.h"

namespace vq::alerts {

// A sensor that reports its own critical limit has the thresholds moved by
// that limit less 100 °C: the defaults 90/97/85 become crit − 10, crit − 3
// and crit − 15. Without a limit they apply as they are.
Observation checkTemperatures(const std::vector<TemperatureReading>& readings, const RuleSettings& settings);

struct BatteryReading {
    int percent = 0;
    bool onExternalPower = false;
};
// Only a battery that is discharging can alert; external power clears.
Observation checkBattery(const std::optional<BatteryReading>& battery, const RuleSettings& settings);

struct VolumeReading {
    std::string name;
    double percentFull = 0;
};
Observation checkVolumes(const std::vector<VolumeReading>& volumes, const RuleSettings& settings);

// The thresholds are on the pressure figure. Besides, the memory still
// available under 5 % of the total (or of the control group's limit, where
// one binds) is a warning, which clears at 10 %. Without a pressure figure
// the available memory decides alone.
constexpr double kAvailableWarningPercent = 5, kAvailableClearPercent = 10;
Observation checkMemory(const MemoryPressureSample& sample, const RuleSettings& settings);

Observation checkFans(const std::vector<FanReading>& fans);

}  // namespace vq::alerts
