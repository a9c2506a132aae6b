#include "platform/linux/processor/linux_machine_info.h"

#include "platform/linux/common/file_reading.h"

namespace vq::linux_platform {

std::optional<std::string> parseProductName(std::string_view text) {
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
    if (text.empty()) return std::nullopt;
    return std::string(text);
}

std::optional<std::int32_t> LinuxMachineInfo::gestalt(std::uint32_t selector) {
#if defined(__x86_64__) || defined(__i386__)
    if (selector == kGestaltProcessorType) return static_cast<std::int32_t>(kGestaltCPUPentium);
    if (selector == kGestaltSysArchitecture) return kGestaltIntel;
#else
    (void)selector;
#endif
    return std::nullopt;
}

std::optional<std::string> LinuxMachineInfo::modelName() {
    auto text = readWholeFile(sysRoot_ + "/class/dmi/id/product_name");
    if (!text) return std::nullopt;
    return parseProductName(*text);
}

}  // namespace vq::linux_platform
