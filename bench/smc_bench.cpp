// The SMC sensor controller on the simulated SMC: one getTempValues with 10
// supported temperature keys, one getFanValues with 2 fans. The counter
// "exchanges" is the number of 80-byte exchanges per call.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>

#include "platform/sim/sim_smc.h"
#include "sensors/VelquorIntelControllerParquell.h"
#include "smc/smc.h"

namespace {

std::shared_ptr<vq::SimSmc> macSmc() {
    auto sim = std::make_shared<vq::SimSmc>();
    for (const char* key : {"TC0H", "TC0D", "TC1D", "TG0P", "TA0P", "TH0P", "Th0H", "TG0D", "TM0S", "TN0P"})
        sim->setKey(key, "sp78", {0x2D, 0x40});
    sim->setKey("FNum", "ui8 ", {0x02});
    for (const char* key : {"F0Ac", "F1Ac"}) sim->setKey(key, "fpe2", {0x12, 0x34});
    sim->setKey("F0ID", "{fds", {0x00, 0x12, 0x00, 0x00, 'L', 'e', 'f', 't', ' ', 's', 'i', 'd', 'e', ' ', ' ', ' '});
    sim->setKey("F1ID", "{fds", {0x00, 0x12, 0x00, 0x01, 'R', 'i', 'g', 'h', 't', ' ', 's', 'i', 'd', 'e', ' ', ' '});
    // Other keys of a real table, so lookups search a realistic size.
    for (int i = 0; i < 300; ++i) {
        char key[5];
        std::snprintf(key, sizeof key, "Z%03d", i);
        sim->setKey(key, "ui8 ", {0x01});
    }
    return sim;
}

template <typename Call>
void measure(benchmark::State& state, Call call) {
    auto sim = macSmc();
    auto previous = vq::installProcessSmcTransport(sim);
    {
        vq::VelquorIntelControllerParquell controller;
        const auto before = sim->exchanges();
        std::uint64_t calls = 0;
        for (auto _ : state) {
            benchmark::DoNotOptimize(call(controller));
            ++calls;
        }
        state.counters["exchanges"] = static_cast<double>(sim->exchanges() - before) / static_cast<double>(calls);
    }
    vq::installProcessSmcTransport(previous);
}

void BM_GetTempValues(benchmark::State& state) {
    measure(state, [](auto& controller) { return controller.getTempValues(); });
}
BENCHMARK(BM_GetTempValues);

void BM_GetFanValues(benchmark::State& state) {
    measure(state, [](auto& controller) { return controller.getFanValues(); });
}
BENCHMARK(BM_GetFanValues);

}  // namespace

BENCHMARK_MAIN();
