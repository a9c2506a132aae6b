#include "platform/linux/vmstat.h"

#include "platform/linux/text_fields.h"

namespace vq::linux_platform {

VmstatPaging parseVmstat(std::string_view text) {
    VmstatPaging paging;
    for (std::string_view line : splitLines(text)) {
        const auto fields = splitFields(line);
        if (fields.size() != 2) continue;
        if (fields[0] == "pgpgin")
            paging.pgpginKiB = parseInteger<std::uint64_t>(fields[1]);
        else if (fields[0] == "pgpgout")
            paging.pgpgoutKiB = parseInteger<std::uint64_t>(fields[1]);
    }
    return paging;
}

std::uint32_t pageCounterFromKiB(std::uint64_t kib) { return static_cast<std::uint32_t>(kib / 4); }

}  // namespace vq::linux_platform
