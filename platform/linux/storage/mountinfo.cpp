#include "platform/linux/storage/mountinfo.h"

#include <algorithm>
#include <array>

#include "platform/linux/common/text_fields.h"

namespace vq::linux_platform {

namespace {

bool isOctalDigit(char c) { return c >= '0' && c <= '7'; }

// Split on single spaces: mountinfo fields are separated by exactly one, and
// spaces inside a field are escaped. A mount without a source name leaves
// an empty field, which keeps its place.
std::vector<std::string_view> splitOnSpaces(std::string_view line) {
    std::vector<std::string_view> fields;
    if (line.empty()) return fields;
    for (;;) {
        const auto space = line.find(' ');
        fields.push_back(line.substr(0, space));
        if (space == std::string_view::npos) break;
        line.remove_prefix(space + 1);
    }
    return fields;
}

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

}  // namespace

std::string decodeMountinfoEscapes(std::string_view field) {
    std::string decoded;
    decoded.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && isOctalDigit(field[i + 1]) && isOctalDigit(field[i + 2]) &&
            isOctalDigit(field[i + 3])) {
            const int value = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
            if (value <= 0xFF) {
                decoded.push_back(static_cast<char>(value));
                i += 3;
                continue;
            }
        }
        decoded.push_back(field[i]);
    }
    return decoded;
}

std::vector<MountinfoEntry> parseMountinfo(std::string_view text) {
    std::vector<MountinfoEntry> entries;
    for (std::string_view line : splitLines(text)) {
        const auto fields = splitOnSpaces(line);
        // Six fixed fields, any number of optional ones ("shared:1",
        // "master:2"), the separator, then three more.
        const auto separator = std::find(fields.begin() + std::min<std::size_t>(fields.size(), 6), fields.end(), "-");
        if (fields.size() < 10 || separator == fields.end() || fields.end() - separator < 4) continue;
        const std::string_view device = fields[2];
        const auto colon = device.find(':');
        if (colon == std::string_view::npos) continue;
        const auto major = parseInteger<std::uint32_t>(device.substr(0, colon));
        const auto minor = parseInteger<std::uint32_t>(device.substr(colon + 1));
        if (!major || !minor) continue;

        MountinfoEntry entry;
        entry.major = *major;
        entry.minor = *minor;
        entry.root = decodeMountinfoEscapes(fields[3]);
        entry.mountPoint = decodeMountinfoEscapes(fields[4]);
        entry.fsType = decodeMountinfoEscapes(separator[1]);
        entry.source = decodeMountinfoEscapes(separator[2]);
        entry.superOptions = decodeMountinfoEscapes(separator[3]);
        entries.push_back(std::move(entry));
    }
    return entries;
}

bool isNetworkFileSystem(std::string_view fsType) {
    static constexpr std::array<std::string_view, 14> kNetwork = {"nfs",   "nfs4", "cifs", "smb3",      "smbfs",
                                                                  "9p",    "afs",  "ceph", "glusterfs", "lustre",
                                                                  "ncpfs", "coda", "gfs2", "ocfs2"};
    return std::find(kNetwork.begin(), kNetwork.end(), fsType) != kNetwork.end() || fsType == "fuse.sshfs" ||
           fsType == "fuse.rclone" || fsType == "fuse.glusterfs" || fsType == "fuse.s3fs";
}

bool isPseudoOrNetworkFileSystem(std::string_view fsType) {
    static constexpr std::array<std::string_view, 30> kPseudo = {
        "proc",       "sysfs",    "devtmpfs",   "devpts", "tmpfs",  "ramfs",     "rootfs",  "cgroup",
        "cgroup2",    "overlay",  "aufs",       "autofs", "mqueue", "hugetlbfs", "debugfs", "tracefs",
        "securityfs", "pstore",   "efivarfs",   "bpf",    "nsfs",   "configfs",  "fusectl", "binfmt_misc",
        "selinuxfs",  "virtiofs", "rpc_pipefs", "nfsd",   "sockfs", "pipefs"};
    if (std::find(kPseudo.begin(), kPseudo.end(), fsType) != kPseudo.end()) return true;
    // FUSE file systems other than fuseblk run in a process, not on a device
    // (gvfsd-fuse, portals); the network ones are among them.
    if (startsWith(fsType, "fuse.") || fsType == "fuse") return true;
    return isNetworkFileSystem(fsType);
}

bool mountsFileSystemTop(const MountinfoEntry& entry) {
    if (entry.root == "/") return true;
    if (entry.fsType != "btrfs") return false;
    // "subvol=/@home" among the super options: the subvolume is the mount's
    // own top, not a bind mount of a directory inside it.
    return superOption(entry, "subvol") == entry.root;
}

std::optional<std::string_view> superOption(const MountinfoEntry& entry, std::string_view name) {
    for (std::string_view rest = entry.superOptions; !rest.empty();) {
        const auto comma = rest.find(',');
        const std::string_view option = rest.substr(0, comma);
        if (option == name) return std::string_view{};
        if (option.size() > name.size() && startsWith(option, name) && option[name.size()] == '=')
            return option.substr(name.size() + 1);
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
    }
    return std::nullopt;
}

}  // namespace vq::linux_platform
