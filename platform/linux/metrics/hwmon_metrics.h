#pragma once
// hwmon chips as Prometheus' node_exporter names them, so that dashboards
// built on its node_hwmon_* series work on our figures unchanged.
//
// A chip's label is made from the folder its `device` link resolves to: the
// bus folder above it and the device's own name ("platform_coretemp_0",
// "pci0000:00_0000:00:18_3"), each lowercased with every character other
// than [a-z0-9:_] replaced by "_" and "_" trimmed from both ends; without a
// device link, the `name` file cleaned the same way; else the hwmonN folder.
// The chip's own `name` (cleaned the same way) is kept apart, for the info
// series only.

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vq::linux_platform::metrics {

// Lowercased, [^a-z0-9:_] turned into "_", "_" trimmed from both ends.
std::string cleanHwmonName(std::string_view name);

// The chip label from the resolved device path and the `name` file's text;
// empty when neither gives one.
std::string hwmonChipLabel(std::optional<std::string_view> resolvedDevicePath,
                           std::optional<std::string_view> nameFile);

// "temp1_input" → {"temp", "1", "input"}; "fan2_label" → {"fan", "2", "label"};
// "beep_enable" → {"beep_enable", "0", ""}. nullopt for files that are not of
// the sensor form or not of a sensor type node_exporter reads (temp, fan, in,
// curr, power, …).
struct SensorFile {
    std::string type;
    std::string number;  // without leading zeros; "0" when the file has none
    std::string property;  // after the first "_"; "" when none
};
std::optional<SensorFile> parseSensorFileName(std::string_view fileName);

struct HwmonChip {
    std::string label;                   // the `chip` label of every series
    std::optional<std::string> humanName;  // `name`, cleaned as the label is
    // sensor ("temp1") → property ("input", "label", "max") → text without line ends
    std::map<std::string, std::map<std::string, std::string>> sensors;
};

// Every chip under <sys>/class/hwmon, reading the attributes of the hwmon
// folder and of its `device` folder. nullopt when class/hwmon cannot be
// listed.
std::optional<std::vector<HwmonChip>> readHwmonChips(const std::string& sysRoot);

}  // namespace vq::linux_platform::metrics
