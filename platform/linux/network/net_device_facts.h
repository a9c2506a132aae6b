#pragma once
// What sysfs and procfs add to rtnetlink about a network device: whether it
// is a wireless device, and which Ethernet links carry PPPoE sessions.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vq::linux_platform {

struct InterfaceSysFacts {
    bool wireless = false;

    bool operator==(const InterfaceSysFacts&) const = default;
};

struct SysFacts {
    // By interface name; only interfaces whose sysfs directory was read.
    std::map<std::string, InterfaceSysFacts> interfaces;
    // The Ethernet device of each PPPoE session, one entry per session.
    std::vector<std::string> pppoeDevices;
};

// The device column of /proc/net/pppoe ("%08X %pM %8s" lines after a header).
std::vector<std::string> parsePppoeSessions(std::string_view text);

// Whether a sysfs uevent file has the line DEVTYPE=wlan.
bool ueventSaysWlan(std::string_view uevent);

// <sys>/class/net/<name>/: wireless when it has a "wireless" directory
// (cfg80211 and wireless extensions), a "phy80211" link, or DEVTYPE=wlan in
// its uevent. nullopt when the directory cannot be read or belongs to another
// device of that name: sysfs shows the network namespace it was mounted in,
// which need not be ours, so its ifindex must match `index`.
std::optional<InterfaceSysFacts> readInterfaceSysFacts(const std::string& sysRoot, const std::string& name,
                                                       std::int32_t index);

// <proc>/net/pppoe; empty when the file is absent (no pppoe module).
std::vector<std::string> readPppoeSessions(const std::string& procRoot);

}  // namespace vq::linux_platform
