#pragma once
// The interface list from files, for kernels and sandboxes that refuse the
// rtnetlink dump: names and byte counters from <proc>/net/dev, flags and
// interface indexes from <sys>/class/net/<name>/.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/interface_counters.h"

namespace vq::linux_platform {

struct NetDevLine {
    std::string name;
    std::uint64_t receivedBytes = 0;
    std::uint64_t sentBytes = 0;

    bool operator==(const NetDevLine&) const = default;
};

// The interface lines of /proc/net/dev, in file order. The name ends at the
// line's last colon, since the counters after it never hold one; that also
// reads lines whose first counter is glued to the colon. Lines without both
// byte counters are left out.
std::vector<NetDevLine> parseProcNetDev(std::string_view text);

// A sysfs number: "0x1003\n" for flags, "2\n" for ifindex.
std::optional<std::uint32_t> parseSysfsHex(std::string_view text);
std::optional<std::int32_t> parseSysfsDecimal(std::string_view text);

// <proc>/net/dev with flags (IFF_UP and IFF_LOOPBACK only) and ordered by
// the sysfs ifindex; interfaces whose flags cannot be read are left out, and
// those without an index come last in file order. nullopt when
// <proc>/net/dev cannot be read.
std::optional<std::vector<InterfaceRecord>> readProcNetDevInterfaces(const std::string& procRoot,
                                                                    const std::string& sysRoot);

// A kernel interface name that is safe to put into a sysfs path.
bool isPlainInterfaceName(std::string_view name);

}  // namespace vq::linux_platform
