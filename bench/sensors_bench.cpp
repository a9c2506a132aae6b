// The bridge's whole `temps` and `fans` calls on a Linux platform whose sys
// root is the largest hwmon fixture tree (an AMD desktop): the source choice,
// the native source's grouping and sorting, the miner's unit conversion and
// the bridge's merge, over the hwmon reader. The counter "rows" is the length
// of one answer. VELQUETTE_SENSORS_BENCH_SYS picks another tree.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include "bridge/Velquette.h"

namespace {

// One plug-in object for the whole run, with its data folder in a scratch
// folder so that nothing is written into the user's.
struct ScratchFolder {
    ScratchFolder() : path(std::filesystem::temp_directory_path().string() + "/velquette-sensors-bench-XXXXXX") {
        if (!::mkdtemp(path.data())) std::abort();
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string path;
};

vq::Velquette& object() {
    // Made before the object, so removed after it.
    static const ScratchFolder scratch;
    static std::unique_ptr<vq::Velquette> instance = [] {
        const char* chosen = std::getenv("VELQUETTE_SENSORS_BENCH_SYS");
        ::setenv("VELQUETTE_SYS_ROOT", chosen ? chosen : VELQUETTE_SOURCE_DIR "/tests/fixtures/linux/hwmon-amd-desktop",
                 1);
        ::setenv("XDG_DATA_HOME", scratch.path.c_str(), 1);
        ::unsetenv("VELQUETTE_MACHINE");
        return std::make_unique<vq::Velquette>(vq::makePlatformFromEnvironment());
    }();
    return *instance;
}

void BM_Temps(benchmark::State& state) {
    auto& velquette = object();
    std::size_t rows = 0;
    for (auto _ : state) {
        vq::Value answer = velquette.temps(1);
        rows = answer.size();
        benchmark::DoNotOptimize(answer);
    }
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_Temps);

void BM_Fans(benchmark::State& state) {
    auto& velquette = object();
    std::size_t rows = 0;
    for (auto _ : state) {
        vq::Value answer = velquette.fans();
        rows = answer.size();
        benchmark::DoNotOptimize(answer);
    }
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_Fans);

}  // namespace

BENCHMARK_MAIN();
