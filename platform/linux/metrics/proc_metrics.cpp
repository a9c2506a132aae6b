#include "platform/linux/metrics/proc_metrics.h"

#include "platform/linux/common/text_fields.h"

namespace vq::linux_platform::metrics {
namespace {

bool isReportedVmstatCounter(std::string_view name) {
    return name.starts_with("oom_kill") || name.starts_with("pgpg") || name.starts_with("pswp") ||
           (name.starts_with("pg") && name.find("fault") != std::string_view::npos);
}

}  // namespace

std::vector<MeminfoField> parseMeminfoFields(std::string_view text) {
    std::vector<MeminfoField> fields;
    while (!text.empty()) {
        const auto parts = splitFields(takeLine(text));
        if (parts.size() < 2 || parts.size() > 3 || !parts[0].ends_with(':') || parts[0].size() < 2) continue;
        if (parts.size() == 3 && parts[2] != "kB") continue;
        const auto value = parseInteger<std::uint64_t>(parts[1]);
        if (!value) continue;
        fields.push_back({std::string(parts[0].substr(0, parts[0].size() - 1)), *value, parts.size() == 3});
    }
    return fields;
}

std::vector<VmstatCounter> parseVmstatCounters(std::string_view text) {
    std::vector<VmstatCounter> counters;
    while (!text.empty()) {
        const std::string_view line = takeLine(text);
        // Most of the file's counters are not reported: the name alone rules
        // them out before the line is split.
        const auto nameStart = line.find_first_not_of(" \t");
        if (nameStart == std::string_view::npos) continue;
        const auto nameEnd = line.find_first_of(" \t", nameStart);
        if (!isReportedVmstatCounter(line.substr(nameStart, nameEnd - nameStart))) continue;
        const auto parts = splitFields(line);
        if (parts.size() != 2) continue;
        if (const auto value = parseInteger<std::uint64_t>(parts[1])) counters.push_back({std::string(parts[0]), *value});
    }
    return counters;
}

std::optional<LoadAverages> parseLoadavg(std::string_view text) {
    const auto parts = splitFields(takeLine(text));
    if (parts.size() < 3) return std::nullopt;
    const auto one = parseDecimal(parts[0]), five = parseDecimal(parts[1]), fifteen = parseDecimal(parts[2]);
    if (!one || !five || !fifteen) return std::nullopt;
    return LoadAverages{*one, *five, *fifteen};
}

}  // namespace vq::linux_platform::metrics
