// hwmon temperatures and fans on the largest fixture tree (an AMD desktop with
// 20 temperature and 6 fan inputs). The reader's temperatures() + fans()
// sit beside plain loops over the same input files: one that opens, reads
// and closes each file, and one that preads descriptors kept open, which is
// what the reader does. The ratio to the first is the reader's cost against
// the naive way; to the second, its own overhead (names, parsing, the check
// of class/hwmon for chips that came or went).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/linux/common/file_reading.h"
#include "platform/linux/common/unique_fd.h"
#include "platform/linux/sensors/hwmon_names.h"
#include "platform/linux/sensors/hwmon_sensors.h"

namespace {

using namespace vq::linux_platform;

std::string sysRoot() {
    const char* root = std::getenv("VELQUETTE_HWMON_BENCH_SYS");
    return root ? root : VELQUETTE_SOURCE_DIR "/tests/fixtures/linux/hwmon-amd-desktop";
}

// Every tempN_input and fanN_input of every chip.
std::vector<std::string> inputFiles() {
    std::vector<std::string> files;
    const std::string classDir = sysRoot() + "/class/hwmon";
    for (const auto& entry : listDirectory(classDir).value_or(std::vector<std::string>{}))
        for (const std::string& dir : {classDir + "/" + entry, classDir + "/" + entry + "/device"})
            for (const auto& file : listDirectory(dir).value_or(std::vector<std::string>{}))
                if (hwmon::parseInputAttribute(file)) files.push_back(dir + "/" + file);
    return files;
}

void BM_OpenReadClose(benchmark::State& state) {
    const auto files = inputFiles();
    char buffer[64];
    for (auto _ : state) {
        for (const auto& file : files) {
            const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
            benchmark::DoNotOptimize(::read(fd, buffer, sizeof buffer));
            ::close(fd);
        }
    }
    state.counters["files"] = static_cast<double>(files.size());
}
BENCHMARK(BM_OpenReadClose);

void BM_PreadKeptDescriptors(benchmark::State& state) {
    std::vector<UniqueFd> fds;
    for (const auto& file : inputFiles()) fds.emplace_back(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    char buffer[64];
    for (auto _ : state)
        for (const auto& fd : fds) benchmark::DoNotOptimize(::pread(fd.get(), buffer, sizeof buffer, 0));
}
BENCHMARK(BM_PreadKeptDescriptors);

void BM_HwmonSensors(benchmark::State& state) {
    auto sensors = makeHwmonSensors(sysRoot());
    std::size_t readings = 0;
    for (auto _ : state) {
        auto temperatures = sensors->temperatures();
        auto fans = sensors->fans();
        readings = temperatures.size() + fans.size();
        benchmark::DoNotOptimize(temperatures.data());
        benchmark::DoNotOptimize(fans.data());
    }
    state.counters["readings"] = static_cast<double>(readings);
}
BENCHMARK(BM_HwmonSensors);

// The first call's scan: the cost of a rescan after a chip came or went.
void BM_HwmonFirstCall(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(makeHwmonSensors(sysRoot())->temperatures());
}
BENCHMARK(BM_HwmonFirstCall);

}  // namespace

BENCHMARK_MAIN();
