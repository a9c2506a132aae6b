// Memory, disks and volumes: parsers, the readers on fixture trees of several kernels and of a desktop with
// many kinds of drives and mounts, and the running machine.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/linux/drives/linux_io_registry.h"
#include "platform/linux/memory/meminfo.h"
#include "platform/linux/memory/meminfo_memory_stats.h"
#include "platform/linux/memory/memory_pressure.h"
#include "platform/linux/memory/vmstat.h"
#include "platform/linux/storage/linux_storage.h"
#include "platform/linux/storage/linux_volumes.h"
#include "platform/linux/storage/volume_icons.h"

namespace vq::linux_platform {
namespace {

const std::string kLinux = VELQUETTE_FIXTURES "/linux";
const std::string kDesktop = kLinux + "/storage-desktop";
constexpr std::nullopt_t no = std::nullopt;
using Pages = std::array<std::uint32_t, 6>;  // free, active, inactive, wired, page-ins, page-outs
using Udev = UdevProperties;
using Ids = std::vector<RegistryEntryId>;

std::optional<Pages> pages(const std::optional<VmStatistics>& s) {
    if (!s) return no;
    return Pages{s->freeCount, s->activeCount, s->inactiveCount, s->wireCount, s->pageins, s->pageouts};
}

TEST(MeminfoMemoryStats, ParsersFixtureTreesAndTheRunningKernel) {
    // Whole keys with the kB unit only; "Active(anon)" and unitless lines are in the fixtures.
    Meminfo m = parseMeminfo("MemTotal:\t42 kB\nMemFree: -5 kB\nActive: 99999999999999999999 kB\nInactive: 3 MB");
    EXPECT_EQ((std::array{m.memTotalKiB, m.memFreeKiB, m.activeKiB, m.inactiveKiB, m.swapTotalKiB}),
              (std::array<std::optional<std::uint64_t>, 5>{42, no, no, no, no}));
    // The parts, sampled apart, can exceed the total. Each figure rounds down on its own, and wired takes
    // up the lost pages. Counts beyond 32 bits are held at the largest.
    const std::pair<Meminfo, std::optional<Pages>> counts[] = {
        {{4096, 1024, 400, 800, 0}, Pages{256, 100, 200, 468, 0, 0}},
        {{1000, 600, 300, 200, 0}, Pages{150, 75, 50, 0, 0, 0}},
        {{4000, 3, 3, 3, 0}, Pages{0, 0, 0, 1000, 0, 0}},
        {{4010, 1001, 1001, 2005, 0}, Pages{250, 250, 501, 1, 0, 0}},
        {{no, 1, 1, 1, 0}, no},
        {{std::uint64_t{1} << 45, std::uint64_t{1} << 44, 0, 0, 0}, Pages{0xFFFFFFFF, 0, 0, 0xFFFFFFFF, 0, 0}}};
    for (const auto& [meminfo, expected] : counts)
        EXPECT_EQ(pages(pageCountsFromMeminfo(meminfo)), expected) << meminfo.memTotalKiB.value_or(0);

    // 2.6.32: 7 KiB of page-outs are one page; 4.19: pgpgout past 2^34 KiB keeps the low 32 bits of pages;
    // 6.8: wired holds a reserved pool of huge pages; partial: no pgpgout and no SwapTotal.
    const std::tuple<const char*, std::optional<Pages>, std::optional<std::uint64_t>> trees[] = {
        {"meminfo-2.6.32", Pages{53086, 511890, 314178, 101862, 5120000, 1}, 2097144ull * 1024},
        {"meminfo-4.19", Pages{2280103, 1043800, 565598, 190089, 1000000, 1}, 0},
        {"meminfo-6.8-hugepages", Pages{5000000, 3000000, 2000000, 6384000, 30864197, 246913}, 8388604ull * 1024},
        {"meminfo-partial", no, no},
        {"does-not-exist", no, no}};
    for (const auto& [tree, expected, swapBytes] : trees) {
        auto stats = makeLinuxMemoryStats(Roots{kLinux + "/" + tree, "/no", "/no"});
        EXPECT_EQ(pages(stats->hostStatistics()), expected) << tree;
        EXPECT_EQ(stats->swapTotalBytes(), swapBytes) << tree;
    }
    std::stringstream text;
    text << std::ifstream("/proc/meminfo").rdbuf();
    const auto totalKiB = parseMeminfo(text.str()).memTotalKiB;
    auto stats = makeLinuxMemoryStats(Roots{});
    const auto p = pages(stats->hostStatistics());
    ASSERT_TRUE(totalKiB && p && stats->swapTotalBytes());
    // MemTotal only moves with memory hot-plug or balloon drivers.
    EXPECT_EQ(std::uint64_t{(*p)[0]} + (*p)[1] + (*p)[2] + (*p)[3], *totalKiB / 4);
    EXPECT_TRUE((*p)[0] > 0 && (*p)[1] + (*p)[2] > 0);
}

DriveFacts facts(std::string name, std::string path, std::optional<Udev> udev = {}, std::optional<int> type = {}) {
    return DriveFacts{std::move(name), std::move(path), std::move(udev), type, false, false};
}

// The usual udev records, labels and drives are in the desktop fixture; these are the others.
// The memory alert's readings: the pressure figure, MemAvailable, and a control group's limit where one binds.
TEST(MemoryPressure, ParserAndFixtureTrees) {
    const std::pair<const char*, std::optional<double>> texts[] = {
        {"some avg10=0.00 avg60=1.25 avg300=0.40 total=1\nfull avg10=0.00 avg60=9.00 avg300=0 total=1\n", 1.25},
        {"full avg10=0.00 avg60=9.00 avg300=0 total=1\nsome avg10=0.00 avg60=0.00 avg300=0 total=1", 0.0},
        {"some avg10=0.00 avg60= avg300=0 total=1\n", no},
        {"some avg10=0.00 avg60=101.00\n", no},
        {"full avg10=0.00 avg60=9.00\n", no},
        {"", no}};
    for (const auto& [text, expected] : texts) EXPECT_EQ(parsePressureSomeAvg60(text), expected) << text;

    auto figures = [](const MemoryPressureSample& m) {
        auto text = [](const auto& v) { return v ? std::to_string(std::uint64_t(*v * 100)) : std::string("-"); };
        return text(m.someAvg60) + " " + text(m.availableBytes) + " " + text(m.totalBytes) + " " +
               text(m.limitBytes) + " " + text(m.limitUsedBytes);
    };
    EXPECT_EQ(figures(makeLinuxMemoryPressure(Roots{kLinux + "/memory-pressure", "/no", "/no"})->sample()),
              "1250 65536000000 1638400000000 - -");
    EXPECT_EQ(figures(makeLinuxMemoryPressure(Roots{kLinux + "/cgroup-v2/proc", kLinux + "/cgroup-v2/sys"})->sample()),
              "- - 1677721600000 214748364800 80530636800");
}

TEST(DriveKinds, UdevRecordsInterconnectAndOpticalMedium) {
    EXPECT_EQ(parseUdevDatabase("E:ID_BUS=usb\nE:=no key\nE:NO_EQUALS\nE:ID_BUS=ata\nE:EMPTY="),
              (Udev{{"ID_BUS", "ata"}, {"EMPTY", ""}}));
    EXPECT_EQ(fileSystemLabel({{"ID_FS_LABEL_ENC", "caf\\xc3\\xa9\\x2fx\\xzz\\x2"}}), "caf\xc3\xa9/x\\xzz\\x2");
    EXPECT_FALSE(parseDeviceNumber("8:") || parseDeviceNumber("a:1"));
    EXPECT_EQ(blockDeviceNumber(kDesktop + "/sys", "../block/sda"), std::nullopt);

    const std::string ata = "devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0/block/sda";
    const std::string usb = "devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0/block/sdb";
    const std::string scsi = "devices/pci0000:00/0000:00:10.0/host2/target2:0:0/2:0:0:0/block/sdc";
    // udev's word beats the path; USB-SATA bridges say ata, but ID_PATH or the path shows USB.
    const std::pair<DriveFacts, std::optional<std::string>> buses[] = {
        {facts("sdc", ata, Udev{{"ID_BUS", "scsi"}}), "SCSI"},
        {facts("sdc", scsi, Udev{{"ID_BUS", "ieee1394"}}), "FireWire"},
        {facts("sdc", scsi, Udev{{"ID_BUS", "ata"}, {"ID_PATH", "pci-0000:00:14.0-usb-0:2:1.0-scsi-0"}}), "USB"},
        {facts("sdc", usb, Udev{{"ID_BUS", "ata"}}), "USB"},
        {facts("sdc", scsi), no},
        {facts("disk0", "devices/pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0/nvme0n1"), "NVMe"},
        {facts("sda", "devices/pci0000:00/0000:00:03.0/virtio2/host0/target0:0:0/0:0:0:0/block/sda"), "Virtio"},
        {facts("mmcblk1", ""), "SD"},
        {facts("loopback", ""), no}};
    for (const auto& [drive, bus] : buses) EXPECT_EQ(physicalInterconnect(drive), bus) << drive.name;
    // Drive flags are no medium; without udev, SCSI peripheral type 5 is an optical drive.
    const auto cdrom = [](const char* key) { return Udev{{"ID_CDROM", "1"}, {key, "1"}}; };
    const std::pair<DriveFacts, OpticalMedium> media[] = {
        {facts("sr0", ata, cdrom("ID_CDROM_MEDIA_BD_R")), OpticalMedium::DVD},
        {facts("sr0", ata, cdrom("ID_CDROM_MEDIA_HDDVD")), OpticalMedium::DVD},
        {facts("sdq", ata, cdrom("ID_CDROM_DVD")), OpticalMedium::CD},
        {facts("sdq", ata, no, 5), OpticalMedium::CD},
        {facts("srx", ata, Udev{{"ID_BUS", "ata"}}, 0), OpticalMedium::None}};
    for (const auto& [drive, medium] : media) EXPECT_EQ(opticalMedium(drive), medium) << drive.name;
}

// What the volume miner makes of the registry: "disk:CD ", "disk:DVD ", "disk:<interconnect> " in disk order.
std::string driveTypes(IORegistry& registry) {
    std::map<std::string, std::string> types;
    for (RegistryEntryId id : registry.matchingServices("IOMedia", {{"Whole", true}}).value_or(Ids{})) {
        std::string& type = types[registry.properties(id).value_or(nlohmann::json::object()).value("BSD Name", "")];
        if (registry.conformsTo(id, "IOCDMedia") || registry.conformsTo(id, "IODVDMedia"))
            type = registry.conformsTo(id, "IOCDMedia") ? "CD" : "DVD";
        else if (auto characteristics = registry.searchProperty(id, "Protocol Characteristics"))
            type = characteristics->value("Physical Interconnect", "");
    }
    std::string text;
    for (const auto& [name, type] : types) text += name + ":" + type + " ";
    return text;
}

TEST(LinuxIORegistry, DrivesOfTheDesktopFixture) {
    LinuxIORegistry withUdev(Roots{kDesktop + "/proc", kDesktop + "/sys", kDesktop + "/udev"});
    // Every disk but zram0; sdc is a USB-SATA enclosure, sdd and sdf have no udev record.
    std::string expected =
        "dm-0: loop0:Virtual Interface loop1:Virtual Interface mmcblk0:SD nvme0n1:NVMe sda:ATA "
        "sdb:USB sdc:USB sdd:ATA sdf:ATA sr0:DVD sr1:CD vda:Virtio ";
    EXPECT_EQ(driveTypes(withUdev), expected);
    EXPECT_EQ(withUdev.matchingServicesByName("IOBlockStorageDriver").value_or(Ids{}).size(), 13u);
    const auto sda = withUdev.matchingServices("IOMedia", {{"BSD Name", "sda"}});
    ASSERT_TRUE(sda && sda->size() == 1);
    EXPECT_EQ(withUdev.properties(sda->front()), (nlohmann::json{{"BSD Name", "sda"}, {"Whole", true}}));
    EXPECT_EQ(withUdev.matchingServices("IOMedia", {{"BSD Name", "sda"}}), sda) << "ids follow the device number";
    // A container: no udev database, so sr0's DVD shows as a CD and the buses come from the paths.
    LinuxIORegistry container(Roots{kDesktop + "/proc", kDesktop + "/sys", "/nonexistent-udev"});
    EXPECT_EQ(driveTypes(container), expected.replace(expected.find("sr0:DVD"), 7, "sr0:CD"));
    EXPECT_EQ(LinuxIORegistry(Roots{"/no", "/no", "/no"}).matchingServices("IOMedia", {{"Whole", true}}), no);
}

MountinfoEntry mount(std::uint32_t minor, std::string root, std::string point, std::string type,
                     std::string source = "/dev/sda1", std::string options = "rw") {
    return {8, minor, std::move(root), std::move(point), std::move(type), std::move(source), std::move(options)};
}

// The desktop fixture shows escaped blanks, bind mounts, hidden and repeated mounts and subvolumes.
TEST(Mountinfo, EscapesFieldsAndTheMountsThatAreVolumes) {
    const std::pair<const char*, const char*> escapes[] = {{R"(/mnt/a\040b\011c\012d)", "/mnt/a b\tc\nd"},
                                                           {R"(/mnt/\134040)", "/mnt/\\040"},
                                                           {R"(/mnt/x\04)", R"(/mnt/x\04)"},
                                                           {R"(/mnt/not\8xx)", R"(/mnt/not\8xx)"},
                                                           {R"(/mnt/\777)", R"(/mnt/\777)"}};
    for (const auto& [field, decoded] : escapes) EXPECT_EQ(decodeMountinfoEscapes(field), decoded) << field;
    // The separator is searched for after the six fixed fields; a source may be empty.
    EXPECT_EQ(parseMountinfo("30 26 8:1 / - rw - ext4 /dev/sda1 rw\n40 26 8:2 / /x rw - tmpfs  rw\ngarbage"),
              (std::vector{mount(1, "/", "-", "ext4"), mount(2, "/", "/x", "tmpfs", "")}));
    EXPECT_EQ(parseMountinfo("1 2 0:2 / /p rw proc proc rw\n1 2 0:2 / /p rw - proc proc\n1 2 0x2 / /p rw - a b rw"),
              std::vector<MountinfoEntry>{});

    const std::pair<MountinfoEntry, bool> tops[] = {
        {mount(2, "/root", "/", "btrfs", "/dev/sda2", "rw,subvolid=256,subvol=/root"), true},
        {mount(2, "/@home/u/x", "/x", "btrfs", "/dev/sda2", "rw,subvol=/@home"), false},
        {mount(2, "/@home", "/home", "btrfs", "/dev/sda2", "rw"), false},
        {mount(1, "/x", "/x", "ext4", "/dev/sda1", "rw,subvol=/x"), false}};
    for (const auto& [entry, top] : tops) EXPECT_EQ(mountsFileSystemTop(entry), top) << entry.root;
    // A hidden first mount does not hide its device's other mount; a container has no volumes.
    const std::pair<std::vector<MountinfoEntry>, std::vector<std::string>> cases[] = {
        {{mount(1, "/", "/mnt/s", "ext4"), mount(1, "/", "/mnt/u", "ext4"), mount(9, "/", "/mnt/s", "tmpfs", "x")},
         {"/mnt/u"}},
        {{mount(0, "/", "/", "overlay", "overlay"), mount(1, "/var/lib/c/hosts", "/etc/hosts", "ext4")}, {}}};
    for (const auto& [mounts, volumes] : cases) {
        std::vector<std::string> points;
        for (const auto& m : selectVolumeMounts(mounts, [](auto& e) { return e.source.starts_with("/dev/"); }))
            points.push_back(m.mountPoint);
        EXPECT_EQ(points, volumes);
    }
}

LinuxVolumesOptions desktop(std::string udev = kDesktop + "/udev", std::optional<std::string> host = "testhost") {
    return {{kDesktop + "/proc", kDesktop + "/sys", std::move(udev)}, {kLinux + "/icon-themes/system"}, [host] {
                return host;
            }};
}

std::string tag(const std::optional<std::string>& png) { return png && png->size() > 8 ? png->substr(8) : ""; }

// Not volumes: pseudo and network file systems, /srv/data (a bind mount), /mnt/boot-again (sda1 again),
// /mnt/snapshots (subvolume of /mnt/pool), nvme0n1p1 (hidden under /mnt/stacked), devices sysfs lacks.
// Icons: Adwaita, then other themes, hicolor last; of 32 and 64 pixels, as near 48, the larger.
TEST(LinuxVolumes, DesktopThemesAndBuiltInIcons) {
    LinuxVolumes volumes(desktop());
    EXPECT_EQ(volumes.mountedLocalVolumePaths(),
              (std::vector<std::string>{"/", "/boot", "/home", "/media/user/MY STICK", "/mnt/pool", "/mnt/image",
                                        "/media/user/DVD Disc", "/mnt/tab\tname", "/mnt/crypt", "/mnt/stacked",
                                        "/mnt/card"}));
    const std::tuple<const char*, std::optional<std::string>, const char*, const char*> cases[] = {
        {"/", "/dev/vda", "rootfs", "adwaita-64"},
        {"/boot/", "/dev/sda1", "Boot", "adwaita-64"},
        {"/media/user/MY STICK", "/dev/sdb1", "MY STICK", "hicolor-removable-48"},
        {"/home", "/dev/nvme0n1p2", "home", "adwaita-64"},
        {"/mnt/pool", "/dev/sdc1", "Pool", "hicolor-removable-48"},
        {"/media/user/DVD Disc", "/dev/sr0", "DVD Disc", "hicolor-removable-48"},
        {"/mnt/crypt", "/dev/dm-0", "crypt", "adwaita-64"},
        {"/mnt/tab\tname", "/dev/mmcblk0p1", "CAMERA", "hicolor-removable-48"},
        {"/mnt/stacked", "/dev/sr1", "stacked", "hicolor-removable-48"},
        {"/mnt/card", "/dev/sdf1", "card", "hicolor-removable-48"},
        {"/mnt/nas", "server:/export", "nas", "breeze-64"},
        {"/not/mounted/dir/", no, "dir", "adwaita-64"}};
    for (const auto& [path, device, name, icon] : cases) {
        EXPECT_EQ(volumes.mountedFrom(path), device) << path;
        EXPECT_EQ(volumes.displayNameAtPath(path), name) << path;
        EXPECT_EQ(tag(volumes.iconForVolume(path)), icon) << path;
    }
    const std::pair<const char*, const char*> disks[] = {
        {"sda1", "sda"}, {"nvme0n1p2", "nvme0n1"}, {"../block/sda1", "../block/sda1"}};
    for (const auto& [name, disk] : disks) EXPECT_EQ(volumes.wholeDiskName(name), disk) << name;
    EXPECT_EQ(volumes.volumeRoots(), (std::vector<std::string>{"/media/", "/run/media/", "/mnt/"}));

    LinuxVolumes container(desktop("/nonexistent-udev"));
    EXPECT_EQ(container.displayNameAtPath("/") + " " + container.displayNameAtPath("/boot"), "testhost boot");
    EXPECT_EQ(LinuxVolumes(desktop("/nonexistent-udev", no)).displayNameAtPath("/"), "/");
    LinuxVolumesOptions unmounted = desktop();
    unmounted.roots.proc = "/nonexistent-proc";
    EXPECT_TRUE(LinuxVolumes(unmounted).mountedLocalVolumePaths().empty());

    EXPECT_EQ(iconThemeRoots(nullptr, "/home/u", nullptr),
              (std::vector<std::string>{"/home/u/.local/share/icons", "/home/u/.icons", "/usr/local/share/icons",
                                        "/usr/share/icons"}));
    EXPECT_EQ(iconThemeRoots("/xdg", "", "/opt/share::/usr/share"),
              (std::vector<std::string>{"/xdg/icons", "/opt/share/icons", "/usr/share/icons"}));
    std::ifstream user(findThemeIcon({kLinux + "/icon-themes/user", kLinux + "/icon-themes/system"}, "folder-remote")
                           .value_or("/nonexistent"));
    EXPECT_EQ(tag(std::string(std::istreambuf_iterator<char>(user), {})), "user-adwaita-24");

    LinuxVolumesOptions noThemes = desktop();
    noThemes.iconThemeRoots = {"/nonexistent-icons"};
    // Three different 48x48 PNGs.
    const std::pair<const char*, VolumeKind> kinds[] = {
        {"/", VolumeKind::InternalDisk}, {"/mnt/card", VolumeKind::Removable}, {"/mnt/nas", VolumeKind::Network}};
    for (const auto& [where, kind] : kinds) {
        const std::string_view png = builtInVolumeIcon(kind);
        EXPECT_EQ(LinuxVolumes(noThemes).iconForVolume(where), png) << where;
        EXPECT_TRUE(looksLikePng(png) && png.substr(12, 12) == std::string_view("IHDR\0\0\0\x30\0\0\0\x30", 12));
        EXPECT_NE(png, builtInVolumeIcon(kind == VolumeKind::Network ? VolumeKind::Removable : VolumeKind::Network));
    }
}

// Facts kept between refreshes go with the mount table: the volume list, devices and labels follow each
// change of mountinfo, also when another device is mounted where a known volume was.
TEST(LinuxVolumes, AMountChangeBetweenTwoRefreshesIsSeen) {
    const std::filesystem::path proc =
        std::filesystem::temp_directory_path() / ("volumes-test-" + std::to_string(::getpid()));
    std::filesystem::create_directories(proc / "self");
    std::stringstream original;
    original << std::ifstream(kDesktop + "/proc/self/mountinfo").rdbuf();
    const auto writeMounts = [&](const std::string& text) { std::ofstream(proc / "self/mountinfo") << text; };
    const auto without = [&](std::string text, const std::string& line) {
        return text.erase(text.find(line), line.size());
    };
    const std::string card = "46 26 8:81 / /mnt/card rw,relatime shared:190 - vfat /dev/sdf1 rw\n";
    const std::string stickOnCard = "30 29 8:17 / /mnt/card rw - vfat /dev/sdb1 rw\n";
    const std::string stick = original.str().substr(original.str().find("30 29 8:17"));
    const std::string noStick = without(original.str(), stick.substr(0, stick.find('\n') + 1));
    const std::tuple<std::string, bool, std::optional<std::string>, std::string> samples[] = {
        {original.str(), true, "/dev/sdf1", "card"},
        {without(original.str(), card), false, no, "card"},
        {without(noStick, card) + stickOnCard, true, "/dev/sdb1", "MY STICK"},
        {original.str(), true, "/dev/sdf1", "card"}};
    LinuxVolumesOptions options = desktop();
    options.roots.proc = proc.string();
    writeMounts(original.str());
    LinuxVolumes volumes(options);
    for (const auto& [mounts, listed, device, name] : samples) {
        writeMounts(mounts);
        const auto paths = volumes.mountedLocalVolumePaths();
        EXPECT_EQ(std::count(paths.begin(), paths.end(), "/mnt/card"), listed ? 1 : 0) << name;
        EXPECT_EQ(volumes.mountedFrom("/mnt/card"), device) << name;
        EXPECT_EQ(volumes.displayNameAtPath("/mnt/card"), name);
    }
    std::filesystem::remove_all(proc);
}

TEST(LinuxVolumesLive, RootSizesMatchDf) {
    auto volumes = makeLinuxVolumes(Roots{});
    EXPECT_EQ(volumes->volumeSizes("/nonexistent/velquette/volume"), no);
    const auto paths = volumes->mountedLocalVolumePaths();
    if (paths.empty() || paths.front() != "/") GTEST_SKIP() << "\"/\" is not a local block-device volume here";
    EXPECT_TRUE(volumes->mountedFrom("/").value_or("").starts_with("/dev/"));
    FILE* df = ::popen("df -kP / 2>/dev/null", "r");
    char line[512];
    unsigned long long totalKiB = 0, availableKiB = 0;
    const bool read = df && std::fgets(line, sizeof line, df) && std::fgets(line, sizeof line, df) &&
                      std::sscanf(line, "%*s %llu %*s %llu", &totalKiB, &availableKiB) == 2;
    if (df) ::pclose(df);
    const auto sizes = volumes->volumeSizes("/");
    ASSERT_TRUE(read && sizes) << "df -kP / not understood";
    EXPECT_NEAR(sizes->totalBytes / 1024.0, double(totalKiB), 0.01 * double(totalKiB));
    EXPECT_NEAR(sizes->freeBytes / 1024.0, double(availableKiB), 0.01 * double(totalKiB));
}

// On procfs the table is kept until the kernel flags a change on the reader's descriptor. A child in a
// mount namespace of its own hides the first volume under a tmpfs between two refreshes, then uncovers it;
// its exit status is the number of refreshes that answered wrong.
TEST(LinuxVolumesLive, AMountMadeBetweenTwoRefreshesIsSeen) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            ::_exit(100);
        auto volumes = makeLinuxVolumes(Roots{});
        const auto before = volumes->mountedLocalVolumePaths();
        if (before.empty()) ::_exit(101);
        const std::string first = before.front();
        const auto listed = [&] {
            const auto paths = volumes->mountedLocalVolumePaths();
            return std::find(paths.begin(), paths.end(), first) != paths.end();
        };
        int wrong = !listed();
        if (::mount("velquette-test", first.c_str(), "tmpfs", 0, "size=4k") != 0) ::_exit(102);
        wrong += listed() || volumes->mountedFrom(first) != "velquette-test";
        if (::umount2(first.c_str(), MNT_DETACH) != 0) ::_exit(103);
        wrong += !listed() || !volumes->mountedFrom(first).value_or("").starts_with("/dev/");
        ::_exit(wrong);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) >= 100) GTEST_SKIP() << "no private mount namespace or no volume here: " << WEXITSTATUS(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace vq::linux_platform
