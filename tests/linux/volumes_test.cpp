// The volumes of a Linux machine: the fixture tree of a desktop with many
// kinds of mounts, icon themes in a temporary tree, and the running machine.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include "platform/linux/linux_storage.h"
#include "platform/linux/linux_volumes.h"
#include "platform/linux/volume_icons.h"

namespace vq::linux_platform {
namespace {

namespace fs = std::filesystem;

const std::string kDesktop = VELQUETTE_FIXTURES "/linux/storage-desktop";

LinuxVolumesOptions desktopOptions(std::string udevRoot = kDesktop + "/udev",
                                   std::optional<std::string> host = "testhost") {
    LinuxVolumesOptions options;
    options.roots = Roots{kDesktop + "/proc", kDesktop + "/sys", std::move(udevRoot)};
    options.hostName = [host] { return host; };
    return options;
}

TEST(LinuxVolumes, ListsLocalBlockDeviceMountsInMountOrder) {
    LinuxVolumes volumes(desktopOptions());
    // Left out: /proc, /sys, /dev, /run (pseudo), /srv/data (bind mount of a
    // directory), /mnt/boot-again (sda1 again), /mnt/snapshots (another
    // subvolume of the /mnt/pool file system), /mnt/nas (network), /mnt/over
    // (tmpfs), nvme0n1p1 (hidden under /mnt/stacked), /mnt/gone and
    // /mnt/unknown-dev (devices sysfs does not know).
    const std::vector<std::string> expected = {"/",
                                               "/boot",
                                               "/home",
                                               "/media/user/MY STICK",
                                               "/mnt/pool",
                                               "/mnt/image",
                                               "/media/user/DVD Disc",
                                               "/mnt/tab\tname",
                                               "/mnt/crypt",
                                               "/mnt/stacked",
                                               "/mnt/card"};
    EXPECT_EQ(volumes.mountedLocalVolumePaths(), expected);
}

TEST(LinuxVolumes, MountedFromNamesTheKernelDevice) {
    LinuxVolumes volumes(desktopOptions());
    struct Case {
        const char* path;
        std::optional<std::string> device;
    } cases[] = {
        {"/", "/dev/vda"},
        {"/boot", "/dev/sda1"},
        {"/boot/", "/dev/sda1"},
        {"/media/user/MY STICK", "/dev/sdb1"},
        {"/mnt/pool", "/dev/sdc1"},            // btrfs: anonymous number, device from the source
        {"/mnt/crypt", "/dev/dm-0"},           // /dev/mapper/vg-home is dm-0 by its dm/name
        {"/mnt/tab\tname", "/dev/mmcblk0p1"},  // fuseblk
        {"/mnt/stacked", "/dev/sr1"},          // the mount on top
        {"/mnt/nas", "server:/export"},        // no block device: the source as written
        {"/mnt/over", "tmpfs"},
        {"/srv", std::nullopt},  // a directory, not a mount point
        {"/mnt/nothing", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(volumes.mountedFrom(c.path), c.device) << c.path;
}

TEST(LinuxVolumes, DisplayNamesPreferTheFileSystemLabel) {
    LinuxVolumes withUdev(desktopOptions());
    LinuxVolumes container(desktopOptions("/nonexistent-udev"));
    LinuxVolumes nameless(desktopOptions("/nonexistent-udev", std::nullopt));
    struct Case {
        LinuxVolumes* volumes;
        const char* path;
        const char* name;
    } cases[] = {
        {&withUdev, "/", "rootfs"},
        {&withUdev, "/boot", "Boot"},
        {&withUdev, "/media/user/MY STICK", "MY STICK"},  // the encoded label keeps its space
        {&withUdev, "/home", "home"},                     // an empty label counts as none
        {&withUdev, "/mnt/pool", "Pool"},                 // btrfs: label of the source device
        {&withUdev, "/mnt/image", "image"},               // a record without a label
        {&withUdev, "/mnt/tab\tname", "CAMERA"},
        {&withUdev, "/mnt/stacked", "stacked"},
        {&withUdev, "/not/mounted/dir/", "dir"},
        {&container, "/", "testhost"},
        {&container, "/boot", "boot"},
        {&container, "/media/user/MY STICK", "MY STICK"},
        {&nameless, "/", "/"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.volumes->displayNameAtPath(c.path), c.name) << c.path;
}

TEST(LinuxVolumes, WholeDiskFromTheSysfsParent) {
    LinuxVolumes volumes(desktopOptions());
    struct Case {
        const char* name;
        const char* disk;
    } cases[] = {
        {"sda1", "sda"},
        {"sda", "sda"},
        {"nvme0n1p2", "nvme0n1"},
        {"nvme0n1", "nvme0n1"},
        {"mmcblk0p1", "mmcblk0"},
        {"sdb1", "sdb"},
        {"loop0", "loop0"},
        {"dm-0", "dm-0"},
        {"sdz9", "sdz9"},
        {"../block/sda1", "../block/sda1"},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(volumes.wholeDiskName(c.name), c.disk) << c.name;
    EXPECT_EQ(volumes.volumeRoots(), (std::vector<std::string>{"/media/", "/run/media/", "/mnt/"}));
}

TEST(LinuxVolumes, MissingMountTableMeansNoVolumes) {
    LinuxVolumesOptions options = desktopOptions();
    options.roots.proc = "/nonexistent-proc";
    LinuxVolumes volumes(options);
    EXPECT_TRUE(volumes.mountedLocalVolumePaths().empty());
    EXPECT_EQ(volumes.mountedFrom("/"), std::nullopt);
    EXPECT_EQ(volumes.displayNameAtPath("/"), "testhost");
}

// A temporary tree of icon themes; each icon file holds a PNG signature and
// a tag that says where it came from.
class IconThemes : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::path(::testing::TempDir()) / ("icon-themes-" + std::to_string(::getpid()));
        fs::remove_all(root_);
        png("system/icons/hicolor/48x48/devices/drive-harddisk.png", "hicolor-48");
        png("system/icons/hicolor/48x48/devices/drive-removable-media.png", "hicolor-removable-48");
        png("system/icons/Adwaita/16x16/devices/drive-harddisk.png", "adwaita-16");
        png("system/icons/Adwaita/64x64/devices/drive-harddisk.png", "adwaita-64");
        png("system/icons/Adwaita/32x32/devices/drive-harddisk.png", "adwaita-32");
        file("system/icons/Adwaita/48x48/devices/drive-harddisk.png", "not a png");
        file("system/icons/Adwaita/scalable/devices/drive-harddisk.svg", "<svg/>");
        png("system/icons/Adwaita/48x48@2/devices/drive-harddisk.png", "adwaita-48-scaled");
        // The other layout: <context>/<size>/.
        png("system/icons/Breeze/places/64/folder-remote.png", "breeze-64");
        png("system/icons/Breeze/places/22/folder-remote.png", "breeze-22");
        png("system/icons/hicolor/48x48/places/folder-remote.png", "hicolor-remote-48");
        png("user/icons/Adwaita/24x24/places/folder-remote.png", "user-adwaita-24");
    }
    void TearDown() override { fs::remove_all(root_); }

    void file(const std::string& relative, const std::string& content) {
        fs::create_directories((root_ / relative).parent_path());
        std::ofstream(root_ / relative, std::ios::binary) << content;
    }
    void png(const std::string& relative, const std::string& tag) {
        file(relative, std::string("\x89PNG\r\n\x1a\n", 8) + tag);
    }
    std::string tagOf(const std::optional<std::string>& bytes) {
        if (!bytes || bytes->size() < 8) return "";
        return bytes->substr(8);
    }
    std::vector<std::string> roots(bool withUser) {
        std::vector<std::string> r;
        if (withUser) r.push_back((root_ / "user/icons").string());
        r.push_back((root_ / "system/icons").string());
        return r;
    }

    fs::path root_;
};

TEST_F(IconThemes, ThemeOrderThenNearestSize) {
    struct Case {
        const char* name;
        bool withUser;
        const char* icon;
        const char* tag;
    } cases[] = {
        // Adwaita before hicolor; 32 and 64 are equally near 48, so the larger;
        // a .png that is not a PNG and the scaled folder do not count.
        {"Adwaita nearest size", false, "drive-harddisk", "adwaita-64"},
        {"only hicolor has it", false, "drive-removable-media", "hicolor-removable-48"},
        {"other theme before hicolor, other layout", false, "folder-remote", "breeze-64"},
        {"Adwaita of the user's folder first", true, "folder-remote", "user-adwaita-24"},
        {"no theme has it", false, "drive-optical", ""},
    };
    for (const Case& c : cases) {
        const auto path = findThemeIcon(roots(c.withUser), c.icon);
        std::optional<std::string> bytes;
        if (path) {
            std::ifstream in(*path, std::ios::binary);
            bytes = std::string(std::istreambuf_iterator<char>(in), {});
        }
        EXPECT_EQ(tagOf(bytes), c.tag) << c.name;
    }
}

TEST_F(IconThemes, VolumeIconByKindOfVolume) {
    LinuxVolumesOptions options = desktopOptions();
    options.iconThemeRoots = roots(false);
    LinuxVolumes volumes(options);
    struct Case {
        const char* path;
        const char* tag;
    } cases[] = {
        {"/", "adwaita-64"},                               // virtio disk: internal
        {"/boot", "adwaita-64"},                           // ATA
        {"/media/user/MY STICK", "hicolor-removable-48"},  // USB
        {"/mnt/pool", "hicolor-removable-48"},             // USB-SATA enclosure
        {"/mnt/tab\tname", "hicolor-removable-48"},        // SD card
        {"/media/user/DVD Disc", "hicolor-removable-48"},  // optical
        {"/mnt/card", "hicolor-removable-48"},             // ATA card reader flagged removable
        {"/mnt/nas", "breeze-64"},                         // network
        {"/not/mounted", "adwaita-64"},
    };
    for (const Case& c : cases) EXPECT_EQ(tagOf(volumes.iconForVolume(c.path)), c.tag) << c.path;
}

TEST(VolumeIcons, BuiltInIconsWhereNoThemeIsInstalled) {
    LinuxVolumesOptions options = desktopOptions();
    options.iconThemeRoots = {"/nonexistent-icons"};
    LinuxVolumes volumes(options);
    struct Case {
        const char* path;
        VolumeKind kind;
    } cases[] = {
        {"/", VolumeKind::InternalDisk},
        {"/media/user/MY STICK", VolumeKind::Removable},
        {"/mnt/nas", VolumeKind::Network},
    };
    for (const Case& c : cases) {
        const auto icon = volumes.iconForVolume(c.path);
        ASSERT_TRUE(icon) << c.path;
        EXPECT_TRUE(looksLikePng(*icon)) << c.path;
        EXPECT_EQ(*icon, builtInVolumeIcon(c.kind)) << c.path;
    }
    // Three different pictures, each a complete 48x48 PNG (IHDR first, IEND last).
    const std::string_view disk = builtInVolumeIcon(VolumeKind::InternalDisk);
    EXPECT_NE(disk, builtInVolumeIcon(VolumeKind::Removable));
    EXPECT_NE(disk, builtInVolumeIcon(VolumeKind::Network));
    EXPECT_NE(builtInVolumeIcon(VolumeKind::Removable), builtInVolumeIcon(VolumeKind::Network));
    for (VolumeKind kind : {VolumeKind::InternalDisk, VolumeKind::Removable, VolumeKind::Network}) {
        const std::string_view png = builtInVolumeIcon(kind);
        ASSERT_GT(png.size(), 33u);
        EXPECT_EQ(png.substr(12, 4), "IHDR");
        EXPECT_EQ(png.substr(16, 8), std::string_view("\0\0\0\x30\0\0\0\x30", 8));
        EXPECT_EQ(png.substr(png.size() - 8, 4), "IEND");
    }
}

TEST(VolumeIcons, ThemeRootsAndFolderSizes) {
    struct RootsCase {
        const char* dataHome;
        const char* home;
        const char* dataDirs;
        std::vector<std::string> roots;
    } rootsCases[] = {
        {nullptr,
         "/home/u",
         nullptr,
         {"/home/u/.local/share/icons", "/home/u/.icons", "/usr/local/share/icons", "/usr/share/icons"}},
        {"/xdg",
         "/home/u",
         "/opt/share::/usr/share",
         {"/xdg/icons", "/home/u/.icons", "/opt/share/icons", "/usr/share/icons"}},
        {"", "", "", {"/usr/local/share/icons", "/usr/share/icons"}},
    };
    for (const auto& c : rootsCases) EXPECT_EQ(iconThemeRoots(c.dataHome, c.home, c.dataDirs), c.roots);

    struct SizeCase {
        const char* folder;
        std::optional<int> size;
    } sizeCases[] = {{"48x48", 48},
                     {"48", 48},
                     {"16x16", 16},
                     {"48x48@2", std::nullopt},
                     {"48x32", std::nullopt},
                     {"scalable", std::nullopt},
                     {"symbolic", std::nullopt},
                     {"x48", std::nullopt},
                     {"", std::nullopt}};
    for (const auto& c : sizeCases) EXPECT_EQ(iconFolderSize(c.folder), c.size) << c.folder;
}

// The running machine: "/" against df, when "/" is on a block device here.
TEST(LinuxVolumesLive, RootSizesMatchDf) {
    auto volumes = makeLinuxVolumes(Roots{});
    const auto paths = volumes->mountedLocalVolumePaths();
    if (paths.empty() || paths.front() != "/") GTEST_SKIP() << "\"/\" is not a local block-device volume here";
    const auto device = volumes->mountedFrom("/");
    ASSERT_TRUE(device);
    EXPECT_EQ(device->rfind("/dev/", 0), 0u) << *device;

    std::unique_ptr<FILE, int (*)(FILE*)> df(::popen("df -kP / 2>/dev/null", "r"), &::pclose);
    if (!df) GTEST_SKIP() << "df cannot run";
    char header[512], line[512];
    unsigned long long dfTotalKiB = 0, dfUsedKiB = 0, dfAvailableKiB = 0;
    if (!std::fgets(header, sizeof header, df.get()) || !std::fgets(line, sizeof line, df.get()) ||
        std::sscanf(line, "%*s %llu %llu %llu", &dfTotalKiB, &dfUsedKiB, &dfAvailableKiB) != 3)
        GTEST_SKIP() << "df output not understood";

    const auto sizes = volumes->volumeSizes("/");
    ASSERT_TRUE(sizes);
    const double totalKiB = static_cast<double>(sizes->totalBytes) / 1024;
    const double freeKiB = static_cast<double>(sizes->freeBytes) / 1024;
    EXPECT_NEAR(totalKiB, static_cast<double>(dfTotalKiB), 0.01 * static_cast<double>(dfTotalKiB));
    EXPECT_NEAR(freeKiB, static_cast<double>(dfAvailableKiB), 0.01 * static_cast<double>(dfTotalKiB));
    EXPECT_LE(sizes->freeBytes, sizes->totalBytes);
    EXPECT_FALSE(volumes->displayNameAtPath("/").empty());
    const auto icon = volumes->iconForVolume("/");
    ASSERT_TRUE(icon);
    EXPECT_TRUE(looksLikePng(*icon));
}

TEST(LinuxVolumesLive, SizeQueryOfAMissingPathFails) {
    auto volumes = makeLinuxVolumes(Roots{});
    EXPECT_EQ(volumes->volumeSizes("/nonexistent/velquette/volume"), std::nullopt);
}

}  // namespace
}  // namespace vq::linux_platform
