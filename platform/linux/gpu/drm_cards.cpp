#include "platform/linux/gpu/drm_cards.h"

#include <unistd.h>

#include <algorithm>

#include "platform/linux/common/file_reading.h"
#include "platform/linux/common/text_fields.h"

namespace vq::linux_platform {
namespace {

// The last component of what a symbolic link points at; empty when it is
// no link.
std::string linkName(const std::string& path) {
    char target[4096];
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof target) return {};
    const std::string_view text(target, static_cast<std::size_t>(n));
    const auto slash = text.find_last_of('/');
    return std::string(slash == std::string_view::npos ? text : text.substr(slash + 1));
}

}  // namespace

GpuVendor parseGpuVendor(std::string_view vendorFile) {
    std::string id(trimBlanks(vendorFile));
    std::transform(id.begin(), id.end(), id.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    if (id == "0x1002") return GpuVendor::Amd;
    if (id == "0x8086") return GpuVendor::Intel;
    if (id == "0x10de") return GpuVendor::Nvidia;
    return GpuVendor::Other;
}

bool isDrmCardName(std::string_view name) {
    if (!name.starts_with("card") || name.size() == 4) return false;
    return std::all_of(name.begin() + 4, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool isRuntimeSuspended(std::string_view runtimeStatus) {
    const std::string_view status = trimBlanks(runtimeStatus);
    return status == "suspended" || status == "suspending";
}

std::vector<DrmCard> listDrmCards(const std::string& sysRoot) {
    std::vector<DrmCard> cards;
    const std::string classFolder = sysRoot + "/class/drm";
    const auto names = listDirectory(classFolder);
    if (!names) return cards;
    for (const std::string& name : *names) {
        if (!isDrmCardName(name)) continue;
        DrmCard card;
        card.cardPath = classFolder + "/" + name;
        card.devicePath = card.cardPath + "/device";
        card.pciAddress = linkName(card.devicePath);
        const auto vendor = readWholeFile(card.devicePath + "/vendor");
        card.vendor = vendor ? parseGpuVendor(*vendor) : GpuVendor::Other;
        // A firmware frame buffer (simpledrm) and virtual adapters have no
        // figures to show.
        if (card.vendor == GpuVendor::Other || card.pciAddress.empty()) continue;
        card.driver = linkName(card.devicePath + "/driver");
        // Several card nodes of one device (rare) show as one GPU.
        if (std::any_of(cards.begin(), cards.end(), [&](const DrmCard& c) { return c.pciAddress == card.pciAddress; }))
            continue;
        cards.push_back(std::move(card));
    }
    std::sort(cards.begin(), cards.end(), [](const DrmCard& a, const DrmCard& b) { return a.pciAddress < b.pciAddress; });
    return cards;
}

}  // namespace vq::linux_platform
