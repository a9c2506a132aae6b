#include "platform/linux/memory/vmstat.h"

#include <algorithm>

#include "platform/linux/common/text_fields.h"

namespace vq::linux_platform {

VmstatPaging parseVmstat(std::string_view text) {
    // One pass, looking only at the two lines that start with "pgpg": vmstat
    // has well over a hundred counters.
    VmstatPaging paging;
    while (!text.empty()) {
        const std::string_view line = takeLine(text);
        if (line.substr(0, 4) != "pgpg") continue;
        const auto keyEnd = line.find_first_of(" \t");
        if (keyEnd == std::string_view::npos) continue;
        const std::string_view key = line.substr(0, keyEnd);
        std::string_view value = line.substr(keyEnd);
        value.remove_prefix(std::min(value.size(), value.find_first_not_of(" \t")));
        value = value.substr(0, value.find_last_not_of(" \t") + 1);
        if (value.find_first_of(" \t") != std::string_view::npos) continue;  // more than two fields
        if (key == "pgpgin")
            paging.pgpginKiB = parseInteger<std::uint64_t>(value);
        else if (key == "pgpgout")
            paging.pgpgoutKiB = parseInteger<std::uint64_t>(value);
    }
    return paging;
}

std::uint32_t pageCounterFromKiB(std::uint64_t kib) { return static_cast<std::uint32_t>(kib / 4); }

}  // namespace vq::linux_platform
