// mineData on the real machine beside the bare cost of reading /proc/stat.
// The ratio of the two is the miner's own overhead.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include "miners/VQTDataMinerCPU.h"
#include "platform/platform.h"

namespace {

void BM_ReadProcStat(benchmark::State& state) {
    char buffer[65536];
    for (auto _ : state) {
        const int fd = ::open("/proc/stat", O_RDONLY | O_CLOEXEC);
        ssize_t total = 0;
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) total += n;
        ::close(fd);
        benchmark::DoNotOptimize(total);
    }
}
BENCHMARK(BM_ReadProcStat);

void BM_MineData(benchmark::State& state) {
    vq::Platform platform = vq::makePlatformFromEnvironment();
    vq::VQTDataMinerCPU miner(platform.processorStats, platform.clock);
    for (auto _ : state) {
        miner.mineData();
        benchmark::DoNotOptimize(miner.getDataSet());
    }
}
BENCHMARK(BM_MineData);

}  // namespace

BENCHMARK_MAIN();
