#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "bridge/Velquette.h"
#include "platform/sim/sim_machine.h"

namespace vq {
namespace {

namespace fs = std::filesystem;

struct TempHome {
    fs::path path;
    TempHome() {
        char pattern[] = "/tmp/velquette-home-XXXXXX";
        path = ::mkdtemp(pattern);
    }
    ~TempHome() { fs::remove_all(path); }
};

struct BridgeTest : ::testing::Test {
    TempHome home;
    std::shared_ptr<SimMachine> machine = [] {
        auto m = std::make_shared<SimMachine>();
        m->tickSamples = {{{0, 0, 0, 0}}, {{25, 25, 50, 0}}};
        m->boot = BootTime{1000, 0};
        m->clockSamples = {1000 + 90061};
        m->loadRecord = LoadAverageRecord{{65536, 0, 0}, 65536};
        m->taskCounts = TaskCounts{3, 4};
        return m;
    }();

    std::unique_ptr<Velquette> create() {
        machine->home = home.path.string();
        fs::create_directories(home.path / "Library/Application Support");
        return std::make_unique<Velquette>(makeSimPlatform(machine));
    }
    fs::path supportFolder() const { return home.path / "Library/Application Support/Brackwell"; }
};

TEST_F(BridgeTest, ForwardsProcessorCallsToTheMiner) {
    auto object = create();
    EXPECT_EQ(object->cpuUsage(), Value::parse("[[25, 25, 0, 50, 50], [[50, 25.0, 25.0, 0.0]]]"));
    EXPECT_EQ(object->uptime(), "1d 1h 1m");
    EXPECT_EQ(object->load(), "1.00, 0.00, 0.00");
    EXPECT_EQ(object->processinfo(), "3 tasks, 4 threads");
}

TEST_F(BridgeTest, NetworkFlagAnswersTrueOnceAfterCreationAndAfterChanges) {
    auto object = create();
    EXPECT_TRUE(object->hasNetworkSetupChanged());
    EXPECT_FALSE(object->hasNetworkSetupChanged());
    machine->fireNetworkChange();
    machine->fireNetworkChange();  // two changes between polls collapse into one
    EXPECT_TRUE(object->hasNetworkSetupChanged());
    EXPECT_FALSE(object->hasNetworkSetupChanged());
    EXPECT_EQ(updateList, 0);
}

TEST_F(BridgeTest, NetworkRowsAppearAfterTheFlagAsksForARebuild) {
    machine->dynamicStore = Value::parse(R"({
        "Setup:/Network/Global/IPv4": {"ServiceOrder": ["s"]},
        "Setup:/Network/Service/s/Interface": {"DeviceName": "eth0"},
        "State:/Network/Interface/eth0/IPv4": {"Addresses": ["192.0.2.1"]}})");
    machine->interfaceSamples = {{{"eth0", true, false, 1 << 20, 1 << 21}}};
    auto object = create();
    EXPECT_EQ(object->network(), Value::array());
    EXPECT_TRUE(object->hasNetworkSetupChanged());
    EXPECT_EQ(object->network(),
              Value::parse(R"([["eth0", "Ethernet", "192.0.2.1", "0kb/s", "0kb/s", "1mb", "2mb"]])"));
}

TEST_F(BridgeTest, CreationGoesOnWithoutNetworkNotifications) {
    machine->networkNotifierFails = true;
    auto object = create();
    EXPECT_EQ(object->processinfo(), "3 tasks, 4 threads");
    EXPECT_TRUE(object->hasNetworkSetupChanged());  // only the initial report
    machine->fireNetworkChange();
    EXPECT_FALSE(object->hasNetworkSetupChanged());
}

TEST_F(BridgeTest, DiskFlagCollapsesMountsBetweenPolls) {
    auto object = create();
    EXPECT_FALSE(object->hasDiskSetupChanged());
    machine->fireMountChange();
    machine->fireMountChange();
    EXPECT_TRUE(object->hasDiskSetupChanged());
    EXPECT_FALSE(object->hasDiskSetupChanged());
}

TEST_F(BridgeTest, MountRebuildsDriveTypesAtOnceAndVolumesAtTheNextCall) {
    machine->volumes = {{"/", "/dev/disk0s2", "HD", 1 << 30, 1 << 29}};
    machine->vmSamples = {{256, 256, 256, 256, 0, 0}};
    auto object = create();
    EXPECT_EQ(object->diskUsage().size(), 1u);
    EXPECT_EQ(object->memoryUsage()[0], "1mb");

    machine->volumes.push_back({"/Volumes/Image", "/dev/disk1s1", "Image", 1 << 30, 0});
    machine->registry.emplace(std::vector<RegistryEntry>{
        {1, {"IOMedia"}, "m", {{"BSD Name", "disk1"}, {"Whole", true},
                               {"Protocol Characteristics", {{"Physical Interconnect", "Virtual Interface"}}}},
         std::nullopt}});
    EXPECT_EQ(object->disks().getDriveTypes().count("disk1"), 0u);
    machine->fireMountChange();
    EXPECT_EQ(object->disks().getDriveTypes().at("disk1"), "Virtual Interface");
    EXPECT_TRUE(object->hasDiskSetupChanged());
    EXPECT_EQ(object->diskUsage().size(), 1u);  // the image stays out
}

TEST_F(BridgeTest, OnlyOneSwitchesSMARTMonitoringOn) {
    auto object = create();
    EXPECT_FALSE(object->isSMARTMonitoringEnabled());
    for (int value : {2, 0, -1, 100}) {
        object->setShouldMonitorSMARTTemps(value);
        EXPECT_FALSE(object->isSMARTMonitoringEnabled()) << value;
    }
    object->setShouldMonitorSMARTTemps(1);
    EXPECT_TRUE(object->isSMARTMonitoringEnabled());
    object->setShouldMonitorSMARTTemps(0);
    EXPECT_FALSE(object->isSMARTMonitoringEnabled());
    EXPECT_TRUE(object->needsSMARTUpdate());
}

TEST_F(BridgeTest, ModuleArrivalIsRecordedAndObservationEndsWithTheObject) {
    const std::size_t before = machine->observerCount();
    auto object = create();
    EXPECT_FALSE(object->wasIntelModuleInstalled());
    machine->post(kModuleAvailableNotification);
    EXPECT_TRUE(object->isModuleInstalled());
    EXPECT_TRUE(object->wasIntelModuleInstalled());
    object.reset();
    // Only the process-wide network session stays.
    EXPECT_EQ(machine->observerCount(), before + 1);
    machine->post(kModuleAvailableNotification);  // must reach nothing
    machine->fireMountChange();
}

TEST_F(BridgeTest, CreatesTheSupportAndIconFolders) {
    auto object = create();
    EXPECT_TRUE(fs::is_directory(supportFolder()));
    EXPECT_TRUE(fs::is_directory(supportFolder() / "ProcessesIconCache"));
    EXPECT_EQ(object->iconDirectory(), (supportFolder() / "ProcessesIconCache").string() + "/");

    // Existing folders and their contents are left as they are.
    std::ofstream(supportFolder() / "ProcessesIconCache" / "kept.png") << "x";
    object = create();
    EXPECT_TRUE(fs::exists(supportFolder() / "ProcessesIconCache" / "kept.png"));
}

TEST_F(BridgeTest, MissingParentFolderIsNotCreatedAndCreationStillSucceeds) {
    // Intermediate folders are never created: without "Library" nothing is made.
    machine->home = (home.path / "elsewhere").string();
    Velquette second(makeSimPlatform(machine));
    EXPECT_FALSE(fs::exists(home.path / "elsewhere"));
    EXPECT_EQ(second.processinfo(), "3 tasks, 4 threads");
}

TEST_F(BridgeTest, PutsItselfOnTheWindowUnderItsName) {
    struct Window : WindowScriptObject {
        std::string key;
        Velquette* value = nullptr;
        void setValue(Velquette* v, const std::string& k) override {
            value = v;
            key = k;
        }
    } window;
    auto object = create();
    object->windowScriptObjectAvailable(window);
    EXPECT_EQ(window.key, "Velquette");
    EXPECT_EQ(window.value, object.get());
}

}  // namespace
}  // namespace vq
