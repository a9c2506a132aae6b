#pragma once
// The machine's own hardware sensors, where the platform has a native way to
// read them (Linux: hwmon). Readings come named for a person, already grouped
// and free of failed or impossible values; the sensor source in sensors/ puts
// them into the form the miners expect.

#include <optional>
#include <string>
#include <vector>

namespace vq {

struct TemperatureReading {
    std::string name;  // "CPU Package", "NVMe Samsung SSD 980 1TB", unique within one answer
    int group = 4;     // 1 processors, 2 graphics and battery, 3 drives, 4 everything else
    int celsius = 0;   // whole degrees, truncated toward zero
    // The SMC key of a reading that an Apple SMC chip labels with its key
    // ("TC0P"); the sensor source names those with the SMC controller's table.
    std::optional<std::string> smcKey;
    // The sensor's own critical limit in whole °C, where its driver gives one.
    std::optional<int> critCelsius = std::nullopt;
};

struct FanReading {
    std::string name;  // unique within one answer
    int rpm = 0;
    // The kernel marks the fan failed (fanN_fault or fanN_alarm); a stopped
    // fan is not a failed one.
    bool failed = false;
};

class HardwareSensors {
public:
    virtual ~HardwareSensors() = default;
    virtual std::vector<TemperatureReading> temperatures() = 0;
    virtual std::vector<FanReading> fans() = 0;
};

}  // namespace vq
