#include "platform/linux/cgroups/cgroup_files.h"

#include <algorithm>
#include <cctype>
#include <limits>

#include "platform/linux/common/text_fields.h"

namespace vq::linux_platform {
namespace {

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        const auto end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

bool isHexId(std::string_view text) {
    return text.size() >= 12 && std::all_of(text.begin(), text.end(), [](char c) { return std::isxdigit(c) != 0; });
}

// "PREFIX<middle>SUFFIX" -> middle, or nullopt.
std::optional<std::string_view> between(std::string_view text, std::string_view prefix, std::string_view suffix) {
    if (text.size() <= prefix.size() + suffix.size() || !text.starts_with(prefix) || !text.ends_with(suffix))
        return std::nullopt;
    return text.substr(prefix.size(), text.size() - prefix.size() - suffix.size());
}

// systemd writes some characters of unit names as "\xNN".
std::string unescapeUnitName(std::string_view name) {
    std::string out;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x' && std::isxdigit(name[i + 2]) &&
            std::isxdigit(name[i + 3])) {
            out += static_cast<char>(std::stoi(std::string(name.substr(i + 2, 2)), nullptr, 16));
            i += 3;
        } else {
            out += name[i];
        }
    }
    return out;
}

// The container label of one path component (with the one after it, for
// layouts that put the id in a folder of its own); empty when it names none.
std::string containerOf(std::string_view part, std::string_view next, bool underKubernetes) {
    const auto id = [](std::string_view hex) { return std::string(hex.substr(0, 12)); };
    if (part == "docker" && isHexId(next)) return "docker:" + id(next);
    if (const auto hex = between(part, "docker-", ".scope"); hex && isHexId(*hex)) return "docker:" + id(*hex);
    if (const auto hex = between(part, "libpod-", ".scope"); hex && isHexId(*hex)) return "pod:" + id(*hex);
    if (underKubernetes) {
        for (const std::string_view prefix : {"cri-containerd-", "crio-", "docker-"})
            if (const auto hex = between(part, prefix, ".scope"); hex && isHexId(*hex)) return "pod:" + id(*hex);
        if (isHexId(part)) return "pod:" + id(part);
    }
    if ((part == "lxc" || part == "lxc.payload") && !next.empty()) return "lxc:" + std::string(next);
    if (const auto name = between(part, "lxc.payload.", "")) return "lxc:" + std::string(*name);
    if (const auto name = between(part, "systemd-nspawn@", ".service")) return unescapeUnitName(*name);
    if (const auto name = between(part, "machine-", ".scope")) return unescapeUnitName(*name);
    return {};
}

}  // namespace

std::vector<CgroupMembership> parseProcCgroup(std::string_view text) {
    std::vector<CgroupMembership> groups;
    while (!text.empty()) {
        const std::string_view line = takeLine(text);
        const auto first = line.find(':');
        const auto second = first == std::string_view::npos ? first : line.find(':', first + 1);
        if (second == std::string_view::npos) continue;
        const auto id = parseInteger<unsigned>(line.substr(0, first));
        if (!id) continue;
        CgroupMembership group{*id, {}, std::string(line.substr(second + 1))};
        const std::string_view controllers = line.substr(first + 1, second - first - 1);
        if (!controllers.empty())
            for (const auto name : split(controllers, ',')) group.controllers.emplace_back(name);
        groups.push_back(std::move(group));
    }
    return groups;
}

std::optional<ControllerGroup> groupOfController(const std::vector<CgroupMembership>& groups,
                                                 std::string_view controller) {
    std::optional<ControllerGroup> unified;
    for (const CgroupMembership& group : groups) {
        if (std::find(group.controllers.begin(), group.controllers.end(), controller) != group.controllers.end())
            return ControllerGroup{group.path, false};
        if (group.hierarchy == 0 && group.controllers.empty()) unified = ControllerGroup{group.path, true};
    }
    return unified;
}

std::optional<std::uint64_t> parseLimit(std::string_view text) {
    const auto value = parseInteger<std::uint64_t>(trimBlanks(text));
    // v1 writes "no limit" as the largest signed value rounded down to a page.
    if (!value || *value >= (std::uint64_t(std::numeric_limits<std::int64_t>::max()) & ~std::uint64_t(0xfff)))
        return std::nullopt;
    return value;
}

std::optional<double> parseCpuMax(std::string_view text) {
    const auto fields = splitFields(trimBlanks(text));
    if (fields.empty()) return std::nullopt;
    const auto quota = parseInteger<std::uint64_t>(fields[0]);
    const auto period = fields.size() > 1 ? parseInteger<std::uint64_t>(fields[1]) : std::optional<std::uint64_t>();
    if (!quota || !period || *period == 0) return std::nullopt;
    return double(*quota) / double(*period);
}

std::map<std::string, std::uint64_t, std::less<>> parseFlatKeyed(std::string_view text) {
    std::map<std::string, std::uint64_t, std::less<>> values;
    while (!text.empty()) {
        const auto fields = splitFields(takeLine(text));
        if (fields.size() != 2) continue;
        if (const auto value = parseInteger<std::uint64_t>(fields[1])) values.emplace(fields[0], *value);
    }
    return values;
}

std::string unitLabelOfCgroup(std::string_view path) {
    const auto parts = split(path, '/');
    const bool kubernetes = std::any_of(parts.begin(), parts.end(), [](std::string_view part) {
        return part.starts_with("kubepods");
    });
    // The innermost container wins: a process of a container nested in
    // another runs in the inner one.
    for (std::size_t i = parts.size(); i-- > 0;) {
        std::string label = containerOf(parts[i], i + 1 < parts.size() ? parts[i + 1] : "", kubernetes);
        if (!label.empty()) return label;
    }
    for (std::size_t i = parts.size(); i-- > 0;)
        if (const auto name = between(parts[i], "", ".service")) return unescapeUnitName(*name);
    return {};
}

}  // namespace vq::linux_platform
