#pragma once
// /proc/vmstat: the kernel's event counters since boot.

#include <cstdint>
#include <optional>
#include <string_view>

namespace vq::linux_platform {

// pgpgin and pgpgout count KiB read from and written to block devices
// (the kernel turns sectors into KiB before showing them).
struct VmstatPaging {
    std::optional<std::uint64_t> pgpginKiB;
    std::optional<std::uint64_t> pgpgoutKiB;
};

// Reads "name value" lines; other counters are passed over.
VmstatPaging parseVmstat(std::string_view text);

// KiB to 4096-byte pages, keeping the low 32 bits: these are counters since
// boot, and a 32-bit counter wraps rather than sticking at its maximum.
std::uint32_t pageCounterFromKiB(std::uint64_t kib);

}  // namespace vq::linux_platform
