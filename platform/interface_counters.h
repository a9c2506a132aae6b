#pragma once
// The kernel's network interfaces with their flags and 64-bit byte counters.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vq {

constexpr std::uint32_t kInterfaceUp = 0x1;        // IFF_UP
constexpr std::uint32_t kInterfaceLoopback = 0x8;  // IFF_LOOPBACK

struct InterfaceRecord {
    std::string name;
    std::uint32_t flags = 0;
    std::uint64_t receivedBytes = 0;
    std::uint64_t sentBytes = 0;
};

class InterfaceCounters {
public:
    virtual ~InterfaceCounters() = default;
    // Every interface in a stable kernel order (interface index); nullopt
    // when the kernel cannot be asked.
    virtual std::optional<std::vector<InterfaceRecord>> interfaceList() = 0;
};

}  // namespace vq
