#include "alerts/alert_engine.h"

#include <algorithm>

namespace vq::alerts {

const char* severityName(Severity severity) {
    switch (severity) {
        case Severity::warning: return "warning";
        case Severity::critical: return "critical";
        case Severity::none: break;
    }
    return "none";
}

void AlertEngine::evaluate(std::int64_t now, const std::vector<Input>& inputs) {
    std::vector<std::pair<const std::string*, Rule*>> order;
    for (const Input& input : inputs) {
        Rule& rule = rules_[input.rule];
        step(rule, now, input.timing, input.observation);
        order.emplace_back(&input.rule, &rule);
    }
    // Critical notifications first, should the cap hold some back.
    std::stable_sort(order.begin(), order.end(),
                     [](const auto& a, const auto& b) { return a.second->severity > b.second->severity; });
    while (!sentTimes_.empty() && now - sentTimes_.front() >= 60) sentTimes_.pop_front();
    for (auto& [name, rule] : order) deliver(*name, *rule, now);
}

void AlertEngine::step(Rule& rule, std::int64_t now, const RuleTiming& timing, const Observation& seen) {
    if (!timing.enabled) {
        const Severity shown = rule.shown;
        const auto lastSent = rule.lastSent;
        rule = Rule{};
        // Kept so that the notification on screen is taken away, and so that
        // switching the rule off and on does not escape the per-rule gap.
        rule.shown = shown;
        rule.lastSent = lastSent;
        return;
    }
    // How long the condition has held without a break, at each severity.
    if (seen.level == Severity::none) rule.heldSince.reset();
    else if (!rule.heldSince) rule.heldSince = now;
    if (seen.level != Severity::critical) rule.criticalSince.reset();
    else if (!rule.criticalSince) rule.criticalSince = now;
    Severity held = Severity::none;
    if (rule.criticalSince && now - *rule.criticalSince >= timing.forSeconds / 3) held = Severity::critical;
    else if (rule.heldSince && now - *rule.heldSince >= timing.forSeconds) held = Severity::warning;

    switch (rule.state) {
        case State::ok:
        case State::pending:
            if (held != Severity::none) {
                rule.state = State::firing;
                rule.severity = held;
                rule.firedAt = now;
            } else {
                rule.state = rule.heldSince ? State::pending : State::ok;
            }
            break;
        case State::firing:
        case State::clearing:
            rule.severity = std::max(rule.severity, held);
            if (!seen.clear) {
                rule.state = State::firing;
                rule.clearingSince.reset();
            } else if (!rule.clearingSince) {
                rule.state = State::clearing;
                rule.clearingSince = now;
            }
            if (rule.state == State::clearing && now - *rule.clearingSince >= timing.clearForSeconds) {
                rule.state = State::ok;
                rule.severity = Severity::none;
                rule.clearingSince.reset();
            }
            break;
    }
    // The text follows the reading while the rule fires; a rule that fired
    // on one sensor and escalated on another names the worse.
    if (rule.state == State::firing && seen.level != Severity::none) rule.latest = seen;
}

void AlertEngine::deliver(const std::string& name, Rule& rule, std::int64_t now) {
    if (!notifications_) return;
    if (rule.severity == Severity::none) {
        if (rule.shown != Severity::none) notifications_->close(name);
        rule.shown = Severity::none;
        return;
    }
    const bool fresh = rule.shown == Severity::none;
    const bool escalated = !fresh && rule.shown < rule.severity;
    const bool reminder = !fresh && rule.severity == Severity::critical && rule.lastSent &&
                          now - *rule.lastSent >= kReminderSeconds;
    if (!fresh && !escalated && !reminder) return;
    // An escalation replaces what is on screen, so the per-rule gap, which
    // is there against flapping, does not hold it back.
    if (fresh && rule.lastSent && now - *rule.lastSent < kPerRuleGapSeconds) return;
    if (sentTimes_.size() >= kMostPerMinute) return;
    if (!notifications_->show(name, {rule.latest.summary, rule.latest.body, rule.severity == Severity::critical}))
        return;
    rule.shown = rule.severity;
    rule.lastSent = now;
    sentTimes_.push_back(now);
}

std::vector<FiringAlert> AlertEngine::firing() const {
    std::vector<FiringAlert> out;
    for (const auto& [name, rule] : rules_)
        if (rule.state == State::firing || rule.state == State::clearing)
            out.push_back({name, rule.severity, rule.latest.summary, rule.latest.body, rule.firedAt});
    std::stable_sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.severity > b.severity; });
    return out;
}

}  // namespace vq::alerts
