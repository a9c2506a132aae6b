// The cost of the Linux network sources: the bare RTM_GETLINK dump, the bare
// read of /proc/net/dev, and the readers built on them, so that the network
// miner's own overhead can be told apart from the kernel's.
#include <benchmark/benchmark.h>

#include "miners/VQTDataMinerNetwork.h"
#include "platform/platform.h"
#include <fcntl.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/linux/netlink/rtnetlink.h"
#include "platform/linux/network/linux_dynamic_store.h"
#include "platform/linux/network/linux_interface_counters.h"
#include "platform/linux/network/net_dev.h"

namespace {

using namespace vq::linux_platform;

void BM_RawLinkDump(benchmark::State& state) {
    for (auto _ : state) {
        auto answer = requestDump(RTM_GETLINK, AF_UNSPEC);
        if (!answer) state.SkipWithError("the kernel refused the dump");
        benchmark::DoNotOptimize(answer);
    }
}
BENCHMARK(BM_RawLinkDump);

void BM_ReadProcNetDev(benchmark::State& state) {
    char buffer[65536];
    for (auto _ : state) {
        const int fd = ::open("/proc/net/dev", O_RDONLY | O_CLOEXEC);
        ssize_t total = 0;
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) total += n;
        ::close(fd);
        benchmark::DoNotOptimize(total);
    }
}
BENCHMARK(BM_ReadProcNetDev);

void BM_InterfaceList(benchmark::State& state) {
    LinuxInterfaceCounters counters{Roots{}};
    for (auto _ : state) benchmark::DoNotOptimize(counters.interfaceList());
}
BENCHMARK(BM_InterfaceList);

void BM_ProcNetDevInterfaces(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(readProcNetDevInterfaces("/proc", "/sys"));
}
BENCHMARK(BM_ProcNetDevInterfaces);

// A read of a global key takes a new snapshot: three dumps and the sysfs checks.
void BM_StoreSnapshot(benchmark::State& state) {
    LinuxDynamicStore store{Roots{}};
    for (auto _ : state) benchmark::DoNotOptimize(store.copyValue("Setup:/Network/Global/IPv4"));
}
BENCHMARK(BM_StoreSnapshot);

// The miner's sample as the page's refresh runs it, tables already built.
void BM_NetworkMineData(benchmark::State& state) {
    vq::Platform platform = vq::makePlatformFromEnvironment();
    vq::VQTDataMinerNetwork miner(platform.dynamicStore, platform.interfaces, platform.clock, platform.notifications,
                                  platform.log);
    miner.setNeedsUpdate(true);
    miner.mineData();
    for (auto _ : state) {
        miner.mineData();
        benchmark::DoNotOptimize(miner.getDataSet());
    }
}
BENCHMARK(BM_NetworkMineData);

}  // namespace

BENCHMARK_MAIN();
