#include "alerts/alert_checks.h"

#include <cmath>

namespace vq::alerts {
namespace {

// The severity of a reading where higher is worse.
Severity above(double value, const RuleSettings& s, double shift = 0) {
    if (value >= s.critical + shift) return Severity::critical;
    if (value >= s.warning + shift) return Severity::warning;
    return Severity::none;
}

std::string whole(double value) { return std::to_string(static_cast<long long>(std::floor(value))); }

// Keeps the worst reading's words; `clear` holds only if every reading is clear.
struct Worst {
    Observation observation;
    double rank = -1;
    void consider(Severity level, bool clear, double order, std::string summary, std::string body) {
        observation.clear = observation.clear && clear;
        if (level < observation.level || (level == observation.level && order <= rank)) return;
        observation.level = level;
        rank = order;
        observation.summary = std::move(summary);
        observation.body = std::move(body);
    }
};

}  // namespace

Observation checkTemperatures(const std::vector<TemperatureReading>& readings, const RuleSettings& s) {
    Worst worst;
    for (const TemperatureReading& r : readings) {
        const double shift = r.critCelsius ? *r.critCelsius - 100.0 : 0.0;
        const Severity level = above(r.celsius, s, shift);
        const std::string limit = r.critCelsius ? " (its limit is " + std::to_string(*r.critCelsius) + " °C)" : "";
        worst.consider(level, r.celsius <= s.clear + shift, r.celsius - (s.warning + shift),
                       level == Severity::critical ? "Critical temperature" : "High temperature",
                       r.name + " is at " + std::to_string(r.celsius) + " °C" + limit + ".");
    }
    return worst.observation;
}

Observation checkBattery(const std::optional<BatteryReading>& battery, const RuleSettings& s) {
    Observation out;
    if (!battery || battery->onExternalPower) return out;
    const int percent = battery->percent;
    out.level = percent <= s.critical ? Severity::critical : percent <= s.warning ? Severity::warning : Severity::none;
    out.clear = percent >= s.clear;
    out.summary = out.level == Severity::critical ? "Battery critically low" : "Battery low";
    out.body = std::to_string(percent) + " % left, discharging. Connect the charger.";
    return out;
}

Observation checkVolumes(const std::vector<VolumeReading>& volumes, const RuleSettings& s) {
    Worst worst;
    for (const VolumeReading& v : volumes) {
        const Severity level = above(v.percentFull, s);
        worst.consider(level, v.percentFull <= s.clear, v.percentFull,
                       level == Severity::critical ? "Volume almost full" : "Volume filling up",
                       v.name + " is " + whole(v.percentFull) + " % full.");
    }
    return worst.observation;
}

Observation checkMemory(const MemoryPressureSample& m, const RuleSettings& s) {
    Observation out;
    std::optional<double> available;
    if (m.limitBytes && m.limitUsedBytes && *m.limitBytes > 0)
        available = 100.0 * double(*m.limitBytes - std::min(*m.limitUsedBytes, *m.limitBytes)) / double(*m.limitBytes);
    else if (m.availableBytes && m.totalBytes && *m.totalBytes > 0)
        available = 100.0 * double(*m.availableBytes) / double(*m.totalBytes);
    if (m.someAvg60) {
        out.level = above(*m.someAvg60, s);
        out.clear = *m.someAvg60 <= s.clear;
    }
    if (available) {
        if (*available < kAvailableWarningPercent) out.level = std::max(out.level, Severity::warning);
        out.clear = out.clear && *available >= kAvailableClearPercent;
    }
    out.summary = out.level == Severity::critical ? "Memory critically short" : "Memory running short";
    std::string body;
    if (m.someAvg60) body = "Tasks waited for memory " + whole(*m.someAvg60) + " % of the last minute. ";
    if (available) body += whole(*available) + (m.limitBytes ? " % of the memory limit is free." : " % of memory is free.");
    out.body = body;
    return out;
}

Observation checkFans(const std::vector<FanReading>& fans) {
    Observation out;
    for (const FanReading& fan : fans) {
        if (!fan.failed) continue;
        out.clear = false;
        if (out.level == Severity::critical) continue;
        out.level = Severity::critical;
        out.summary = "Fan failure";
        out.body = fan.name + " is reported as failed.";
    }
    return out;
}

}  // namespace vq::alerts
