#include "bridge/top_processes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vq {
namespace {

constexpr double kShortestInterval = 0.5;  // seconds

}  // namespace

std::string formatResidentMemory(std::uint64_t bytes) {
    double value = static_cast<double>(bytes) / 1024.0;
    const char* units[] = {"KB", "MB", "GB", "TB"};
    std::size_t unit = 0;
    while (value > 1000.0 && unit + 1 < std::size(units)) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    if (unit == 0)
        std::snprintf(text, sizeof text, "%.0f%s", value, units[unit]);
    else
        std::snprintf(text, sizeof text, unit == 1 ? "%.1f%s" : "%.2f%s", value, units[unit]);
    return text;
}

Value TopProcesses::top(int count) {
    Value rows = Value::array();
    if (!processes_->sampleProcesses(current_)) return rows;
    auto& records = current_.records;
    // Both samples sorted by pid, so each process finds its previous record in one merge.
    const auto byPid = [](const ProcessRecord& a, const ProcessRecord& b) { return a.pid < b.pid; };
    if (!std::is_sorted(records.begin(), records.end(), byPid)) std::sort(records.begin(), records.end(), byPid);

    shares_.clear();
    auto before = previous_.records.begin();
    const auto beforeEnd = previous_.records.end();
    for (const ProcessRecord& record : records) {
        while (before != beforeEnd && before->pid < record.pid) ++before;
        double sinceTime = record.startedAt, sinceCpu = 0;
        // The same pid with another start time is a new process.
        if (before != beforeEnd && before->pid == record.pid && before->startedAt == record.startedAt &&
            before->cpuSeconds <= record.cpuSeconds) {
            sinceTime = std::max(previous_.takenAt, record.startedAt);
            sinceCpu = before->cpuSeconds;
        }
        const double elapsed = current_.takenAt - sinceTime;
        const double percent = elapsed > 0 ? (record.cpuSeconds - sinceCpu) / elapsed * 100.0 : 0.0;
        shares_.push_back({std::round(percent * 10.0) / 10.0, &record});
    }

    const auto busier = [](const Share& a, const Share& b) {
        return a.percent != b.percent ? a.percent > b.percent : a.record->pid < b.record->pid;
    };
    const std::size_t shown = std::min<std::size_t>(count > 0 ? static_cast<std::size_t>(count) : 0, shares_.size());
    std::partial_sort(shares_.begin(), shares_.begin() + static_cast<std::ptrdiff_t>(shown), shares_.end(), busier);
    for (std::size_t i = 0; i < shown; ++i) {
        const ProcessRecord& record = *shares_[i].record;
        rows.push_back(Value::array({record.pid, shares_[i].percent, formatResidentMemory(record.residentBytes)}));
    }
    // /proc counts CPU time in clock ticks (10 ms), so over a much shorter
    // interval the shares are mostly rounding. A call that comes sooner than
    // kShortestInterval after the sample it measured from keeps that sample
    // for the next call.
    if (previous_.records.empty() || current_.takenAt - previous_.takenAt >= kShortestInterval)
        std::swap(previous_, current_);
    return rows;
}

}  // namespace vq
