// The combined battery on the two-battery fixture tree, beside a plain loop
// that opens, reads and closes the files the reader tries (the type of each
// supply, the online state of the charger and every battery attribute, some
// of which a battery lacks). The ratio is the reader's cost against the naive
// way: the directory listing, the parsing and the sums.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/linux/power/power_supply.h"

namespace {

using namespace vq::linux_platform;

std::string sysRoot() {
    const char* root = std::getenv("VELQUETTE_BATTERY_BENCH_SYS");
    return root ? root : VELQUETTE_SOURCE_DIR "/tests/fixtures/linux/power-thinkpad-two-batteries";
}

std::vector<std::string> triedFiles() {
    const std::string dir = sysRoot() + "/class/power_supply/";
    std::vector<std::string> files = {dir + "AC/type", dir + "AC/online"};
    for (const char* battery : {"BAT0/", "BAT1/"}) {
        files.push_back(dir + battery + "type");
        files.push_back(dir + battery + "scope");
        for (const std::string& name : batteryAttributeNames()) files.push_back(dir + battery + name);
    }
    return files;
}

void BM_OpenReadClose(benchmark::State& state) {
    const auto files = triedFiles();
    char buffer[64];
    for (auto _ : state) {
        for (const auto& file : files) {
            const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) continue;
            benchmark::DoNotOptimize(::read(fd, buffer, sizeof buffer));
            ::close(fd);
        }
    }
    state.counters["files"] = static_cast<double>(files.size());
}
BENCHMARK(BM_OpenReadClose);

void BM_CombinedBattery(benchmark::State& state) {
    const std::string root = sysRoot();
    if (!readCombinedBattery(root)) state.SkipWithError("no battery in the tree");
    for (auto _ : state) benchmark::DoNotOptimize(readCombinedBattery(root));
}
BENCHMARK(BM_CombinedBattery);

}  // namespace

BENCHMARK_MAIN();
