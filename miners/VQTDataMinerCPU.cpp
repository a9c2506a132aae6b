#include "miners/VQTDataMinerCPU.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "miners/text_format.h"

namespace vq {
namespace {

// Float-to-int truncation that stays defined for shares far outside the
// int range (possible only with absurd counter jumps).
std::int32_t truncToInt(float value) {
    if (!std::isfinite(value)) return 0;
    constexpr float kMax = 2147483520.0f;  // largest float below 2^31
    if (value >= kMax) return std::numeric_limits<std::int32_t>::max();
    if (value <= -kMax) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

}  // namespace

VQTDataMinerCPU::VQTDataMinerCPU(std::shared_ptr<ProcessorStats> stats, std::shared_ptr<Clock> clock)
    : stats_(std::move(stats)), clock_(std::move(clock)) {
    setup();
}

void VQTDataMinerCPU::setup() {
    if (auto info = stats_->processorLoadInfo()) {
        lastCPUInfo = std::move(*info);
        processors = static_cast<int>(lastCPUInfo.size());
    }
}

void VQTDataMinerCPU::mineData() {
    auto info = stats_->processorLoadInfo();
    if (!info) return;
    const std::vector<ProcessorTicks>& current = *info;
    const std::size_t n = current.size();

    std::int32_t S = 0, U = 0, N = 0;
    Value perProcessor = Value::array();
    for (std::size_t i = 0; i < n; ++i) {
        float user = 0.0f, system = 0.0f, nice = 0.0f;
        // A processor that was not there at the previous sample has no
        // interval yet; it counts as idle until the next one.
        if (i < lastCPUInfo.size()) {
            ProcessorTicks d{};
            for (std::size_t k = 0; k < d.size(); ++k) d[k] = current[i][k] - lastCPUInfo[i][k];
            const std::uint32_t sum = d[kStateUser] + d[kStateSystem] + d[kStateIdle] + d[kStateNice];
            const float total = static_cast<float>(static_cast<std::int32_t>(sum));
            // No tick elapsed: report no load rather than dividing by zero.
            if (total != 0.0f) {
                user = static_cast<float>(d[kStateUser]) / total * 100.0f;
                system = static_cast<float>(d[kStateSystem]) / total * 100.0f;
                nice = static_cast<float>(d[kStateNice]) / total * 100.0f;
            }
        }
        S = truncToInt(static_cast<float>(S) + system);
        U = truncToInt(static_cast<float>(U) + user);
        N = truncToInt(static_cast<float>(N) + nice);
        perProcessor.push_back(Value::array({truncToInt(nice + (system + user)), static_cast<double>(system),
                                             static_cast<double>(user), static_cast<double>(nice)}));
    }
    // The saved table follows the processors the kernel reports now, so a
    // processor coming or going never reads or writes past it.
    lastCPUInfo = current;
    processors = static_cast<int>(n);

    if (n > 1) {
        const auto count = static_cast<std::int32_t>(n);
        S /= count;
        U /= count;
        N /= count;
    }
    if (S < 0) S = 0;
    if (U < 0) U = 0;
    if (N < 0) N = 0;
    const std::int32_t idle = 100 - S - U - N;
    const std::int32_t busy = 100 - idle;
    latestData = Value::array({Value::array({S, U, N, idle, busy}), std::move(perProcessor)});
}

std::string VQTDataMinerCPU::getLoad() {
    auto record = stats_->loadAverage();
    if (!record || record->fscale == 0) return {};
    const double scale = static_cast<double>(record->fscale);
    return formatText("%.2f, %.2f, %.2f", static_cast<double>(record->ldavg[0]) / scale,
                  static_cast<double>(record->ldavg[1]) / scale, static_cast<double>(record->ldavg[2]) / scale);
}

std::string VQTDataMinerCPU::processInfo() {
    auto counts = stats_->processorSetLoadInfo();
    if (!counts) return {};
    return formatText("%i tasks, %i threads", counts->tasks, counts->threads);
}

std::string VQTDataMinerCPU::getUptime() {
    const std::int64_t now = clock_->now();
    auto boot = stats_->bootTime();
    if (!boot || boot->sec == 0) return {};
    const auto up = static_cast<std::int32_t>(static_cast<std::uint32_t>(now - boot->sec));
    const std::int32_t days = up / 86400;
    const std::int32_t r = up - days * 86400;
    const std::int32_t hours = r / 3600;
    const std::int32_t minutes = (r % 3600) / 60;
    return formatText("%id %ih %im", days, hours, minutes);
}

}  // namespace vq
