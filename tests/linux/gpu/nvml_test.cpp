// NVIDIA's figures through a stand-in libnvidia-ml.so.1 (nvml_stub.cpp) loaded from VELQUETTE_NVML_LIBRARY: the
// figures, "not supported" answers, a failing init, and a GPU in runtime suspend that NVML is never asked about.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/linux/gpu/linux_gpus.h"
#include "platform/linux/gpu/nvml_library.h"

namespace vq::linux_platform {
namespace {

namespace fs = std::filesystem;

constexpr int kNotSupported = 3, kDriverNotLoaded = 9;

struct StubDevice {
    const char* busId;
    const char* name;
    int utilizationReturn, memoryReturn, temperatureReturn, powerReturn, clockReturn;
    unsigned utilization;
    unsigned long long memoryTotal, memoryUsed;
    unsigned celsius, milliwatts, megahertz;
};
struct Stub {
    int initReturn;
    int inits, shutdowns, initialised, callsOutsideInit;
    int deviceCount;
    StubDevice devices[4];
};

Stub& stub() {
    static Stub* script = [] {
        // The same file the reader loads, so the same copy of its state.
        ::setenv("VELQUETTE_NVML_LIBRARY", VELQUETTE_NVML_STUB, 1);
        void* handle = ::dlopen(VELQUETTE_NVML_STUB, RTLD_NOW);
        return handle ? static_cast<Stub*>(::dlsym(handle, "vq_nvml_stub")) : nullptr;
    }();
    if (!script) std::abort();
    return *script;
}

std::string figures(const GpuReading& g) {
    std::string text = g.name + (g.asleep ? " asleep" : "");
    const auto add = [&](const auto& v) { text += " " + (v ? std::to_string(double(*v)) : std::string("-")); };
    add(g.busyPercent), add(g.vramUsedBytes), add(g.vramTotalBytes), add(g.celsius), add(g.watts), add(g.megahertz);
    return text;
}

TEST(Nvml, FiguresBetweenOneInitAndOneShutdown) {
    const std::string tree = VELQUETTE_FIXTURES "/linux/gpu-two";
    const std::string copy = fs::temp_directory_path() / ("vq-nvml-" + std::to_string(::getpid()));
    fs::remove_all(copy);
    fs::copy(tree, copy, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    Stub& s = stub();
    s.deviceCount = 1;
    s.devices[0] = {"0000:01:00.0", "NVIDIA GeForce RTX 3050 Laptop GPU", 0, 0, 0, 0, 0,
                    42, 4294967296ull, 1073741824ull, 57, 12345, 1590};
    LinuxGpus gpus({copy + "/proc", copy + "/sys", copy + "/udev", "/nonexistent"});
    const auto nvidia = [&] { return figures(gpus.sample().at(1)); };

    struct Step {
        const char* what;
        std::function<void()> change;
        const char* expected;
        int inits;
    };
    const Step steps[] = {
        {"every figure", [] {},
         "NVIDIA GeForce RTX 3050 Laptop GPU 42.000000 1073741824.000000 4294967296.000000 57.000000 12.345000 "
         "1590.000000", 1},
        {"not supported", [&] { s.devices[0].temperatureReturn = s.devices[0].powerReturn = kNotSupported; },
         "NVIDIA GeForce RTX 3050 Laptop GPU 42.000000 1073741824.000000 4294967296.000000 - - 1590.000000", 1},
        // No driver: the card stays, under the name NVML gave before, without figures.
        {"init fails", [&] { s.initReturn = kDriverNotLoaded; }, "NVIDIA GeForce RTX 3050 Laptop GPU - - - - - -", 1},
        // Asleep: NVML is not even started, and the name it gave before stays.
        {"asleep",
         [&] {
             s.initReturn = 0;
             std::ofstream(copy + "/sys/devices/pci0000:00/0000:00:01.0/0000:01:00.0/power/runtime_status") << "suspended\n";
         },
         "NVIDIA GeForce RTX 3050 Laptop GPU asleep - - - - - -", 0},
    };
    for (const auto& step : steps) {
        step.change();
        const int inits = s.inits, shutdowns = s.shutdowns;
        EXPECT_EQ(nvidia(), step.expected) << step.what;
        EXPECT_EQ(s.inits - inits, step.inits) << step.what;
        // Nothing is left initialised between samples, so the GPU may sleep.
        EXPECT_EQ(s.initialised, 0) << step.what;
        EXPECT_EQ(s.shutdowns - shutdowns, s.initReturn == 0 ? step.inits : 0) << step.what;
    }
    EXPECT_EQ(s.callsOutsideInit, 0);
    fs::remove_all(copy);
}

}  // namespace
}  // namespace vq::linux_platform
