#pragma once
// The machine's graphics processors: one reading per GPU, each figure
// unset where the driver does not tell it (or not without privileges).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vq {

struct GpuReading {
    std::string name;        // for a person: "Navi 23 [Radeon RX 6600/6600 XT/6600M]", "Intel GPU"
    std::string pciAddress;  // "0000:03:00.0"; unique within one answer
    // The device is in runtime suspend: nothing was read from it, so that
    // looking does not wake it, and every figure is unset.
    bool asleep = false;
    std::optional<double> busyPercent;
    std::optional<std::uint64_t> vramUsedBytes;
    std::optional<std::uint64_t> vramTotalBytes;
    std::optional<double> celsius;
    std::optional<double> watts;
    std::optional<double> megahertz;
};

class Gpus {
public:
    virtual ~Gpus() = default;
    // The GPUs of this moment, in a stable order (by PCI address). Each call
    // is a sample: utilisation that the kernel gives as counters covers the
    // time since the previous call.
    virtual std::vector<GpuReading> sample() = 0;
};

}  // namespace vq
