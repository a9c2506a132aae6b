#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "miners/VQTDataMinerDisks.h"
#include "platform/sim/sim_machine.h"

namespace vq {
namespace {

namespace fs = std::filesystem;

TEST(SizeText, KilobytesToDisplayText) {
    struct Case {
        float kb;
        const char* text;
    } cases[] = {
        {0, "0KB"},           {512, "0KB"},           {1023, "0KB"},
        {1024, "1MB"},        {2048, "2MB"},          {1048575, "1023MB"},
        {1048576, "1.00GB"},  {1024.0f * 1001 * 1024, "0.98TB"},
        {2.5f * 1024 * 1024 * 1024, "2.50TB"},        // 2.5 TiB in use: past 32-bit kilobytes
        {2.0e15f, "0KB"},                             // past terabytes
    };
    for (const auto& c : cases) EXPECT_EQ(VQTDataMinerDisks::convertB(c.kb), c.text) << c.kb;
}

constexpr std::uint64_t GiB = 1ull << 30;

struct DisksMinerTest : ::testing::Test {
    fs::path home = [] {
        char pattern[] = "/tmp/velquette-disks-XXXXXX";
        return fs::path(::mkdtemp(pattern));
    }();
    std::shared_ptr<SimMachine> machine = std::make_shared<SimMachine>();

    DisksMinerTest() {
        fs::create_directories(home / "Library/Application Support");
        machine->home = home.string();
        machine->volumes = {{"/", "/dev/disk0s2", "Macintosh HD", 100 * GiB, 49 * GiB + GiB / 10}};
    }
    ~DisksMinerTest() override { fs::remove_all(home); }

    std::unique_ptr<VQTDataMinerDisks> create() {
        return std::make_unique<VQTDataMinerDisks>(machine, machine, makeSimPlatform(machine).files);
    }
    fs::path cache() const { return home / "Library/Application Support/Brackwell/Parquell"; }

    static std::vector<std::string> paths(const Value& data) {
        std::vector<std::string> out;
        for (const auto& v : data) out.push_back(v[4]);
        return out;
    }
    // A registry with one whole medium per {name, classes, interconnect}.
    void registry(std::vector<std::tuple<std::string, std::vector<std::string>, std::string>> media) {
        std::vector<RegistryEntry> entries;
        RegistryEntryId id = 1;
        for (auto& [name, classes, interconnect] : media) {
            RegistryEntry drive{id++, {"IOBlockStorageDriver"}, "drive", Value::object(), std::nullopt};
            if (!interconnect.empty())
                drive.properties["Protocol Characteristics"] = {{"Physical Interconnect", interconnect}};
            RegistryEntry medium{id++, classes, name, {{"BSD Name", name}, {"Whole", true}}, drive.id};
            entries.push_back(drive);
            entries.push_back(medium);
        }
        machine->registry.emplace(std::move(entries));
    }
};

TEST_F(DisksMinerTest, StartupVolumeAlone) {
    auto miner = create();  // creation already lists the volumes
    const Value& data = miner->getDataSet();
    ASSERT_EQ(data.size(), 1u);
    EXPECT_EQ(data[0][0], "Macintosh HD");
    EXPECT_EQ(data[0][1], 50);  // 50.9 % full
    EXPECT_EQ(data[0][2], "50.90GB");
    EXPECT_EQ(data[0][3], "49.10GB");
    EXPECT_EQ(data[0][4], "/");
    EXPECT_EQ(data[0][5], cache().string() + "//Macintosh HD.png");
    EXPECT_TRUE(fs::exists(cache() / "Macintosh HD.png"));
}

TEST_F(DisksMinerTest, FiltersByVolumeRootAndDriveType) {
    machine->volumes.push_back({"/Volumes/Image", "/dev/disk1s1", "", 10 * GiB, GiB});
    machine->volumes.push_back({"/Volumes/Film", "/dev/disk2", "", 4 * GiB, 0});
    machine->volumes.push_back({"/Volumes/iDisk", "/dev/disk3s1", "", 4 * GiB, GiB});
    machine->volumes.push_back({"/opt/local", "/dev/disk0s3", "", 4 * GiB, GiB});
    machine->volumes.push_back({"/Volumes/Stick", "/dev/disk4s1", "", 4 * GiB, 3 * GiB});
    machine->volumes.push_back({"/Volumes/Music", "/dev/disk5s2", "", 4 * GiB, 3 * GiB});
    registry({{"disk0", {"IOMedia"}, "ATA"},
              {"disk1", {"IOMedia"}, "Virtual Interface"},
              {"disk2", {"IODVDMedia", "IOMedia"}, "ATAPI"},
              {"disk3", {"IOMedia"}, "Virtual Interface"},
              {"disk4", {"IOMedia"}, "USB"},
              {"disk5", {"IOCDMedia", "IOMedia"}, ""}});
    auto miner = create();
    EXPECT_EQ(miner->getDriveTypes().at("disk2"), "DVD");
    EXPECT_EQ(miner->getDriveTypes().at("disk5"), "CD");
    EXPECT_EQ(paths(miner->getDataSet()), (std::vector<std::string>{"/", "/Volumes/iDisk", "/Volumes/Stick"}));
}

TEST_F(DisksMinerTest, FirstLiveMountIsAlwaysConsidered) {
    machine->volumes = {{"/", "/dev/disk0s2", "Gone", GiB, 0, true},  // statfs fails: not the first
                        {"/srv", "/dev/disk1s1", "", GiB, 0},
                        {"/home", "/dev/disk2s1", "", GiB, 0},
                        {"/Volumes/Size", "/dev/disk3s1", "", 0, 0, false, true},
                        {"/Volumes/Unknown", "/dev/disk4s1", "", (0x7FFFFFFFull << 10) + 1023, 0},
                        {"/Volumes/Empty", "/dev/disk5s1", "", 0, 0}};
    auto miner = create();
    const Value& data = miner->getDataSet();
    EXPECT_EQ(paths(data), (std::vector<std::string>{"/srv", "/Volumes/Empty"}));
    EXPECT_EQ(data[1][1], 0);  // a total of 0 is 0 % full
}

TEST_F(DisksMinerTest, WholeDiskKeys) {
    auto miner = create();
    EXPECT_EQ(miner->diskKey("/dev/disk2"), "disk2");
    EXPECT_EQ(miner->diskKey("/dev/disk2s3"), "disk2");
    EXPECT_EQ(miner->diskKey("/dev/disk12s10"), "disk12");
    EXPECT_EQ(miner->diskKey("/dev/disk"), "disk");
    EXPECT_EQ(miner->diskKey("/dev/diskette"), "diskette");  // no slice separator after "disk"
    EXPECT_EQ(miner->diskKey("/dev/disks1"), "disk");
    EXPECT_EQ(miner->diskKey("fdesc"), "fdesc");
}

TEST_F(DisksMinerTest, SameDisplayNameSharesOneIconAndCacheStartsEmpty) {
    machine->volumes.push_back({"/Volumes/Backup", "/dev/disk1s1", "Backup", GiB, 0});
    machine->volumes.push_back({"/Volumes/Backup 1", "/dev/disk2s1", "Backup", GiB, 0});
    machine->volumes.push_back({"/Volumes/Odd", "/dev/disk3s1", "a/../b", GiB, 0});
    auto miner = create();
    const Value& data = miner->getDataSet();
    EXPECT_EQ(data[1][5], data[2][5]);
    EXPECT_FALSE(fs::exists(home / "Library/Application Support/Brackwell/b.png"));
    EXPECT_TRUE(fs::exists(cache() / "a:..:b.png"));

    // A file another program keeps in the shared folder survives a restart;
    // our own icons are written afresh.
    std::ofstream(cache() / "Foreign.tiff") << "not ours";
    std::ofstream(cache() / "Backup.png") << "stale";
    miner = create();
    EXPECT_TRUE(fs::exists(cache() / "Foreign.tiff"));
    EXPECT_EQ(fs::file_size(cache() / "Backup.png"), machine->iconForVolume("/")->size());
    EXPECT_TRUE(fs::exists(cache() / "Macintosh HD.png"));
}

TEST_F(DisksMinerTest, RegistryChangesReachTheFilterOnlyThroughFindDrives) {
    machine->volumes.push_back({"/Volumes/Stick", "/dev/disk4s1", "", GiB, 0});
    auto miner = create();  // no registry: every volume is listed
    EXPECT_EQ(miner->getDataSet().size(), 2u);
    registry({{"disk4", {"IOMedia"}, "Virtual Interface"}});
    miner->update();
    EXPECT_EQ(miner->getDataSet().size(), 2u);
    miner->findDrives();
    miner->update();
    EXPECT_EQ(miner->getDataSet().size(), 1u);
    // A drive that stops naming its interconnect loses its type.
    registry({{"disk4", {"IOMedia"}, ""}});
    miner->findDrives();
    EXPECT_EQ(miner->getDriveTypes().count("disk4"), 0u);
}

}  // namespace
}  // namespace vq
