#include "platform/linux/network/net_dev.h"

#include <algorithm>
#include <charconv>

#include "platform/linux/common/file_reading.h"
#include "platform/linux/common/text_fields.h"

namespace vq::linux_platform {
namespace {

// Columns after the colon: eight receive counters, then eight transmit counters.
constexpr std::size_t kReceivedBytesColumn = 0;
constexpr std::size_t kSentBytesColumn = 8;

}  // namespace

std::vector<NetDevLine> parseProcNetDev(std::string_view text) {
    std::vector<NetDevLine> lines;
    for (std::string_view line : splitLines(text)) {
        // The two header lines have a '|' where interface lines have the colon.
        const auto colon = line.rfind(':');
        if (colon == std::string_view::npos || line.find('|') != std::string_view::npos) continue;
        const std::string_view name = trimBlanks(line.substr(0, colon));
        const auto fields = splitFields(line.substr(colon + 1));
        if (name.empty() || fields.size() <= kSentBytesColumn) continue;
        const auto received = parseInteger<std::uint64_t>(fields[kReceivedBytesColumn]);
        const auto sent = parseInteger<std::uint64_t>(fields[kSentBytesColumn]);
        if (!received || !sent) continue;
        lines.push_back({std::string(name), *received, *sent});
    }
    return lines;
}

std::optional<std::uint32_t> parseSysfsHex(std::string_view text) {
    text = trimBlanks(text);
    if (text.size() < 3 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return std::nullopt;
    text.remove_prefix(2);
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<std::int32_t> parseSysfsDecimal(std::string_view text) {
    return parseInteger<std::int32_t>(trimBlanks(text));
}

bool isPlainInterfaceName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

std::optional<std::vector<InterfaceRecord>> readProcNetDevInterfaces(const std::string& procRoot,
                                                                    const std::string& sysRoot) {
    const auto text = readWholeFile(procRoot + "/net/dev");
    if (!text) return std::nullopt;
    struct Indexed {
        std::optional<std::int32_t> index;
        InterfaceRecord record;
    };
    std::vector<Indexed> interfaces;
    for (NetDevLine& line : parseProcNetDev(*text)) {
        if (!isPlainInterfaceName(line.name)) continue;
        const std::string directory = sysRoot + "/class/net/" + line.name;
        const auto flagsText = readWholeFile(directory + "/flags");
        const auto flags = flagsText ? parseSysfsHex(*flagsText) : std::nullopt;
        if (!flags) continue;
        const auto indexText = readWholeFile(directory + "/ifindex");
        interfaces.push_back({indexText ? parseSysfsDecimal(*indexText) : std::nullopt,
                              {std::move(line.name), *flags & (kInterfaceUp | kInterfaceLoopback), line.receivedBytes,
                               line.sentBytes}});
    }
    // The file follows the kernel's name hash buckets, which are only roughly in index order.
    std::stable_sort(interfaces.begin(), interfaces.end(), [](const Indexed& a, const Indexed& b) {
        if (a.index && b.index) return *a.index < *b.index;
        return a.index.has_value() && !b.index.has_value();
    });
    std::vector<InterfaceRecord> records;
    records.reserve(interfaces.size());
    for (Indexed& entry : interfaces) records.push_back(std::move(entry.record));
    return records;
}

}  // namespace vq::linux_platform
