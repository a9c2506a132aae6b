#include "platform/linux/metrics/hwmon_metrics.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <filesystem>

#include "platform/linux/common/file_reading.h"

namespace vq::linux_platform::metrics {
namespace {

constexpr std::array<std::string_view, 13> kSensorTypes = {
    "vrm", "beep_enable", "update_interval", "in", "cpu", "fan", "pwm",
    "temp", "curr", "power", "energy", "humidity", "intrusion"};

std::string withoutLineEnds(const std::string& text) {
    const auto first = text.find_first_not_of('\n');
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of('\n') - first + 1);
}


void collectSensorFiles(const std::string& folder, HwmonChip& chip) {
    const auto names = listDirectory(folder);
    if (!names) return;
    for (const auto& name : *names) {
        const auto file = parseSensorFileName(name);
        if (!file) continue;
        struct stat info{};
        if (::stat((folder + "/" + name).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
        // Write-only files and attributes the driver refuses to read are passed over.
        auto text = readWholeFile(folder + "/" + name);
        if (!text) continue;
        chip.sensors[file->type + file->number][file->property] = withoutLineEnds(*text);
    }
}

}  // namespace

std::string cleanHwmonName(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (char c : name) {
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        const bool kept = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ':' || c == '_';
        out += kept ? c : '_';
    }
    const auto first = out.find_first_not_of('_');
    if (first == std::string::npos) return {};
    return out.substr(first, out.find_last_not_of('_') - first + 1);
}

std::string hwmonChipLabel(std::optional<std::string_view> resolvedDevicePath,
                           std::optional<std::string_view> nameFile) {
    if (resolvedDevicePath) {
        std::string_view path = *resolvedDevicePath;
        while (path.size() > 1 && path.ends_with('/')) path.remove_suffix(1);
        const auto slash = path.rfind('/');
        const std::string device = cleanHwmonName(slash == std::string_view::npos ? path : path.substr(slash + 1));
        std::string_view parent = slash == std::string_view::npos ? std::string_view{} : path.substr(0, slash);
        const auto parentSlash = parent.rfind('/');
        const std::string bus =
            cleanHwmonName(parentSlash == std::string_view::npos ? parent : parent.substr(parentSlash + 1));
        if (!bus.empty() && !device.empty()) return bus + "_" + device;
        if (!device.empty()) return device;
    }
    if (nameFile) return cleanHwmonName(*nameFile);
    return {};
}

std::optional<SensorFile> parseSensorFileName(std::string_view fileName) {
    // TYPE[NUMBER][_PROPERTY], TYPE without digits. Without digits the whole
    // name is the type ("beep_enable"), which counts as number 0.
    const auto digits = fileName.find_first_of("0123456789");
    SensorFile file;
    std::string_view rest;
    if (digits == std::string_view::npos) {
        file.type = fileName;
    } else {
        file.type = fileName.substr(0, digits);
        const auto end = fileName.find_first_not_of("0123456789", digits);
        const auto number = fileName.substr(digits, end - digits);
        rest = end == std::string_view::npos ? std::string_view{} : fileName.substr(end);
        // Leading zeros go, as in a number read and written back.
        const auto significant = number.find_first_not_of('0');
        file.number = significant == std::string_view::npos ? "0" : std::string(number.substr(significant));
    }
    if (file.number.empty()) file.number = "0";
    if (!rest.empty()) {
        if (rest.front() != '_' || rest.size() == 1) return std::nullopt;
        file.property = rest.substr(1);
    }
    if (std::find(kSensorTypes.begin(), kSensorTypes.end(), file.type) == kSensorTypes.end()) return std::nullopt;
    return file;
}

std::optional<std::vector<HwmonChip>> readHwmonChips(const std::string& sysRoot) {
    const std::string classFolder = sysRoot + "/class/hwmon";
    auto entries = listDirectory(classFolder);
    if (!entries) return std::nullopt;
    std::sort(entries->begin(), entries->end());
    std::vector<HwmonChip> chips;
    for (const auto& entry : *entries) {
        const std::string folder = classFolder + "/" + entry;
        struct stat info{};
        if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) continue;

        std::error_code error;
        const auto device = std::filesystem::canonical(folder + "/device", error);
        const auto nameText = readWholeFile(folder + "/name");
        std::optional<std::string_view> name;
        if (nameText) name = *nameText;
        HwmonChip chip;
        chip.label = hwmonChipLabel(error ? std::nullopt : std::optional<std::string_view>(device.native()), name);
        if (chip.label.empty()) chip.label = cleanHwmonName(std::filesystem::canonical(folder, error).filename().native());
        if (chip.label.empty()) continue;
        if (name && !cleanHwmonName(*name).empty()) chip.humanName = cleanHwmonName(*name);

        collectSensorFiles(folder, chip);
        if (::stat((folder + "/device").c_str(), &info) == 0 && S_ISDIR(info.st_mode))
            collectSensorFiles(folder + "/device", chip);
        chips.push_back(std::move(chip));
    }
    return chips;
}

}  // namespace vq::linux_platform::metrics
