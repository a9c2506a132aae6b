#include "platform/linux/network/net_device_facts.h"

#include <filesystem>

#include "platform/linux/common/file_reading.h"
#include "platform/linux/common/text_fields.h"
#include "platform/linux/network/net_dev.h"

namespace vq::linux_platform {
namespace {

bool isHex(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos;
}

bool exists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

}  // namespace

std::vector<std::string> parsePppoeSessions(std::string_view text) {
    std::vector<std::string> devices;
    for (std::string_view line : splitLines(text)) {
        const auto fields = splitFields(line);
        // The header line starts with "Id"; session lines with the 8-digit session id.
        if (fields.size() != 3 || fields[0].size() != 8 || !isHex(fields[0])) continue;
        devices.emplace_back(fields[2]);
    }
    return devices;
}

bool ueventSaysWlan(std::string_view uevent) {
    for (std::string_view line : splitLines(uevent))
        if (line == "DEVTYPE=wlan") return true;
    return false;
}

std::optional<InterfaceSysFacts> readInterfaceSysFacts(const std::string& sysRoot, const std::string& name,
                                                       std::int32_t index) {
    if (!isPlainInterfaceName(name)) return std::nullopt;
    const std::string directory = sysRoot + "/class/net/" + name;
    const auto indexText = readWholeFile(directory + "/ifindex");
    if (!indexText || parseSysfsDecimal(*indexText) != index) return std::nullopt;
    InterfaceSysFacts facts;
    facts.wireless = exists(directory + "/wireless") || exists(directory + "/phy80211");
    if (!facts.wireless)
        if (const auto uevent = readWholeFile(directory + "/uevent")) facts.wireless = ueventSaysWlan(*uevent);
    return facts;
}

std::vector<std::string> readPppoeSessions(const std::string& procRoot) {
    const auto text = readWholeFile(procRoot + "/net/pppoe");
    return text ? parsePppoeSessions(*text) : std::vector<std::string>{};
}

}  // namespace vq::linux_platform
