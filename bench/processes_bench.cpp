// The busiest processes of this machine. topProcesses (every /proc/PID/stat
// read, shares computed, the five busiest chosen) sits beside the floor, a
// plain loop that reads every /proc/PID/stat once, and beside psutil's
// process_iter with cpu_percent and memory_info (bench/psutil_processes.py,
// run with the system's python3 and python3-psutil).
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "bridge/top_processes.h"
#include "platform/linux/common/unique_fd.h"
#include "platform/linux/processes/linux_processes.h"

namespace {

using vq::linux_platform::UniqueFd;

void BM_TopProcesses(benchmark::State& state) {
    vq::TopProcesses top(vq::linux_platform::makeLinuxProcesses("/proc", {}));
    top.top(5);
    for (auto _ : state) benchmark::DoNotOptimize(top.top(5));
}
BENCHMARK(BM_TopProcesses)->Unit(benchmark::kMicrosecond);

// The floor: list /proc, open, read and close each process's stat file.
void BM_PlainStatLoop(benchmark::State& state) {
    UniqueFd proc(::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    char path[sizeof(dirent::d_name) + 8], buffer[1024];
    for (auto _ : state) {
        DIR* dir = ::fdopendir(::openat(proc.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        std::size_t bytes = 0;
        while (const dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
            std::snprintf(path, sizeof path, "%s/stat", entry->d_name);
            UniqueFd fd(::openat(proc.get(), path, O_RDONLY | O_CLOEXEC));
            if (!fd) continue;
            const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
            bytes += n > 0 ? static_cast<std::size_t>(n) : 0;
        }
        ::closedir(dir);
        benchmark::DoNotOptimize(bytes);
    }
}
BENCHMARK(BM_PlainStatLoop)->Unit(benchmark::kMicrosecond);

// psutil times its own refreshes (so Python's start-up is not counted);
// its figure is reported as this benchmark's time per iteration.
void BM_PsutilProcessIter(benchmark::State& state) {
    for (auto _ : state) {
        std::unique_ptr<FILE, int (*)(FILE*)> run(
            ::popen("/usr/bin/python3 " VELQUETTE_SOURCE_DIR "/bench/psutil_processes.py 100 2>/dev/null", "r"),
            &::pclose);
        double seconds = 0;
        if (!run || std::fscanf(run.get(), "%lf", &seconds) != 1) {
            state.SkipWithError("python3-psutil is not installed (scripts/bootstrap installs it)");
            return;
        }
        state.SetIterationTime(seconds);
    }
}
BENCHMARK(BM_PsutilProcessIter)->UseManualTime()->Iterations(3)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
