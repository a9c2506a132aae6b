#include "alerts/alerts.h"

#include <charconv>

#include "alerts/alert_checks.h"

namespace vq::alerts {

Alerts::Alerts(const Platform& platform, std::function<std::int64_t()> steadySeconds)
    : platform_(platform),
      steadySeconds_(std::move(steadySeconds)),
      engine_(platform.desktopNotifications.get()),
      battery_(platform.machine, platform.registry, platform.powerSources) {
    const auto text = platform_.configFiles ? platform_.configFiles->read(kAlertsFileName) : std::nullopt;
    if (!text) return;
    auto parsed = parseAlertsFile(*text);
    if (auto* all = std::get_if<AllSettings>(&parsed)) {
        settings_ = *all;
        return;
    }
    const bool kept = platform_.configFiles->setAside(kAlertsFileName);
    if (platform_.log)
        platform_.log->log(std::string("velquette: alerts.conf is unusable (") + std::get<std::string>(parsed) +
                           "); the default rules apply" + (kept ? ", and the file is kept as alerts.conf.bad" : ""));
}

const RuleSettings& Alerts::settings(RuleKind kind) const { return settings_[std::size_t(kind)]; }

// The battery miner's charge ("4%") and power source ("Battery" or "AC Power").
std::optional<BatteryReading> Alerts::readBattery() {
    if (!battery_.isLaptop()) return std::nullopt;
    battery_.mineData();
    const Value& data = battery_.getDataSet();
    if (!data.is_array() || data.size() < 3 || !data[1].is_string() || !data[2].is_string()) return std::nullopt;
    const std::string charge = data[1].get<std::string>(), source = data[2].get<std::string>();
    BatteryReading reading;
    const auto [end, error] = std::from_chars(charge.data(), charge.data() + charge.size(), reading.percent);
    // "0" without a percent sign is the miner's placeholder for an unknown charge.
    if (error != std::errc() || std::string_view(end, charge.data() + charge.size()) != "%") return std::nullopt;
    if (source != "Battery" && source != "AC Power") return std::nullopt;
    reading.onExternalPower = source == "AC Power";
    return reading;
}

void Alerts::evaluate() {
    const std::int64_t now = steadySeconds_();
    std::vector<AlertEngine::Input> inputs;
    auto add = [&](RuleKind kind, auto check) {
        const RuleSettings& s = settings(kind);
        inputs.push_back({std::string(ruleName(kind)), {s.enabled, s.forSeconds, s.clearForSeconds},
                          s.enabled ? check(s) : Observation{}});
    };
    add(RuleKind::temperature, [&](const RuleSettings& s) {
        return checkTemperatures(platform_.sensors ? platform_.sensors->temperatures() : std::vector<TemperatureReading>{},
                                 s);
    });
    add(RuleKind::battery, [&](const RuleSettings& s) { return checkBattery(readBattery(), s); });
    add(RuleKind::volumes, [&](const RuleSettings& s) {
        if (!volumesCheckedAt_ || now - *volumesCheckedAt_ >= kVolumeCheckSeconds) {
            volumesCheckedAt_ = now;
            std::vector<VolumeReading> volumes;
            const auto paths = platform_.volumes ? platform_.volumes->mountedLocalVolumePaths() : std::vector<std::string>{};
            for (const std::string& path : paths) {
                const auto sizes = platform_.volumes->volumeSizes(path);
                if (!sizes || sizes->totalBytes == 0) continue;
                const double used = double(sizes->totalBytes - std::min(sizes->freeBytes, sizes->totalBytes));
                volumes.push_back({platform_.volumes->displayNameAtPath(path), 100.0 * used / double(sizes->totalBytes)});
            }
            volumes_ = checkVolumes(volumes, s);
        }
        return volumes_;
    });
    add(RuleKind::memory, [&](const RuleSettings& s) {
        return platform_.memoryPressure ? checkMemory(platform_.memoryPressure->sample(), s) : Observation{};
    });
    add(RuleKind::fan, [&](const RuleSettings&) {
        return checkFans(platform_.sensors ? platform_.sensors->fans() : std::vector<FanReading>{});
    });
    engine_.evaluate(now, inputs);
}

Value Alerts::firing() const {
    Value out = Value::array();
    const std::int64_t now = steadySeconds_();
    for (const FiringAlert& alert : engine_.firing())
        out.push_back({{"rule", alert.rule},
                       {"severity", severityName(alert.severity)},
                       {"summary", alert.summary},
                       {"body", alert.body},
                       {"seconds", now - alert.since}});
    return out;
}

Value Alerts::rule(const std::string& name) const {
    const auto kind = ruleNamed(name);
    return kind ? settingsValue(*kind, settings(*kind)) : Value();
}

std::string Alerts::setRule(const std::string& name, const std::string& key, const Value& value) {
    const auto kind = ruleNamed(name);
    if (!kind) return "no such rule: " + name;
    auto changed = withValue(*kind, settings(*kind), key, value);
    if (auto* reason = std::get_if<std::string>(&changed)) return *reason;
    if (!platform_.configFiles) return "the settings cannot be kept on this machine";
    const std::string text = writeRule(platform_.configFiles->read(kAlertsFileName).value_or(""), *kind,
                                       std::get<RuleSettings>(changed));
    if (!platform_.configFiles->replace(kAlertsFileName, text)) return "cannot write alerts.conf";
    settings_[std::size_t(*kind)] = std::get<RuleSettings>(changed);
    // A change takes effect at once, not at the next tick of the timer.
    evaluate();
    return "";
}

}  // namespace vq::alerts
