// The disk part of the hardware registry: udev records, drive kinds, and the
// registry synthesized from fixture trees and from the running machine.
#include <gtest/gtest.h>

#include <map>

#include "platform/linux/block_devices.h"
#include "platform/linux/linux_io_registry.h"
#include "platform/linux/linux_storage.h"
#include "platform/linux/udev_database.h"

namespace vq::linux_platform {
namespace {

const std::string kDesktop = VELQUETTE_FIXTURES "/linux/storage-desktop";

TEST(UdevDatabase, PropertyLinesOnly) {
    const UdevProperties properties = parseUdevDatabase(
        "S:disk/by-id/usb-Stick\n"
        "L:0\n"
        "I:1745000000\n"
        "E:ID_BUS=usb\n"
        "E:ID_PATH=pci-0000:00:14.0-usb-0:1:1.0-scsi-0:0:0:0\n"
        "E:ID_MODEL=Cruzer Blade\n"
        "E:ID_FS_LABEL_ENC=A\\x3dB\n"
        "E:EMPTY=\n"
        "E:=no key\n"
        "E:NO_EQUALS\n"
        "E:ID_BUS=usb-again\n"
        "G:systemd\n"
        "E:LAST=x");
    const UdevProperties expected = {{"ID_BUS", "usb-again"},
                                     {"ID_PATH", "pci-0000:00:14.0-usb-0:1:1.0-scsi-0:0:0:0"},
                                     {"ID_MODEL", "Cruzer Blade"},
                                     {"ID_FS_LABEL_ENC", "A\\x3dB"},
                                     {"EMPTY", ""},
                                     {"LAST", "x"}};
    EXPECT_EQ(properties, expected);
    EXPECT_TRUE(parseUdevDatabase("").empty());
}

TEST(UdevDatabase, LabelsAreDecoded) {
    struct Case {
        UdevProperties properties;
        std::optional<std::string> label;
    } cases[] = {
        {{{"ID_FS_LABEL", "MY_STICK"}, {"ID_FS_LABEL_ENC", "MY\\x20STICK"}}, "MY STICK"},
        {{{"ID_FS_LABEL", "Data"}}, "Data"},
        {{{"ID_FS_LABEL_ENC", "caf\\xc3\\xa9\\x2fx"}}, "caf\xc3\xa9/x"},
        {{{"ID_FS_LABEL_ENC", "odd\\x2"}}, "odd\\x2"},
        {{{"ID_FS_LABEL_ENC", "bad\\xzz"}}, "bad\\xzz"},
        {{{"ID_FS_LABEL", ""}, {"ID_FS_LABEL_ENC", ""}}, std::nullopt},
        {{{"ID_FS_TYPE", "ext4"}}, std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(fileSystemLabel(c.properties), c.label);
}

TEST(BlockDevices, DeviceNumbers) {
    struct Case {
        const char* text;
        std::optional<DeviceNumber> number;
    } cases[] = {{"8:1\n", DeviceNumber{8, 1}}, {"259:12", DeviceNumber{259, 12}},
                 {"8:", std::nullopt},          {"8", std::nullopt},
                 {"a:1", std::nullopt},         {"", std::nullopt}};
    for (const auto& c : cases) EXPECT_EQ(parseDeviceNumber(c.text), c.number) << c.text;
    EXPECT_EQ(blockDeviceName(kDesktop + "/sys", {8, 17}), "sdb1");
    EXPECT_EQ(blockDeviceName(kDesktop + "/sys", {8, 99}), std::nullopt);
    EXPECT_EQ(blockDeviceNumber(kDesktop + "/sys", "nvme0n1p2"), (DeviceNumber{259, 2}));
    EXPECT_EQ(blockDeviceNumber(kDesktop + "/sys", "../block/sda"), std::nullopt);
}

DriveFacts facts(std::string name, std::string devicePath, std::optional<UdevProperties> udev = std::nullopt,
                 std::optional<int> scsiType = std::nullopt, bool loop = false) {
    DriveFacts f;
    f.name = std::move(name);
    f.devicePath = std::move(devicePath);
    f.udev = std::move(udev);
    f.scsiType = scsiType;
    f.hasLoopBacking = loop;
    return f;
}

const std::string kAta = "devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0/block/sda";
const std::string kUsb = "devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0/block/sdb";
const std::string kScsi = "devices/pci0000:00/0000:00:10.0/host2/target2:0:0/2:0:0:0/block/sdc";

TEST(DriveKinds, PhysicalInterconnect) {
    struct Case {
        const char* name;
        DriveFacts facts;
        std::optional<std::string> bus;
    } cases[] = {
        {"udev ata", facts("sda", kScsi, UdevProperties{{"ID_BUS", "ata"}}), "ATA"},
        {"udev usb", facts("sdb", kScsi, UdevProperties{{"ID_BUS", "usb"}}), "USB"},
        {"udev scsi", facts("sdc", kAta, UdevProperties{{"ID_BUS", "scsi"}}), "SCSI"},
        {"udev firewire", facts("sdc", kScsi, UdevProperties{{"ID_BUS", "ieee1394"}}), "FireWire"},
        {"USB-SATA bridge: ata but a usb path",
         facts("sdc", kScsi,
               UdevProperties{{"ID_BUS", "ata"}, {"ID_PATH", "pci-0000:00:14.0-usb-0:2:1.0-scsi-0:0:0:0"}}),
         "USB"},
        {"USB-SATA bridge: ata but hangs from a usb hub", facts("sdc", kUsb, UdevProperties{{"ID_BUS", "ata"}}), "USB"},
        {"no udev: usb hub in the path", facts("sdb", kUsb), "USB"},
        {"no udev: libata port in the path", facts("sda", kAta), "ATA"},
        {"no udev: plain SCSI host", facts("sdc", kScsi), std::nullopt},
        {"bound loop device", facts("loop0", "devices/virtual/block/loop0", std::nullopt, std::nullopt, true),
         "Virtual Interface"},
        {"unbound loop device", facts("loop7", "devices/virtual/block/loop7"), "Virtual Interface"},
        // udev's word on the bus is more particular than the device name.
        {"loop device udev calls usb", facts("loop3", "devices/virtual/block/loop3", UdevProperties{{"ID_BUS", "usb"}}),
         "USB"},
        {"nvme by name", facts("nvme0n1", ""), "NVMe"},
        {"nvme by path", facts("disk0", "devices/pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0/nvme0n1"), "NVMe"},
        {"virtio by path", facts("vda", "devices/pci0000:00/0000:00:02.0/virtio1/block/vda"), "Virtio"},
        {"virtio by name", facts("vdb", ""), "Virtio"},
        {"virtio-scsi disk",
         facts("sda", "devices/pci0000:00/0000:00:03.0/virtio2/host0/target0:0:0/0:0:0:0/block/sda"), "Virtio"},
        {"sd card by path", facts("mmcblk0", "devices/platform/soc/mmc_host/mmc0/mmc0:0001/block/mmcblk0"), "SD"},
        {"sd card by name", facts("mmcblk1", ""), "SD"},
        {"device mapper", facts("dm-0", "devices/virtual/block/dm-0"), std::nullopt},
        {"unknown udev bus", facts("sdx", kScsi, UdevProperties{{"ID_BUS", "cciss"}}), std::nullopt},
        {"looplike names are not loops", facts("loopback", ""), std::nullopt},
        {"vd alone is no virtio disk", facts("vd", ""), std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(physicalInterconnect(c.facts), c.bus) << c.name;
}

TEST(DriveKinds, OpticalMedium) {
    struct Case {
        const char* name;
        DriveFacts facts;
        OpticalMedium medium;
    } cases[] = {
        {"DVD-ROM", facts("sr0", kAta, UdevProperties{{"ID_CDROM", "1"}, {"ID_CDROM_MEDIA_DVD", "1"}}),
         OpticalMedium::DVD},
        {"DVD+R", facts("sr0", kAta, UdevProperties{{"ID_CDROM_MEDIA_DVD_PLUS_R", "1"}}), OpticalMedium::DVD},
        {"Blu-ray", facts("sr0", kAta, UdevProperties{{"ID_CDROM_MEDIA_BD_R", "1"}}), OpticalMedium::DVD},
        {"HD DVD", facts("sr0", kAta, UdevProperties{{"ID_CDROM_MEDIA_HDDVD", "1"}}), OpticalMedium::DVD},
        {"CD-R", facts("sr0", kAta, UdevProperties{{"ID_CDROM_MEDIA_CD_R", "1"}, {"ID_CDROM_MEDIA_DVD", "0"}}),
         OpticalMedium::CD},
        {"empty drive", facts("sr0", kAta, UdevProperties{{"ID_CDROM", "1"}, {"ID_CDROM_DVD", "1"}}),
         OpticalMedium::CD},
        {"drive flags are not media", facts("sdq", kAta, UdevProperties{{"ID_CDROM_DVD", "1"}, {"ID_CDROM", "1"}}),
         OpticalMedium::CD},
        {"no udev: peripheral type 5", facts("sdq", kAta, std::nullopt, 5), OpticalMedium::CD},
        {"no udev: sr name", facts("sr1", kAta), OpticalMedium::CD},
        {"disk", facts("sda", kAta, UdevProperties{{"ID_BUS", "ata"}}, 0), OpticalMedium::None},
        {"srx is no sr device", facts("srx", kAta), OpticalMedium::None},
    };
    for (const auto& c : cases) EXPECT_EQ(opticalMedium(c.facts), c.medium) << c.name;
}

// What the volume miner's callback makes of the registry: "CD", "DVD", the
// interconnect, or "" when nothing would be recorded.
std::map<std::string, std::string> driveTypes(IORegistry& registry) {
    std::map<std::string, std::string> types;
    const auto media = registry.matchingServices("IOMedia", {{"Whole", true}});
    if (!media) return types;
    for (RegistryEntryId id : *media) {
        const auto properties = registry.properties(id);
        if (!properties || !properties->contains("BSD Name")) continue;
        const std::string name = (*properties)["BSD Name"];
        if (registry.conformsTo(id, "IOCDMedia"))
            types[name] = "CD";
        else if (registry.conformsTo(id, "IODVDMedia"))
            types[name] = "DVD";
        else if (auto characteristics = registry.searchProperty(id, "Protocol Characteristics"))
            types[name] = characteristics->value("Physical Interconnect", "");
    }
    return types;
}

TEST(LinuxIORegistry, DrivesOfTheDesktopFixture) {
    LinuxIORegistry withUdev(Roots{kDesktop + "/proc", kDesktop + "/sys", kDesktop + "/udev"});
    const std::map<std::string, std::string> expectedWithUdev = {
        {"dm-0", ""},
        {"loop0", "Virtual Interface"},
        {"loop1", "Virtual Interface"},
        {"mmcblk0", "SD"},
        {"nvme0n1", "NVMe"},
        {"sda", "ATA"},
        {"sdb", "USB"},
        {"sdc", "USB"},
        {"sdd", "ATA"},
        {"sdf", "ATA"},
        {"sr0", "DVD"},
        {"sr1", "CD"},
        {"vda", "Virtio"},
    };
    EXPECT_EQ(driveTypes(withUdev), expectedWithUdev);

    // A container: no udev database, so sr0's DVD shows as a CD.
    LinuxIORegistry container(Roots{kDesktop + "/proc", kDesktop + "/sys", "/nonexistent-udev"});
    auto expectedWithoutUdev = expectedWithUdev;
    expectedWithoutUdev["sr0"] = "CD";
    EXPECT_EQ(driveTypes(container), expectedWithoutUdev);
}

TEST(LinuxIORegistry, EntriesAndTheirParents) {
    LinuxIORegistry registry(Roots{kDesktop + "/proc", kDesktop + "/sys", kDesktop + "/udev"});
    const auto media = registry.matchingServices("IOMedia", {{"Whole", true}});
    ASSERT_TRUE(media);
    EXPECT_EQ(media->size(), 13u);  // every disk but zram0
    EXPECT_EQ(registry.matchingServices("IOMedia", {{"Whole", false}})->size(), 0u);
    EXPECT_EQ(registry.matchingServices("IODVDMedia", nlohmann::json::object())->size(), 1u);
    EXPECT_EQ(registry.matchingServices("IOCDMedia", nlohmann::json::object())->size(), 1u);
    const auto drives = registry.matchingServicesByName("IOBlockStorageDriver");
    ASSERT_TRUE(drives);
    EXPECT_EQ(drives->size(), 13u);

    const auto sda = registry.matchingServices("IOMedia", {{"BSD Name", "sda"}});
    ASSERT_TRUE(sda);
    ASSERT_EQ(sda->size(), 1u);
    const RegistryEntryId id = sda->front();
    EXPECT_EQ(registry.properties(id), (nlohmann::json{{"BSD Name", "sda"}, {"Whole", true}}));
    EXPECT_FALSE(registry.conformsTo(id, "IOCDMedia"));
    // The drive's dictionary is found from the medium by the upward search;
    // the medium's own keys are found on the medium.
    EXPECT_EQ(registry.searchProperty(id, "Protocol Characteristics"),
              (nlohmann::json{{"Physical Interconnect", "ATA"}}));
    EXPECT_EQ(registry.searchProperty(id, "BSD Name"), "sda");
    EXPECT_EQ(registry.searchProperty(id, "No Such Key"), std::nullopt);

    // Ids follow the device number, so a second reading keeps them.
    const auto again = registry.matchingServices("IOMedia", {{"BSD Name", "sda"}});
    ASSERT_TRUE(again);
    EXPECT_EQ(*again, *sda);
    EXPECT_EQ(registry.properties(987654321), std::nullopt);
    EXPECT_FALSE(registry.conformsTo(987654321, "IOMedia"));

    // A drive that nothing identifies has the dictionary without the key.
    const auto dm = registry.matchingServices("IOMedia", {{"BSD Name", "dm-0"}});
    ASSERT_TRUE(dm && dm->size() == 1);
    EXPECT_EQ(registry.searchProperty(dm->front(), "Protocol Characteristics"), nlohmann::json::object());
}

TEST(LinuxIORegistry, UnreadableSysfsFailsTheMatch) {
    LinuxIORegistry registry(Roots{"/nonexistent", "/nonexistent-sys", "/nonexistent"});
    EXPECT_EQ(registry.matchingServices("IOMedia", {{"Whole", true}}), std::nullopt);
    EXPECT_EQ(registry.matchingServicesByName("IOBlockStorageDriver"), std::nullopt);
    EXPECT_EQ(registry.properties(2), std::nullopt);
}

TEST(LinuxIORegistryLive, RunningMachine) {
    auto registry = makeLinuxIORegistry(Roots::fromEnvironment());
    const auto types = driveTypes(*registry);
    if (types.empty()) GTEST_SKIP() << "no block devices visible";
    for (const auto& [name, type] : types) {
        EXPECT_NE(name.rfind("zram", 0), 0u) << name;
        if (name.rfind("loop", 0) == 0) {
            EXPECT_EQ(type, "Virtual Interface") << name;
        } else if (name.rfind("vd", 0) == 0) {
            EXPECT_EQ(type, "Virtio") << name;
        } else if (name.rfind("nvme", 0) == 0) {
            EXPECT_EQ(type, "NVMe") << name;
        }
    }
}

}  // namespace
}  // namespace vq::linux_platform
