// NVIDIA's figures through the stand-in libnvidia-ml.so.1 (nvml_stub.cpp) loaded from VELQUETTE_NVML_LIBRARY.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iomanip>
#include <sstream>

#include "nvml_stub.h"
#include "platform/linux/gpu/linux_gpus.h"

namespace vq::linux_platform {
namespace {

// Figures, "not supported" answers (3) and a failing init (9: no driver) on a laptop's NVIDIA GPU; when it sleeps,
// NVML is not started at all. Every sample is one init and one shutdown, so nothing holds the GPU between them.
TEST(Nvml, FiguresBetweenOneInitAndOneShutdown) {
    ::setenv("VELQUETTE_NVML_LIBRARY", VELQUETTE_NVML_STUB, 1);
    auto& s = *static_cast<VqNvmlStub*>(::dlsym(::dlopen(VELQUETTE_NVML_STUB, RTLD_NOW), "vq_nvml_stub"));
    s.deviceCount = 1;
    s.devices[0] = {"0000:01:00.0", "NVIDIA GeForce RTX 3050 Laptop GPU", {}, 42, 4ull << 30, 1ull << 30, 57, 12345, 1590};
    const std::string copy = std::filesystem::temp_directory_path() / ("vq-nvml-" + std::to_string(::getpid()));
    std::filesystem::remove_all(copy);
    std::filesystem::copy(VELQUETTE_FIXTURES "/linux/gpu-two", copy,
                          std::filesystem::copy_options::recursive | std::filesystem::copy_options::copy_symlinks);
    LinuxGpus gpus({copy + "/proc", copy + "/sys", copy + "/udev", "/nonexistent"});
    const std::tuple<const char*, std::function<void()>, const char*, int> steps[] = {
        {"figures", [] {}, "NVIDIA GeForce RTX 3050 Laptop GPU 42 1073741824 4294967296 57 12.345 1590", 1},
        {"not supported", [&] { s.devices[0].returns[2] = s.devices[0].returns[3] = 3; },
         "NVIDIA GeForce RTX 3050 Laptop GPU 42 1073741824 4294967296 - - 1590", 1},
        {"init fails", [&] { s.initReturn = 9; }, "NVIDIA GeForce RTX 3050 Laptop GPU - - - - - -", 1},
        {"asleep",
         [&] {
             s.initReturn = 0;
             std::ofstream(copy + "/sys/devices/pci0000:00/0000:00:01.0/0000:01:00.0/power/runtime_status") << "suspended";
         },
         "NVIDIA GeForce RTX 3050 Laptop GPU asleep - - - - - -", 0},
    };
    for (const auto& [what, change, expected, inits] : steps) {
        change();
        const int initsBefore = s.inits, shutdownsBefore = s.shutdowns;
        const GpuReading g = gpus.sample().at(1);
        std::ostringstream shown;
        shown << std::setprecision(12) << g.name << (g.asleep ? " asleep" : "");
        for (auto v : {g.busyPercent, g.vramUsedBytes ? std::optional<double>(*g.vramUsedBytes) : std::nullopt,
                       g.vramTotalBytes ? std::optional<double>(*g.vramTotalBytes) : std::nullopt, g.celsius, g.watts,
                       g.megahertz})
            v ? shown << " " << *v : shown << " -";
        EXPECT_EQ(shown.str(), expected) << what;
        EXPECT_EQ(s.inits - initsBefore, inits) << what;
        EXPECT_EQ(s.shutdowns - shutdownsBefore, s.initReturn == 0 ? inits : 0) << what;
        EXPECT_EQ(s.initialised, 0) << what;
    }
    EXPECT_EQ(s.callsOutsideInit, 0);
    std::filesystem::remove_all(copy);
}

}  // namespace
}  // namespace vq::linux_platform
