#include "platform/linux/sensors/hwmon_names.h"

#include <set>

#include "platform/linux/common/text_fields.h"

namespace vq::linux_platform::hwmon {
namespace {

// What a chip is, as far as naming and grouping go. Chips are told apart by
// the `name` their driver gives (Documentation/hwmon/sysfs-interface.rst),
// including the names the thermal framework gives the zones it bridges into
// hwmon (the zone type with '-' turned into '_').
enum class Family { processor, graphics, battery, nvme, drive, acpi, chipset, wifi, thinkpad, board, applesmc, other };

bool startsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }
bool endsWith(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}
bool contains(std::string_view s, std::string_view part) { return s.find(part) != std::string_view::npos; }

Family familyOf(std::string_view n) {
    if (n == "coretemp" || n == "k10temp" || n == "k8temp" || n == "zenpower" || n == "via_cputemp" ||
        n == "x86_pkg_temp" || n == "soc_thermal" ||
        // ARM boards name their zones cpu_thermal, cpu0_thermal, bigcore0_thermal, …
        (endsWith(n, "_thermal") && (contains(n, "cpu") || contains(n, "core"))))
        return Family::processor;
    if (n == "amdgpu" || n == "radeon" || n == "nouveau" || n == "i915" || n == "xe" ||
        (endsWith(n, "_thermal") && contains(n, "gpu")))
        return Family::graphics;
    // A power supply registers its hwmon under the supply's name (BAT0, BAT1).
    if (startsWith(n, "BAT") || contains(n, "battery")) return Family::battery;
    if (n == "nvme") return Family::nvme;
    if (n == "drivetemp") return Family::drive;
    if (n == "acpitz") return Family::acpi;
    if (startsWith(n, "pch_")) return Family::chipset;
    if (startsWith(n, "iwlwifi") || (startsWith(n, "ath") && endsWith(n, "_hwmon"))) return Family::wifi;
    if (n == "thinkpad") return Family::thinkpad;
    // Super I/O chips of desktop boards; their fan headers are unlabelled.
    for (std::string_view board : {"nct", "it87", "it86", "w83", "f71", "f81", "asb100"})
        if (startsWith(n, board)) return Family::board;
    if (n == "applesmc") return Family::applesmc;
    return Family::other;
}

// The part of a name that says which device it is, qualified when several
// chips share a name and model.
std::string prefixOf(Family family, const ChipFacts& chip) {
    std::string display;
    switch (family) {
        case Family::processor: display = "CPU"; break;
        case Family::graphics: display = "GPU"; break;
        case Family::battery: display = "Battery"; break;
        case Family::nvme: display = chip.model.empty() ? "NVMe" : chip.model; break;
        case Family::drive: display = chip.model.empty() ? "Drive" : chip.model; break;
        case Family::acpi: display = "ACPI Zone"; break;
        case Family::chipset: display = "Chipset"; break;
        case Family::wifi: display = "Wi-Fi"; break;
        case Family::thinkpad: display = "ThinkPad"; break;
        default: display = chip.name; break;
    }
    if (chip.ordinal > 0) display += " #" + std::to_string(chip.ordinal);
    return display;
}

std::string ordinalSuffix(const ChipFacts& chip) {
    return chip.ordinal > 0 ? " #" + std::to_string(chip.ordinal) : std::string();
}

// "Core 3" stays; "Package id 0" (and "Physical id 0" of kernels before 3.7)
// is the package, whose number the chip's ordinal already carries; "Tccd1"
// is the first core complex die.
std::string processorLabel(std::string_view label) {
    if (startsWith(label, "Package id") || startsWith(label, "Physical id")) return "Package";
    if (startsWith(label, "Tccd") && label.size() > 4) return "CCD " + std::string(label.substr(4));
    return std::string(label);
}

// amdgpu's "edge", "junction", "mem".
std::string graphicsLabel(std::string_view label) {
    if (label == "mem") return "Memory";
    std::string text(label);
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
    return text;
}

}  // namespace

std::string_view trimmed(std::string_view text) {
    const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\0'; };
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

std::optional<InputAttribute> parseInputAttribute(std::string_view fileName) {
    SensorKind kind;
    if (startsWith(fileName, "temp")) {
        kind = SensorKind::temperature;
        fileName.remove_prefix(4);
    } else if (startsWith(fileName, "fan")) {
        kind = SensorKind::fan;
        fileName.remove_prefix(3);
    } else {
        return std::nullopt;
    }
    if (!endsWith(fileName, "_input")) return std::nullopt;
    fileName.remove_suffix(6);
    const auto index = parseInteger<int>(fileName);
    if (!index || *index < 0) return std::nullopt;
    return InputAttribute{kind, *index};
}

std::optional<int> parseCelsius(std::string_view text) {
    const auto millidegrees = parseInteger<long long>(trimmed(text));
    if (!millidegrees || *millidegrees < -40000 || *millidegrees >= 150000) return std::nullopt;
    return static_cast<int>(*millidegrees / 1000);
}

std::optional<int> parseRpm(std::string_view text) {
    const auto rpm = parseInteger<long long>(trimmed(text));
    if (!rpm || *rpm < 0 || *rpm > 20000) return std::nullopt;
    return static_cast<int>(*rpm);
}

int chipGroup(std::string_view chipName) {
    switch (familyOf(chipName)) {
        case Family::processor: return 1;
        case Family::graphics:
        case Family::battery: return 2;
        case Family::nvme:
        case Family::drive: return 3;
        default: return 4;
    }
}

SensorName temperatureName(const ChipFacts& chip, int index, std::optional<std::string_view> label) {
    const Family family = familyOf(chip.name);
    const std::string number = std::to_string(index);
    if (label) label = trimmed(*label);
    if (label && label->empty()) label.reset();
    if (family == Family::applesmc && label) return {std::string(*label), std::string(*label)};

    const std::string prefix = prefixOf(family, chip);
    if (label) {
        switch (family) {
            case Family::processor: return {prefix + " " + processorLabel(*label), {}};
            case Family::graphics: return {prefix + " " + graphicsLabel(*label), {}};
            case Family::nvme: return {*label == "Composite" ? prefix : prefix + " " + std::string(*label), {}};
            case Family::board:
            case Family::other: return {std::string(*label) + ordinalSuffix(chip), {}};
            default: return {prefix + " " + std::string(*label), {}};
        }
    }
    switch (family) {
        // Chips that usually have one sensor: the first goes by the device's name alone.
        case Family::processor:
        case Family::graphics:
        case Family::battery:
        case Family::nvme:
        case Family::drive:
        case Family::chipset:
        case Family::wifi: return {index == 1 ? prefix : prefix + " " + number, {}};
        default: return {prefix + " " + number, {}};
    }
}

std::string fanName(const ChipFacts& chip, int index, std::optional<std::string_view> label) {
    const Family family = familyOf(chip.name);
    const std::string number = std::to_string(index);
    if (label) label = trimmed(*label);
    if (label && !label->empty()) return std::string(*label) + ordinalSuffix(chip);
    switch (family) {
        case Family::graphics: return prefixOf(family, chip) + " Fan" + (index == 1 ? "" : " " + number);
        case Family::thinkpad: return "Fan " + number + ordinalSuffix(chip);
        case Family::board: return "System Fan " + number + ordinalSuffix(chip);
        default: return prefixOf(family, chip) + " Fan " + number;
    }
}

void makeNamesUnique(std::vector<std::string*> namesInOrder) {
    std::set<std::string> used;
    for (std::string* name : namesInOrder) {
        std::string candidate = *name;
        for (int n = 2; used.count(candidate); ++n) candidate = *name + " " + std::to_string(n);
        *name = candidate;
        used.insert(candidate);
    }
}

}  // namespace vq::linux_platform::hwmon
