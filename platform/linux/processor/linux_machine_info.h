#pragma once
#include <string>
#include <string_view>

#include "platform/machine_info.h"

namespace vq::linux_platform {

// The DMI product name, trimmed; nullopt when empty.
std::optional<std::string> parseProductName(std::string_view text);

class LinuxMachineInfo : public MachineInfo {
public:
    explicit LinuxMachineInfo(std::string sysRoot) : sysRoot_(std::move(sysRoot)) {}
    // x86 machines answer the Intel codes; other architectures have none.
    std::optional<std::int32_t> gestalt(std::uint32_t selector) override;
    std::optional<std::string> modelName() override;

private:
    std::string sysRoot_;
};

}  // namespace vq::linux_platform
