#pragma once
// The memory alert's readings on Linux: <proc>/pressure/memory (kernel 4.20
// and later, with CONFIG_PSI), MemAvailable of <proc>/meminfo (3.14 and
// later), and the memory limit of the host's control groups.

#include <memory>
#include <optional>
#include <string_view>

#include "platform/linux/common/roots.h"
#include "platform/memory_pressure.h"

namespace vq::linux_platform {

// The "avg60" figure of the "some" line, in percent; nullopt when the line
// or the figure is missing or not a number.
std::optional<double> parsePressureSomeAvg60(std::string_view text);

std::shared_ptr<MemoryPressure> makeLinuxMemoryPressure(const Roots& roots);

}  // namespace vq::linux_platform
