#pragma once
// The alert rules' state machines and the notifications they send.
//
// A rule goes OK → pending (its condition holds) → firing (it held for
// `for` seconds; a critical condition needs a third of that) → clearing
// (the reading is past the clear threshold) → OK (it stayed there for
// `clear_for` seconds). A notification goes out when a rule fires, and is
// replaced in place when it escalates from warning to critical; while a
// critical rule keeps firing it is shown again every hour. A rule that
// clears takes its notification away. No rule notifies again within ten
// minutes of its last notification (flapping), and no more than five go
// out in any minute; a notification held back goes out once it may. The
// clock is the caller's: nothing here reads the time.

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/desktop_notifications.h"

namespace vq::alerts {

enum class Severity { none, warning, critical };
const char* severityName(Severity severity);

// One reading of a rule's condition.
struct Observation {
    Severity level = Severity::none;  // the worst threshold the reading is at or past
    bool clear = true;                // past the clear threshold: back to normal
    std::string summary, body;        // what a notification says, for the worst reading
};

struct RuleTiming {
    bool enabled = true;
    int forSeconds = 0;
    int clearForSeconds = 0;
};

struct FiringAlert {
    std::string rule;
    Severity severity = Severity::none;
    std::string summary, body;
    std::int64_t since = 0;  // when it fired, seconds since 1970
};

class AlertEngine {
public:
    static constexpr std::int64_t kPerRuleGapSeconds = 600;
    static constexpr std::int64_t kReminderSeconds = 3600;
    static constexpr std::size_t kMostPerMinute = 5;

    // `notifications` may be null: the rules still fire and show in the page.
    explicit AlertEngine(DesktopNotifications* notifications) : notifications_(notifications) {}

    struct Input {
        std::string rule;
        RuleTiming timing;
        Observation observation;
    };
    // One evaluation of the given rules at `now` (seconds); rules not given
    // keep their state.
    void evaluate(std::int64_t now, const std::vector<Input>& inputs);

    // Firing (and clearing) rules, the most severe first.
    std::vector<FiringAlert> firing() const;

private:
    enum class State { ok, pending, firing, clearing };
    struct Rule {
        State state = State::ok;
        Severity severity = Severity::none;
        std::optional<std::int64_t> heldSince, criticalSince, clearingSince;
        std::int64_t firedAt = 0;
        Severity shown = Severity::none;  // the notification on screen
        std::optional<std::int64_t> lastSent;
        Observation latest;
    };

    void step(Rule& rule, std::int64_t now, const RuleTiming& timing, const Observation& observation);
    void deliver(const std::string& name, Rule& rule, std::int64_t now);

    DesktopNotifications* notifications_;
    std::map<std::string, Rule> rules_;
    std::deque<std::int64_t> sentTimes_;
};

}  // namespace vq::alerts
