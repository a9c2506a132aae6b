#pragma once
// The alerts of the host: the rules' settings kept in alerts.conf, the
// readings they are checked against (taken through the same services the
// page's miners use, by readers of their own so that a check changes
// nothing the page sees), and the state machines that notify.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "alerts/alert_checks.h"
#include "alerts/alert_engine.h"
#include "alerts/alert_rules.h"
#include "miners/VQTDataMinerBattery.h"
#include "miners/data_set.h"
#include "platform/platform.h"

namespace vq::alerts {

constexpr const char* kAlertsFileName = "alerts.conf";

class Alerts {
public:
    // The volumes are read once a minute, however often the rules run.
    static constexpr std::int64_t kVolumeCheckSeconds = 60;

    // Reads alerts.conf; a file that cannot be used is set aside as
    // alerts.conf.bad, with one line in the log, and the defaults apply.
    // `steadySeconds` answers the time on a clock that no one sets.
    Alerts(const Platform& platform, std::function<std::int64_t()> steadySeconds);

    // Takes the readings and runs every rule once.
    void evaluate();

    // [{rule, severity, summary, body, seconds}] (seconds: how long it has
    // fired), the most severe first.
    Value firing() const;
    std::vector<FiringAlert> firingAlerts() const { return engine_.firing(); }
    // The rule's settings (see settingsValue), or null for no such rule.
    Value rule(const std::string& name) const;
    // Sets one setting of a rule and writes the file: "" when done, else
    // the one-line reason, with the settings and the file unchanged.
    std::string setRule(const std::string& name, const std::string& key, const Value& value);

private:
    std::optional<BatteryReading> readBattery();
    const RuleSettings& settings(RuleKind kind) const;

    Platform platform_;
    std::function<std::int64_t()> steadySeconds_;
    AllSettings settings_ = defaultSettings();
    AlertEngine engine_;
    VQTDataMinerBattery battery_;
    std::optional<std::int64_t> volumesCheckedAt_;
    Observation volumes_;
};

}  // namespace vq::alerts
