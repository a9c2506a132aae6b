#pragma once
// The pure side of the hwmon reader: attribute file names, values, and the
// names and priority groups a person sees. Nothing here touches a file.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vq::linux_platform::hwmon {

enum class SensorKind { temperature, fan };

// "temp3_input" → {temperature, 3}; nullopt for any other attribute.
struct InputAttribute {
    SensorKind kind;
    int index;
};
std::optional<InputAttribute> parseInputAttribute(std::string_view fileName);

// tempN_input in millidegrees → whole °C truncated toward zero; nullopt when
// the text is not a number or the value is below −40 °C or at 150 °C or above.
std::optional<int> parseCelsius(std::string_view text);
// fanN_input in rpm; nullopt when not a number, negative or above 20000.
std::optional<int> parseRpm(std::string_view text);

// What identifies a chip across boots: its `name`, the model of its device
// where it has one (NVMe controller, SCSI disk), and its place among chips
// with the same name and model (0 when it is the only one, else 1, 2, … in
// the order of their device paths).
struct ChipFacts {
    std::string name;
    std::string model;
    int ordinal = 0;
};

// 1 processors, 2 graphics and batteries, 3 drives, 4 everything else.
int chipGroup(std::string_view chipName);

struct SensorName {
    std::string name;
    std::optional<std::string> smcKey;  // set on an applesmc chip, whose labels are SMC keys
};
SensorName temperatureName(const ChipFacts& chip, int index, std::optional<std::string_view> label);
std::string fanName(const ChipFacts& chip, int index, std::optional<std::string_view> label);

// Gives later duplicates " 2", " 3", … so that no two names are equal.
void makeNamesUnique(std::vector<std::string*> namesInOrder);

// Without surrounding blanks and line ends: applesmc pads its fan labels.
std::string_view trimmed(std::string_view text);

}  // namespace vq::linux_platform::hwmon
