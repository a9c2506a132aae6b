#include "platform/linux/gpu/nvml_library.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <type_traits>

namespace vq::linux_platform {
namespace {

// The few declarations of NVML's public header that we use, as its
// reference documents them.
using nvmlReturn_t = int;
using nvmlDevice_t = struct nvmlDevice_st*;
constexpr nvmlReturn_t NVML_SUCCESS = 0;
constexpr unsigned NVML_TEMPERATURE_GPU = 0;
constexpr unsigned NVML_CLOCK_GRAPHICS = 0;
constexpr unsigned NVML_DEVICE_NAME_V2_BUFFER_SIZE = 96;

struct nvmlUtilization_t {
    unsigned int gpu;
    unsigned int memory;
};
struct nvmlMemory_t {
    unsigned long long total;
    unsigned long long free;
    unsigned long long used;
};

}  // namespace

struct NvmlLibrary::Functions {
    nvmlReturn_t (*init)();
    nvmlReturn_t (*shutdown)();
    nvmlReturn_t (*handleByPciBusId)(const char*, nvmlDevice_t*);
    nvmlReturn_t (*name)(nvmlDevice_t, char*, unsigned int);
    nvmlReturn_t (*utilization)(nvmlDevice_t, nvmlUtilization_t*);
    nvmlReturn_t (*memory)(nvmlDevice_t, nvmlMemory_t*);
    nvmlReturn_t (*temperature)(nvmlDevice_t, unsigned int, unsigned int*);
    nvmlReturn_t (*powerUsage)(nvmlDevice_t, unsigned int*);
    nvmlReturn_t (*clockInfo)(nvmlDevice_t, unsigned int, unsigned int*);
};

NvmlLibrary::NvmlLibrary(const Functions& functions) : functions_(functions) {}

NvmlLibrary* NvmlLibrary::shared() {
    static const std::unique_ptr<NvmlLibrary> library = []() -> std::unique_ptr<NvmlLibrary> {
        const char* path = std::getenv("VELQUETTE_NVML_LIBRARY");
        // Never closed: NVML is not meant to be unloaded while the process runs.
        void* handle = ::dlopen(path && *path ? path : "libnvidia-ml.so.1", RTLD_NOW | RTLD_LOCAL);
        if (!handle) return nullptr;
        static Functions f;
        bool complete = true;
        const auto bind = [&](auto& function, const char* symbol) {
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(::dlsym(handle, symbol));
            complete = complete && function != nullptr;
        };
        bind(f.init, "nvmlInit_v2");
        bind(f.shutdown, "nvmlShutdown");
        bind(f.handleByPciBusId, "nvmlDeviceGetHandleByPciBusId_v2");
        bind(f.name, "nvmlDeviceGetName");
        bind(f.utilization, "nvmlDeviceGetUtilizationRates");
        bind(f.memory, "nvmlDeviceGetMemoryInfo");
        bind(f.temperature, "nvmlDeviceGetTemperature");
        bind(f.powerUsage, "nvmlDeviceGetPowerUsage");
        bind(f.clockInfo, "nvmlDeviceGetClockInfo");
        if (!complete) return nullptr;
        return std::unique_ptr<NvmlLibrary>(new NvmlLibrary(f));
    }();
    return library.get();
}

std::optional<std::map<std::string, GpuReading>> NvmlLibrary::sample(const std::vector<std::string>& pciAddresses) {
    const Functions& f = functions_;
    if (f.init() != NVML_SUCCESS) return std::nullopt;
    // Any answer other than success (not supported, no permission, the GPU
    // lost) leaves that one figure unknown.
    std::map<std::string, GpuReading> readings;
    for (const std::string& address : pciAddresses) {
        nvmlDevice_t device = nullptr;
        if (f.handleByPciBusId(address.c_str(), &device) != NVML_SUCCESS) continue;
        GpuReading& r = readings[address];
        r.pciAddress = address;
        char name[NVML_DEVICE_NAME_V2_BUFFER_SIZE] = {};
        if (f.name(device, name, sizeof name) == NVML_SUCCESS) r.name.assign(name, ::strnlen(name, sizeof name));
        if (nvmlUtilization_t use{}; f.utilization(device, &use) == NVML_SUCCESS && use.gpu <= 100)
            r.busyPercent = double(use.gpu);
        if (nvmlMemory_t memory{}; f.memory(device, &memory) == NVML_SUCCESS) {
            r.vramUsedBytes = memory.used;
            r.vramTotalBytes = memory.total;
        }
        if (unsigned celsius = 0; f.temperature(device, NVML_TEMPERATURE_GPU, &celsius) == NVML_SUCCESS)
            r.celsius = double(celsius);
        if (unsigned milliwatts = 0; f.powerUsage(device, &milliwatts) == NVML_SUCCESS) r.watts = milliwatts / 1000.0;
        if (unsigned mhz = 0; f.clockInfo(device, NVML_CLOCK_GRAPHICS, &mhz) == NVML_SUCCESS && mhz > 0)
            r.megahertz = double(mhz);
    }
    f.shutdown();
    return readings;
}

}  // namespace vq::linux_platform
