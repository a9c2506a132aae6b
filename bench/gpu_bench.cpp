// The GPU reader on the fixture trees of each driver, each beside its floor: a
// plain loop that opens, reads and closes the same files (and lists the same
// folders) with none of the reader's work. amdgpu reads sysfs alone; Intel's
// load walks the processes' descriptors for DRM clients, on the fixture's
// /proc and on this machine's; NVIDIA's figures go through the stand-in NVML
// library, whose floor calls the same functions itself.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "../tests/linux/gpu/nvml_stub.h"
#include "platform/linux/common/file_reading.h"
#include "platform/linux/gpu/linux_gpus.h"
#include "platform/linux/gpu/nvml_library.h"

namespace {

using namespace vq::linux_platform;

const std::string kFixtures = VELQUETTE_SOURCE_DIR "/tests/fixtures/linux/";

Roots rootsOf(const std::string& tree, const std::string& proc = "") {
    return Roots{proc.empty() ? tree + "/proc" : proc, tree + "/sys", tree + "/udev", "/nonexistent"};
}

void readFile(const std::string& path) {
    char buffer[256];
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    benchmark::DoNotOptimize(::read(fd, buffer, sizeof buffer));
    ::close(fd);
}

// What a sample cannot avoid: the class/drm listing (cards come and go), each
// card's runtime status, and its figure files.
void plainSysfsSample(const std::string& sys, const std::vector<std::string>& files) {
    benchmark::DoNotOptimize(listDirectory(sys + "/class/drm"));
    for (const auto& file : files) readFile(sys + "/" + file);
}

// Every process's descriptors, the DRM ones' fdinfo.
void plainClientWalk(const std::string& proc) {
    char target[64];
    for (const auto& pid : listDirectory(proc).value_or(std::vector<std::string>{})) {
        if (pid[0] < '0' || pid[0] > '9') continue;
        for (const auto& fd : listDirectory(proc + "/" + pid + "/fd").value_or(std::vector<std::string>{})) {
            const ssize_t n = ::readlink((proc + "/" + pid + "/fd/" + fd).c_str(), target, sizeof target);
            if (n > 9 && std::string_view(target, 9) == "/dev/dri/") readFile(proc + "/" + pid + "/fdinfo/" + fd);
        }
    }
}

const std::string kAmd = "devices/pci0000:00/0000:00:01.1/0000:03:00.0/";
const std::vector<std::string> kAmdFiles = {
    kAmd + "power/runtime_status", kAmd + "gpu_busy_percent", kAmd + "mem_info_vram_used",
    kAmd + "mem_info_vram_total", kAmd + "hwmon/hwmon3/temp1_input", kAmd + "hwmon/hwmon3/power1_average",
    kAmd + "hwmon/hwmon3/freq1_input"};
const std::vector<std::string> kI915Files = {"devices/pci0000:00/0000:00:02.0/power/runtime_status",
                                             "devices/pci0000:00/0000:00:02.0/drm/card1/gt_cur_freq_mhz"};

void BM_AmdFloor(benchmark::State& state) {
    for (auto _ : state) plainSysfsSample(kFixtures + "gpu-amd-discrete/sys", kAmdFiles);
}
BENCHMARK(BM_AmdFloor);

void BM_AmdReader(benchmark::State& state) {
    LinuxGpus gpus(rootsOf(kFixtures + "gpu-amd-discrete"), [] { return static_cast<NvmlLibrary*>(nullptr); });
    for (auto _ : state) benchmark::DoNotOptimize(gpus.sample());
}
BENCHMARK(BM_AmdReader);

// Intel on the fixture (two processes with the GPU open) and with this machine's /proc (every process walked).
void BM_IntelFloor(benchmark::State& state, const std::string& proc) {
    for (auto _ : state) {
        plainSysfsSample(kFixtures + "gpu-i915-laptop/sys", kI915Files);
        plainClientWalk(proc);
    }
}
BENCHMARK_CAPTURE(BM_IntelFloor, fixture, kFixtures + "gpu-i915-laptop/proc");
BENCHMARK_CAPTURE(BM_IntelFloor, this_machine, std::string("/proc"));

void BM_IntelReader(benchmark::State& state, const std::string& proc) {
    LinuxGpus gpus(rootsOf(kFixtures + "gpu-i915-laptop", proc), [] { return static_cast<NvmlLibrary*>(nullptr); });
    for (auto _ : state) benchmark::DoNotOptimize(gpus.sample());
}
BENCHMARK_CAPTURE(BM_IntelReader, fixture, kFixtures + "gpu-i915-laptop/proc");
BENCHMARK_CAPTURE(BM_IntelReader, this_machine, std::string("/proc"));

// NVIDIA through the stand-in library: the floor makes the same NVML calls for the one GPU and reads the two
// cards' runtime status and the Intel clock.
void BM_NvidiaFloor(benchmark::State& state) {
    void* library = ::dlopen(VELQUETTE_NVML_STUB, RTLD_NOW);
    const auto f = [&]<typename F>(F*& function, const char* name) { function = reinterpret_cast<F*>(::dlsym(library, name)); };
    int (*init)(), (*shutdown)(), (*handle)(const char*, void**), (*name)(void*, char*, unsigned);
    int (*use)(void*, unsigned*), (*memory)(void*, unsigned long long*), (*temperature)(void*, unsigned, unsigned*);
    int (*power)(void*, unsigned*), (*clock)(void*, unsigned, unsigned*);
    f(init, "nvmlInit_v2"), f(shutdown, "nvmlShutdown"), f(handle, "nvmlDeviceGetHandleByPciBusId_v2");
    f(name, "nvmlDeviceGetName"), f(use, "nvmlDeviceGetUtilizationRates"), f(memory, "nvmlDeviceGetMemoryInfo");
    f(temperature, "nvmlDeviceGetTemperature"), f(power, "nvmlDeviceGetPowerUsage"), f(clock, "nvmlDeviceGetClockInfo");
    const std::vector<std::string> files = {"devices/pci0000:00/0000:00:02.0/power/runtime_status",
                                            "devices/pci0000:00/0000:00:02.0/drm/card1/gt_cur_freq_mhz",
                                            "devices/pci0000:00/0000:00:01.0/0000:01:00.0/power/runtime_status"};
    unsigned pair[2], one;
    unsigned long long sizes[3];
    char text[96];
    for (auto _ : state) {
        plainSysfsSample(kFixtures + "gpu-two/sys", files);
        init();
        void* device = nullptr;
        handle("0000:01:00.0", &device);
        name(device, text, 96u), use(device, pair), memory(device, sizes), temperature(device, 0u, &one);
        power(device, &one), clock(device, 0u, &one);
        shutdown();
    }
}
BENCHMARK(BM_NvidiaFloor);

void BM_NvidiaReader(benchmark::State& state) {
    // The Intel card beside it has no client in the fixture's /proc: an empty walk.
    LinuxGpus gpus(rootsOf(kFixtures + "gpu-two", "/nonexistent"));
    for (auto _ : state) benchmark::DoNotOptimize(gpus.sample());
}
BENCHMARK(BM_NvidiaReader);

}  // namespace

int main(int argc, char** argv) {
    // The stand-in answers one GPU; set before the reader loads the library.
    ::setenv("VELQUETTE_NVML_LIBRARY", VELQUETTE_NVML_STUB, 1);
    void* library = ::dlopen(VELQUETTE_NVML_STUB, RTLD_NOW);
    if (!library) return 1;
    auto* stub = static_cast<VqNvmlStub*>(::dlsym(library, "vq_nvml_stub"));
    stub->deviceCount = 1;
    stub->devices[0] = {"0000:01:00.0", "NVIDIA GeForce RTX 3050 Laptop GPU", {}, 42, 4ull << 30, 1ull << 30, 57, 12345, 1590};
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
