#pragma once
// <proc>/self/mountinfo: one line per mount of this mount namespace,
//   ID PARENT MAJ:MIN ROOT MOUNTPOINT OPTIONS [OPTIONAL...] - FSTYPE SOURCE SUPEROPTIONS

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vq::linux_platform {

struct MountinfoEntry {
    std::uint32_t major = 0;  // the st_dev of the mount: 0 for pseudo file systems and btrfs
    std::uint32_t minor = 0;
    std::string root;  // the directory of the file system that is mounted ("/" for all of it)
    std::string mountPoint;
    std::string fsType;
    std::string source;
    std::string superOptions;

    bool operator==(const MountinfoEntry&) const = default;
};

// The kernel writes space, tab, newline and backslash (and '#' in the source
// and type) as three-digit octal escapes: "\040". Anything else is kept.
std::string decodeMountinfoEscapes(std::string_view field);

// Entries in the order of the file, which is mount order. Lines without the
// lone "-" separator or with a bad device number are left out.
std::vector<MountinfoEntry> parseMountinfo(std::string_view text);

// File systems that have no block device of their own (memory, kernel
// interfaces, unions) or that live on another machine.
bool isPseudoOrNetworkFileSystem(std::string_view fsType);
bool isNetworkFileSystem(std::string_view fsType);

// Whether the mount shows a file system's top: its root is "/", or it is the
// btrfs subvolume that its options name. Bind mounts of a subdirectory or a
// single file show neither.
bool mountsFileSystemTop(const MountinfoEntry& entry);

// The value of a super option ("subvol=/@home" -> "/@home"), "" for a flag
// ("memory"); nullopt when the mount does not have it.
std::optional<std::string_view> superOption(const MountinfoEntry& entry, std::string_view name);

}  // namespace vq::linux_platform
