#pragma once
// The udev database: <udev>/data/b<major>:<minor> holds the properties that
// the rules gave a block device, as "E:KEY=VALUE" lines among other records
// (S: links, I: init time, G: tags).

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace vq::linux_platform {

using UdevProperties = std::map<std::string, std::string, std::less<>>;

UdevProperties parseUdevDatabase(std::string_view text);

// The properties of block device major:minor; nullopt when the database has
// no record of it (or there is no database, as in containers).
std::optional<UdevProperties> readUdevBlockProperties(const std::string& udevRoot, std::uint32_t major,
                                                      std::uint32_t minor);

// udev writes bytes that are unsafe in a property (spaces, non-ASCII) of the
// "_ENC" variants as "\xHH". Other backslashes are kept.
std::string decodeUdevHexEscapes(std::string_view value);

// The label of a file system as its owner wrote it: ID_FS_LABEL_ENC decoded,
// since ID_FS_LABEL has spaces replaced by '_'; nullopt when it has none.
std::optional<std::string> fileSystemLabel(const UdevProperties& properties);

}  // namespace vq::linux_platform
