// <proc>/self/mountinfo: the parser, the escapes and which mounts are volumes.
#include "platform/linux/mountinfo.h"

#include <gtest/gtest.h>

#include "platform/linux/linux_volumes.h"

namespace vq::linux_platform {
namespace {

MountinfoEntry mount(std::uint32_t major, std::uint32_t minor, std::string root, std::string mountPoint,
                     std::string fsType, std::string source, std::string superOptions = "rw") {
    return {major,
            minor,
            std::move(root),
            std::move(mountPoint),
            std::move(fsType),
            std::move(source),
            std::move(superOptions)};
}

TEST(MountinfoEscapes, OctalEscapesDecodeAndOthersStay) {
    struct Case {
        const char* field;
        const char* decoded;
    } cases[] = {
        {R"(/media/user/MY\040STICK)", "/media/user/MY STICK"},
        {R"(/mnt/a\011b\012c)", "/mnt/a\tb\nc"},
        {R"(/mnt/back\134slash)", "/mnt/back\\slash"},
        {R"(/mnt/\134040)", "/mnt/\\040"},  // an escaped backslash followed by digits
        {R"(src\043hash)", "src#hash"},
        {R"(/mnt/trailing\04)", R"(/mnt/trailing\04)"},
        {R"(/mnt/not\8xx)", R"(/mnt/not\8xx)"},
        {R"(/mnt/high\777)", R"(/mnt/high\777)"},  // above one byte: kept as written
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(decodeMountinfoEscapes(c.field), c.decoded) << c.field;
}

TEST(Mountinfo, FieldsAroundTheSeparator) {
    struct Case {
        const char* name;
        const char* line;
        std::vector<MountinfoEntry> entries;
    } cases[] = {
        {"no optional fields",
         "26 1 254:0 / / rw,relatime - ext4 /dev/vda rw,errors=remount-ro",
         {mount(254, 0, "/", "/", "ext4", "/dev/vda", "rw,errors=remount-ro")}},
        {"three optional fields",
         "28 26 259:2 / /home rw shared:31 master:4 propagate_from:2 - ext4 /dev/nvme0n1p2 rw",
         {mount(259, 2, "/", "/home", "ext4", "/dev/nvme0n1p2")}},
        // A lone "-" earlier on the line would be a mount point, never the
        // separator: the search starts after the six fixed fields.
        {"mount point named -", "30 26 8:1 / - rw - ext4 /dev/sda1 rw", {mount(8, 1, "/", "-", "ext4", "/dev/sda1")}},
        {"escaped space in the mount point and source",
         R"(30 29 8:17 /sub\040dir /media/u/MY\040STICK rw - vfat /dev/disk\040x rw)",
         {mount(8, 17, "/sub dir", "/media/u/MY STICK", "vfat", "/dev/disk x")}},
        {"empty source", "40 26 0:70 / /mnt/x rw - tmpfs  rw", {mount(0, 70, "/", "/mnt/x", "tmpfs", "", "rw")}},
        {"no separator", "21 26 0:20 / /proc rw,relatime proc proc rw", {}},
        {"too few after the separator", "21 26 0:20 / /proc rw - proc proc", {}},
        {"bad device number", "21 26 0x20 / /proc rw - proc proc rw", {}},
        {"negative minor", "21 26 0:-1 / /proc rw - proc proc rw", {}},
        {"empty", "", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(parseMountinfo(c.line), c.entries) << c.name;
}

TEST(Mountinfo, LinesInOrderAndBadOnesSkipped) {
    const auto entries = parseMountinfo(
        "21 26 0:20 / /proc rw - proc proc rw\n"
        "garbage\n"
        "26 1 254:0 / / rw - ext4 /dev/vda rw\n"
        "27 26 8:1 / /boot rw - ext4 /dev/sda1 rw");
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].mountPoint, "/proc");
    EXPECT_EQ(entries[1].mountPoint, "/");
    EXPECT_EQ(entries[2].mountPoint, "/boot");
}

TEST(Mountinfo, FileSystemKinds) {
    struct Case {
        const char* fsType;
        bool pseudoOrNetwork;
        bool network;
    } cases[] = {
        {"ext4", false, false},     {"btrfs", false, false},   {"vfat", false, false},     {"fuseblk", false, false},
        {"squashfs", false, false}, {"iso9660", false, false}, {"tmpfs", true, false},     {"overlay", true, false},
        {"proc", true, false},      {"cgroup2", true, false},  {"autofs", true, false},    {"fuse.portal", true, false},
        {"nfs4", true, true},       {"cifs", true, true},      {"fuse.sshfs", true, true}, {"9p", true, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isPseudoOrNetworkFileSystem(c.fsType), c.pseudoOrNetwork) << c.fsType;
        EXPECT_EQ(isNetworkFileSystem(c.fsType), c.network) << c.fsType;
    }
}

TEST(Mountinfo, FileSystemTopOrBtrfsSubvolume) {
    struct Case {
        const char* name;
        MountinfoEntry entry;
        bool top;
    } cases[] = {
        {"whole file system", mount(8, 1, "/", "/boot", "ext4", "/dev/sda1"), true},
        {"bind mount of a directory", mount(8, 1, "/srv/data", "/srv/data", "ext4", "/dev/sda1"), false},
        {"bind mount of a file", mount(8, 1, "/var/lib/c/hosts", "/etc/hosts", "ext4", "/dev/sda1"), false},
        {"btrfs subvolume", mount(0, 31, "/@home", "/home", "btrfs", "/dev/sda2", "rw,subvolid=257,subvol=/@home"),
         true},
        {"btrfs subvolume last option", mount(0, 31, "/root", "/", "btrfs", "/dev/sda2", "rw,subvol=/root"), true},
        {"directory inside a btrfs subvolume",
         mount(0, 31, "/@home/u/x", "/x", "btrfs", "/dev/sda2", "rw,subvolid=257,subvol=/@home"), false},
        {"btrfs without subvol option", mount(0, 31, "/@home", "/home", "btrfs", "/dev/sda2", "rw"), false},
        {"subvol option on another type", mount(8, 1, "/x", "/x", "ext4", "/dev/sda1", "rw,subvol=/x"), false},
    };
    for (const Case& c : cases) EXPECT_EQ(mountsFileSystemTop(c.entry), c.top) << c.name;
}

std::vector<std::string> mountPoints(const std::vector<MountinfoEntry>& entries) {
    std::vector<std::string> points;
    for (const auto& e : entries) points.push_back(e.mountPoint);
    return points;
}

TEST(VolumeMounts, OnePerMountPointAndPerFileSystem) {
    const auto onBlockDevice = [](const MountinfoEntry& m) { return m.source.rfind("/dev/", 0) == 0; };
    struct Case {
        const char* name;
        std::vector<MountinfoEntry> mounts;
        std::vector<std::string> volumes;
    } cases[] = {
        {"pseudo and network file systems left out",
         {mount(0, 20, "/", "/proc", "proc", "proc"), mount(254, 0, "/", "/", "ext4", "/dev/vda"),
          mount(0, 45, "/", "/run", "tmpfs", "tmpfs"), mount(0, 60, "/", "/mnt/nas", "nfs4", "/dev/fake-but-network")},
         {"/"}},
        {"not on a block device", {mount(7, 9, "/", "/mnt/x", "ext4", "none")}, {}},
        {"bind mount and second mount of one device",
         {mount(8, 1, "/", "/boot", "ext4", "/dev/sda1"), mount(8, 1, "/srv", "/srv", "ext4", "/dev/sda1"),
          mount(8, 1, "/", "/mnt/again", "ext4", "/dev/sda1"), mount(8, 2, "/", "/data", "ext4", "/dev/sda2")},
         {"/boot", "/data"}},
        {"hidden mount makes way for the one on top",
         {mount(8, 1, "/", "/mnt/s", "ext4", "/dev/sda1"), mount(8, 2, "/", "/mnt/t", "ext4", "/dev/sda2"),
          mount(8, 3, "/", "/mnt/s", "ext4", "/dev/sda3")},
         {"/mnt/t", "/mnt/s"}},
        {"hidden first mount does not hide its device's other mount",
         {mount(8, 1, "/", "/mnt/s", "ext4", "/dev/sda1"), mount(8, 1, "/", "/mnt/u", "ext4", "/dev/sda1"),
          mount(0, 40, "/", "/mnt/s", "tmpfs", "tmpfs")},
         {"/mnt/u"}},
        {"btrfs root subvolume listed, its sibling subvolume not",
         {mount(0, 31, "/root", "/", "btrfs", "/dev/vda3", "rw,subvolid=256,subvol=/root"),
          mount(0, 31, "/home", "/home", "btrfs", "/dev/vda3", "rw,subvolid=257,subvol=/home")},
         {"/"}},
        {"container: overlay root, files bind-mounted from the host",
         {mount(0, 50, "/", "/", "overlay", "overlay"),
          mount(8, 1, "/var/lib/docker/containers/abc/hosts", "/etc/hosts", "ext4", "/dev/sda1")},
         {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(mountPoints(selectVolumeMounts(c.mounts, onBlockDevice)), c.volumes) << c.name;
}

TEST(VolumePaths, TrailingSlashesAndLastComponents) {
    struct Case {
        const char* path;
        const char* trimmed;
        const char* last;
    } cases[] = {
        {"/", "/", "/"},  {"/media/usb/", "/media/usb", "usb"}, {"/mnt/My Disk", "/mnt/My Disk", "My Disk"},
        {"//", "/", "/"}, {"/home", "/home", "home"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(withoutTrailingSlash(c.path), c.trimmed) << c.path;
        EXPECT_EQ(lastPathComponent(c.path), c.last) << c.path;
    }
}

}  // namespace
}  // namespace vq::linux_platform
