#pragma once
// The sysfs files of one graphics card that hold its figures, found once,
// and the reading of them. amdgpu: gpu_busy_percent, mem_info_vram_used and
// mem_info_vram_total of the PCI device; i915: gt_cur_freq_mhz of the card;
// xe: tile0/gt0/freq0/cur_freq of the device; all: the device's hwmon chip
// (the lowest-numbered temperature, power1_average else power1_input,
// freq1_input).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/gpus.h"
#include "platform/linux/gpu/drm_cards.h"

namespace vq::linux_platform {

struct GpuFiles {
    std::string runtimeStatus;  // device/power/runtime_status
    std::string busyPercent;    // each path empty where the driver has no such file
    std::string vramUsed;
    std::string vramTotal;
    std::string clockMhz;
    std::string temperature;  // millidegrees Celsius
    std::string powerAverage;  // microwatts
    std::string powerInput;
    std::string clockHz;
};

GpuFiles findGpuFiles(const DrmCard& card);

// A sysfs attribute's text in one read (sysfs hands the whole value to the
// first read), into a buffer the caller keeps; false when it cannot be read.
bool readAttribute(const std::string& path, std::string& buffer);

// A sysfs number ("42\n"); nullopt for anything else.
std::optional<std::int64_t> parseSysfsNumber(std::string_view text);

// The figures the files give, converted (W, °C, MHz); busyPercent as read,
// unsmoothed. `buffer` is kept by the caller between samples.
GpuReading readGpuFiles(const GpuFiles& files, std::string& buffer);

// The last three busy readings' mean: amdgpu's gpu_busy_percent is an
// instant that jumps between 0 and 100.
class BusySmoother {
public:
    double add(double percent);

private:
    double recent_[3] = {};
    std::size_t count_ = 0;
};

}  // namespace vq::linux_platform
