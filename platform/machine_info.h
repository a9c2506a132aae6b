#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace vq {

constexpr std::uint32_t fourCharCode(const char (&code)[5]) {
    return (std::uint32_t(std::uint8_t(code[0])) << 24) | (std::uint32_t(std::uint8_t(code[1])) << 16) |
           (std::uint32_t(std::uint8_t(code[2])) << 8) | std::uint32_t(std::uint8_t(code[3]));
}

constexpr std::uint32_t kGestaltProcessorType = fourCharCode("cput");
constexpr std::uint32_t kGestaltSysArchitecture = fourCharCode("sysa");
constexpr std::uint32_t kGestaltCPUPentium = fourCharCode("i586");
constexpr std::uint32_t kGestaltCPUG4 = 0x010C;
constexpr std::int32_t kGestaltIntel = 10;
constexpr std::int32_t kGestaltPowerPC = 2;

// What kind of machine this is: processor kind, architecture, model name.
class MachineInfo {
public:
    virtual ~MachineInfo() = default;
    // Answers a processor-kind selector ('cput', 'sysa'); nullopt is an error.
    virtual std::optional<std::int32_t> gestalt(std::uint32_t selector) = 0;
    // The machine's model name; nullopt when the machine does not say.
    virtual std::optional<std::string> modelName() = 0;
};

}  // namespace vq
