#include "platform/linux/metrics/proc_metrics.h"

#include <array>

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
    fields.reserve(64);
    std::array<std::string_view, 3> parts;
    while (!text.empty()) {
        const std::size_t count = splitFieldsInto(takeLine(text), parts);
        if (count < 2 || count > 3 || !parts[0].ends_with(':') || parts[0].size() < 2) continue;
        if (count == 3 && parts[2] != "kB") continue;
        const auto value = parseInteger<std::uint64_t>(parts[1]);
        if (!value) continue;
        fields.push_back({std::string(parts[0].substr(0, parts[0].size() - 1)), *value, count == 3});
    }
    return fields;
}

std::vector<VmstatCounter> parseVmstatCounters(std::string_view text) {
    std::vector<VmstatCounter> counters;
    while (!text.empty()) {
        const std::string_view line = takeLine(text);
        // Most of the file's counters are not reported: the name alone rules
        // them out before the line is split.
        std::size_t nameStart = 0;
        while (nameStart < line.size() && (line[nameStart] == ' ' || line[nameStart] == '\t')) ++nameStart;
        std::size_t nameEnd = nameStart;
        while (nameEnd < line.size() && line[nameEnd] != ' ' && line[nameEnd] != '\t') ++nameEnd;
        if (nameEnd == nameStart || !isReportedVmstatCounter(line.substr(nameStart, nameEnd - nameStart))) continue;
        std::array<std::string_view, 2> parts;
        if (splitFieldsInto(line, parts) != 2) continue;
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
