#pragma once
// NVIDIA's management library, loaded at run time with dlopen (from
// VELQUETTE_NVML_LIBRARY, else libnvidia-ml.so.1), so the program neither
// links nor needs it. It is loaded once per process and kept; a machine
// without it gets no NVML figures and never tries again.
//
// The library is not kept initialised between samples: an initialised NVML
// holds the driver's control node open and attached GPUs keep state in the
// driver, which keeps a laptop's discrete GPU from runtime suspend. Each
// sample is one nvmlInit_v2 … nvmlShutdown, and a GPU is reached only by
// its PCI address (nvmlDeviceGetHandleByPciBusId_v2), so a GPU the caller
// found asleep is never attached; when every NVIDIA GPU sleeps the caller
// does not call at all.

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/gpus.h"

namespace vq::linux_platform {

class NvmlLibrary {
public:
    // The process's library, loaded on first use; null when it cannot be
    // loaded or lacks a function we call.
    static NvmlLibrary* shared();

    // The figures of the GPUs at these PCI addresses ("0000:01:00.0"), by
    // address; a GPU NVML does not know is left out, and what a GPU does not
    // support ("not supported") is unset. nullopt when NVML does not start
    // (no driver, no permission).
    std::optional<std::map<std::string, GpuReading>> sample(const std::vector<std::string>& pciAddresses);

    struct Functions;

private:
    explicit NvmlLibrary(const Functions& functions);
    const Functions& functions_;
};

}  // namespace vq::linux_platform
