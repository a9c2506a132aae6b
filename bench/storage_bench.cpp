// The bare cost of the memory and volume readings on the real machine: the
// files read and parsed, and one statvfs per volume. The miners' benchmarks
// sit beside these, so the ratio is the miners' own overhead.
#include <benchmark/benchmark.h>
#include <sys/statvfs.h>

#include "miners/VQTDataMinerDisks.h"
#include "miners/VQTDataMinerMemory.h"
#include "platform/linux/common/file_reading.h"
#include "platform/platform.h"
#include "platform/linux/storage/linux_storage.h"
#include "platform/linux/storage/linux_volumes.h"
#include "platform/linux/memory/meminfo.h"
#include "platform/linux/storage/mountinfo.h"
#include "platform/linux/memory/vmstat.h"

namespace {

using namespace vq::linux_platform;

// /proc/meminfo and /proc/vmstat read and parsed.
void BM_RawMemoryRead(benchmark::State& state) {
    for (auto _ : state) {
        auto meminfo = readWholeFile("/proc/meminfo");
        auto vmstat = readWholeFile("/proc/vmstat");
        if (!meminfo || !vmstat) {
            state.SkipWithError("no /proc");
            break;
        }
        benchmark::DoNotOptimize(pageCountsFromMeminfo(parseMeminfo(*meminfo)));
        benchmark::DoNotOptimize(parseVmstat(*vmstat));
    }
}
BENCHMARK(BM_RawMemoryRead);

// The memory reader as the miner calls it: page counts, then swap.
void BM_MemoryStats(benchmark::State& state) {
    auto stats = makeLinuxMemoryStats(Roots::fromEnvironment());
    for (auto _ : state) {
        benchmark::DoNotOptimize(stats->hostStatistics());
        benchmark::DoNotOptimize(stats->swapTotalBytes());
    }
}
BENCHMARK(BM_MemoryStats);

// /proc/self/mountinfo read and parsed, then statvfs on each mount that is on
// a block device: the system calls a volume listing cannot avoid.
void BM_RawVolumeRead(benchmark::State& state) {
    for (auto _ : state) {
        auto text = readWholeFile("/proc/self/mountinfo");
        if (!text) {
            state.SkipWithError("no /proc");
            break;
        }
        for (const MountinfoEntry& mount : parseMountinfo(*text)) {
            if (isPseudoOrNetworkFileSystem(mount.fsType) || mount.source.rfind("/dev/", 0) != 0) continue;
            struct statvfs info {};
            benchmark::DoNotOptimize(::statvfs(mount.mountPoint.c_str(), &info));
        }
    }
}
BENCHMARK(BM_RawVolumeRead);

// The volume reader's listing with a size, device and name per volume, as
// one refresh of the volume miner asks for them.
void BM_VolumesPerRefresh(benchmark::State& state) {
    auto volumes = makeLinuxVolumes(Roots::fromEnvironment());
    for (auto _ : state) {
        for (const std::string& path : volumes->mountedLocalVolumePaths()) {
            benchmark::DoNotOptimize(volumes->volumeSizes(path));
            benchmark::DoNotOptimize(volumes->mountedFrom(path));
            benchmark::DoNotOptimize(volumes->displayNameAtPath(path));
        }
    }
}
BENCHMARK(BM_VolumesPerRefresh);

// One findDrives pass over the synthesized registry.
void BM_DiskRegistry(benchmark::State& state) {
    auto registry = makeLinuxIORegistry(Roots::fromEnvironment());
    for (auto _ : state) {
        const auto media = registry->matchingServices("IOMedia", {{"Whole", true}});
        if (!media) continue;
        for (auto id : *media) benchmark::DoNotOptimize(registry->searchProperty(id, "Protocol Characteristics"));
    }
}
BENCHMARK(BM_DiskRegistry);

// The miners as the page's refresh runs them.
void BM_MemoryMineData(benchmark::State& state) {
    vq::VQTDataMinerMemory miner(makeLinuxMemoryStats(Roots::fromEnvironment()));
    for (auto _ : state) {
        miner.mineData();
        benchmark::DoNotOptimize(miner.getDataSet());
    }
}
BENCHMARK(BM_MemoryMineData);

void BM_DisksUpdate(benchmark::State& state) {
    vq::Platform platform = vq::makePlatformFromEnvironment();
    vq::VQTDataMinerDisks miner(platform.volumes, platform.registry, platform.files);
    for (auto _ : state) {
        miner.update();
        benchmark::DoNotOptimize(miner.getDataSet());
    }
}
BENCHMARK(BM_DisksUpdate);

}  // namespace

BENCHMARK_MAIN();
