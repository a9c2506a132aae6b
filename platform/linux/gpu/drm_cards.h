#pragma once
// The graphics cards of <sys>/class/drm: one per PCI device, found from the
// cardN entries (connectors such as card0-DP-1 and render nodes are left
// out). The vendor comes from the device's `vendor` id, the driver from the
// name its `driver` link points at, the PCI address from its `device` link.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vq::linux_platform {

enum class GpuVendor { Other, Amd, Intel, Nvidia };

// "0x1002" AMD, "0x8086" Intel, "0x10de" NVIDIA (case and blanks aside).
GpuVendor parseGpuVendor(std::string_view vendorFile);
// "card0", "card12"; not "card0-DP-1", "renderD128" or "card".
bool isDrmCardName(std::string_view name);
// The text of power/runtime_status says the device is in runtime suspend
// (or on its way there), when reading anything from it would wake it.
bool isRuntimeSuspended(std::string_view runtimeStatus);

struct DrmCard {
    std::string cardPath;    // <sys>/class/drm/card0
    std::string devicePath;  // <sys>/class/drm/card0/device
    std::string pciAddress;  // "0000:03:00.0"
    GpuVendor vendor = GpuVendor::Other;
    std::string driver;      // "amdgpu", "i915", "xe", "nvidia"; empty when unbound
};

// The AMD, Intel and NVIDIA cards, by PCI address. Empty when class/drm is
// missing (no GPU, no DRM, a container).
std::vector<DrmCard> listDrmCards(const std::string& sysRoot);

}  // namespace vq::linux_platform
