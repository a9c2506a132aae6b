#include "platform/linux/drives/udev_database.h"

#include "platform/linux/common/file_reading.h"
#include "platform/linux/common/text_fields.h"

namespace vq::linux_platform {

namespace {

std::optional<int> hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return std::nullopt;
}

}  // namespace

UdevProperties parseUdevDatabase(std::string_view text) {
    UdevProperties properties;
    for (std::string_view line : splitLines(text)) {
        if (line.substr(0, 2) != "E:") continue;
        line.remove_prefix(2);
        const auto equals = line.find('=');
        if (equals == std::string_view::npos || equals == 0) continue;
        properties.insert_or_assign(std::string(line.substr(0, equals)), std::string(line.substr(equals + 1)));
    }
    return properties;
}

std::optional<UdevProperties> readUdevBlockProperties(const std::string& udevRoot, std::uint32_t major,
                                                      std::uint32_t minor) {
    const auto text = readWholeFile(udevRoot + "/data/b" + std::to_string(major) + ":" + std::to_string(minor));
    if (!text) return std::nullopt;
    return parseUdevDatabase(*text);
}

std::string decodeUdevHexEscapes(std::string_view value) {
    std::string decoded;
    decoded.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 3 < value.size() && value[i + 1] == 'x') {
            const auto high = hexDigit(value[i + 2]);
            const auto low = hexDigit(value[i + 3]);
            if (high && low) {
                decoded.push_back(static_cast<char>(*high * 16 + *low));
                i += 3;
                continue;
            }
        }
        decoded.push_back(value[i]);
    }
    return decoded;
}

std::optional<std::string> fileSystemLabel(const UdevProperties& properties) {
    std::string label;
    if (auto encoded = properties.find("ID_FS_LABEL_ENC"); encoded != properties.end())
        label = decodeUdevHexEscapes(encoded->second);
    else if (auto plain = properties.find("ID_FS_LABEL"); plain != properties.end())
        label = plain->second;
    if (label.empty()) return std::nullopt;
    return label;
}

}  // namespace vq::linux_platform
