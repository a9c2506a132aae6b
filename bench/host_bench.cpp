// The host as the widget uses it: the CPU time the host process spends on one
// /batch round trip (measured from the child's own accounting, not from this
// process), for the CPU section's calls alone and for the page's whole
// refresh with every section shown, and the
// memory of an idle host after start-up and a few calls.
//
// Counters:
//   host_cpu_us_per_batch   utime + stime of the host per round trip, in µs
//   host_sched_us_per_batch the same from /proc/PID/schedstat (ns resolution)
//   host_VmRSS_MB, host_RssAnon_MB
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e.h"

namespace {

using vq::e2e::Host;
using vq::e2e::Launch;

const std::string kCpuBatch =
    R"([{"method":"cpuUsage"},{"method":"load"},{"method":"uptime"},{"method":"processinfo"}])";
// The page's refreshes with every section shown, in the page's order: the
// processes are asked every third refresh, so the page's steady state is a
// cycle of these three batches. (The disk's temperature is refreshed once a
// minute, the processor and the sensor module are asked once at the start and
// once a minute: none of them is part of the cycle.)
const std::string kRefreshCalls = R"({"method":"cpuUsage"},{"method":"load"},{"method":"uptime"},{"method":"processinfo"},
                                 {"method":"memoryUsage"},{"method":"hasDiskSetupChanged"},{"method":"diskUsage"},
                                 {"method":"hasNetworkSetupChanged"},{"method":"network"},{"method":"gpus"},
                                 {"method":"setShouldMonitorSMARTTemps","args":[1]},{"method":"temps","args":[0]},
                                 {"method":"fans"},{"method":"isLaptop"},{"method":"battery"})";
const std::vector<std::string> kPageCycle{"[" + kRefreshCalls + R"(,{"method":"topProcesses","args":[5]}])",
                                          "[" + kRefreshCalls + "]", "[" + kRefreshCalls + "]"};
const std::vector<std::string> kCpuCycle{kCpuBatch};

// Seconds of CPU the process has used: utime + stime of /proc/PID/stat.
double cpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The command name may hold spaces and parentheses; fields follow the last ')'.
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) {
            stime = std::stoull(field);
            break;
        }
    }
    return double(utime + stime) / double(::sysconf(_SC_CLK_TCK));
}

// Nanoseconds on the CPU from /proc/PID/schedstat, when the kernel has it.
std::optional<double> scheduledNanoseconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/schedstat");
    double ns = 0;
    if (!(in >> ns)) return std::nullopt;
    return ns;
}

// A "Key:   123 kB" line of /proc/PID/status, in MB.
double statusMegabytes(pid_t pid, const std::string& key) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);) {
        if (!line.starts_with(key + ":")) continue;
        std::istringstream value(line.substr(key.size() + 1));
        double kb = 0;
        value >> kb;
        return kb / 1024.0;
    }
    return -1;
}

std::optional<std::string> machineFor(const benchmark::State& state) {
    if (state.range(0) == 0) return std::nullopt;
    return vq::e2e::kTwoCoreMachine;
}

void BM_HostBatchRoundTrip(benchmark::State& state, const std::vector<std::string>& cycle) {
    // The simulated machine for the whole page has volumes and interfaces;
    // on this machine the icon cache goes to a scratch folder.
    vq::e2e::TempDir dataHome;
    Launch launch{machineFor(state), {}, {"XDG_DATA_HOME=" + dataHome.path}};
    if (state.range(0) != 0 && &cycle == &kPageCycle) launch.machine = vq::e2e::kDeskMachine;
    Host host(launch);
    for (std::size_t i = 0; i < 20; ++i) host.post("/batch", cycle[i % cycle.size()]);

    const double cpuBefore = cpuSeconds(host.pid);
    const auto schedBefore = scheduledNanoseconds(host.pid);
    std::size_t sent = 0;
    for (auto _ : state) {
        auto response = host.post("/batch", cycle[sent++ % cycle.size()]);
        if (response.status != 200) {
            state.SkipWithError(("batch answered " + std::to_string(response.status)).c_str());
            break;
        }
        benchmark::DoNotOptimize(response.body.data());
    }
    const double batches = double(state.iterations());
    state.counters["host_cpu_us_per_batch"] = (cpuSeconds(host.pid) - cpuBefore) * 1e6 / batches;
    if (auto schedAfter = scheduledNanoseconds(host.pid); schedAfter && schedBefore)
        state.counters["host_sched_us_per_batch"] = (*schedAfter - *schedBefore) / 1e3 / batches;
    state.SetLabel(state.range(0) == 0 ? "this machine" : "simulated machine");
}
// Enough round trips for the clock-tick resolution of utime/stime.
BENCHMARK_CAPTURE(BM_HostBatchRoundTrip, cpu, kCpuCycle)
    ->Arg(0)->Arg(1)->MinTime(2.0)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_HostBatchRoundTrip, page, kPageCycle)
    ->Arg(0)->Arg(1)->MinTime(2.0)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_IdleHostMemory(benchmark::State& state) {
    Host host(Launch{machineFor(state)});
    for (const char* file : {"/", "/style.css", "/velquette.js", "/js/widget.js"}) host.request("GET", file);
    for (int i = 0; i < 5; ++i) host.post("/batch", kCpuBatch);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    for (auto _ : state) {
        state.counters["host_VmRSS_MB"] = statusMegabytes(host.pid, "VmRSS");
        state.counters["host_RssAnon_MB"] = statusMegabytes(host.pid, "RssAnon");
    }
    state.SetLabel(state.range(0) == 0 ? "this machine" : "simulated machine");
}
BENCHMARK(BM_IdleHostMemory)->Arg(0)->Arg(1)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
