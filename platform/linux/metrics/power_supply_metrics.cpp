#include "platform/linux/metrics/power_supply_metrics.h"

#include <sys/stat.h>

#include <algorithm>

#include "platform/linux/common/file_reading.h"
#include "platform/linux/common/text_fields.h"

namespace vq::linux_platform::metrics {
std::optional<std::vector<PowerSupply>> readPowerSupplyClass(const std::string& sysRoot) {
    const std::string classFolder = sysRoot + "/class/power_supply";
    auto names = listDirectory(classFolder);
    if (!names) return std::nullopt;
    std::sort(names->begin(), names->end());
    std::vector<PowerSupply> supplies;
    for (const auto& name : *names) {
        const std::string folder = classFolder + "/" + name;
        const auto files = listDirectory(folder);
        if (!files) continue;
        PowerSupply supply{name, {}};
        for (const auto& file : *files) {
            // Links (device, subsystem) and folders (power, wakeup) are not attributes.
            struct stat info{};
            if (::lstat((folder + "/" + file).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
            if (auto text = readWholeFile(folder + "/" + file)) supply.attributes[file] = std::string(trimBlanks(*text));
        }
        supplies.push_back(std::move(supply));
    }
    return supplies;
}

}  // namespace vq::linux_platform::metrics
