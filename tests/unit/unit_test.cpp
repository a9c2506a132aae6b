#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "bridge/Velquette.h"
#include "bridge/script_table.h"
#include "miners/VQTDataMinerCPU.h"
#include "miners/VQTDataMinerDisks.h"
#include "miners/VQTDataMinerMemory.h"
#include "miners/VQTDataMinerNetwork.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_smc.h"

namespace vq {
namespace {

namespace fs = std::filesystem;

std::shared_ptr<SimMachine> machineFile(const char* name) {
    return loadSimMachine(nlohmann::json::parse(std::ifstream(std::string(VELQUETTE_FIXTURES) + "/machines/" + name)));
}

// A machine file with its home in a fresh temporary folder.
struct HomeTest : ::testing::Test {
    explicit HomeTest(const char* file = "session.json") : machine(machineFile(file)) {
        machine->home = home.string();
        fs::create_directories(home / "Library/Application Support");
    }
    ~HomeTest() override { fs::remove_all(home); }
    fs::path home = fs::path(::mkdtemp(std::string("/tmp/velquette-home-XXXXXX").data()));
    fs::path support = home / "Library/Application Support/Brackwell";
    std::shared_ptr<SimMachine> machine;
};

TEST(CpuMiner, DataSetOfEachInterval) {
    constexpr std::uint32_t top = 0xFFFFFF00u;
    const std::tuple<const char*, std::vector<std::vector<ProcessorTicks>>, std::vector<const char*>> cases[] = {
        // {user, system, idle, nice} per processor in each sample, the first read at creation (unless the name
        // says otherwise); the data set after each other sample
        {"shares are floats, the summary truncates after each addition",
         {{{0, 0, 0, 0}, {0, 0, 0, 0}}, {{207, 116, 677, 0}, {100, 106, 794, 0}}},
         {"[[10,15,0,75,25],[[32,11.59999942779541,20.700000762939453,0.0],[20,10.59999942779541,10.0,0.0]]]"}},
        {"one processor", {{{0, 0, 0, 0}}, {{337, 129, 500, 34}}},
         {"[[12,33,3,52,48],[[50,12.899999618530273,33.70000076293945,3.4000000953674316]]]"}},
        {"unsigned 32-bit ticks wrap", {{{top, top, top, 0}}, {{top + 500u, top + 250u, top + 250u, 0}}},
         {"[[25,50,0,25,75],[[75,25.0,50.0,0.0]]]"}},
        {"no elapsed tick is no load", {{{5, 5, 5, 5}, {1, 1, 1, 1}}, {{5, 5, 5, 5}, {101, 1, 1, 1}}},
         {"[[0,50,0,50,50],[[0,0.0,0.0,0.0],[100,0.0,100.0,0.0]]]"}},
        {"processors that appear are idle until their next sample; the table follows the count",
         {{{0, 0, 0, 0}},
          {{0, 0, 100, 0}, {50, 50, 0, 0}, {10, 0, 0, 0}},
          {{0, 0, 200, 0}, {150, 50, 0, 0}, {20, 0, 0, 0}},
          {{100, 0, 200, 0}}},
         {"[[0,0,0,100,0],[[0,0.0,0.0,0.0],[0,0.0,0.0,0.0],[0,0.0,0.0,0.0]]]",
          "[[0,66,0,34,66],[[0,0.0,0.0,0.0],[100,0.0,100.0,0.0],[100,0.0,100.0,0.0]]]",
          "[[0,100,0,0,100],[[100,0.0,100.0,0.0]]]"}},
        {"unreadable at creation", {{{10, 10, 10, 10}}, {{20, 10, 10, 10}}},
         {"[[0,0,0,100,0],[[0,0.0,0.0,0.0]]]", "[[0,100,0,0,100],[[100,0.0,100.0,0.0]]]"}},
    };
    for (const auto& [name, samples, expected] : cases) {
        SCOPED_TRACE(name);
        auto machine = std::make_shared<SimMachine>();
        if (name != std::string("unreadable at creation")) machine->tickSamples = samples;
        VQTDataMinerCPU miner(machine, machine);
        machine->tickSamples = samples;
        for (const char* dataSet : expected) {
            miner.mineData();
            EXPECT_EQ(miner.getDataSet().dump(), dataSet);
        }
        EXPECT_EQ(miner.getProcessors(), static_cast<int>(samples.back().size()));
        machine->tickSamples.clear();  // a failed read keeps the data set
        miner.mineData();
        EXPECT_EQ(miner.getDataSet().dump(), expected.back());
    }
}

// The usual texts are checked through the bridge on session.json.
TEST(CpuMiner, LoadTasksAndUptimeTextsAtTheirEdges) {
    auto machine = std::make_shared<SimMachine>();
    VQTDataMinerCPU miner(machine, machine);
    EXPECT_EQ(miner.getLoad() + miner.processInfo() + miner.getUptime(), "");  // nothing readable
    machine->loadRecord = LoadAverageRecord{{2048 * 3 + 1, 0, 2048 * 100}, 2048};
    EXPECT_EQ(miner.getLoad(), "3.00, 0.00, 100.00");
    machine->loadRecord = LoadAverageRecord{{1, 1, 1}, 0};  // no scale: nothing sensible to show
    EXPECT_EQ(miner.getLoad(), "");
    machine->boot = BootTime{0, 5};
    EXPECT_EQ(miner.getUptime(), "");
    machine->boot = BootTime{1'700'000'000, 0};
    machine->clockSamples = {1'700'000'000 + 400 * 86400 + 23 * 3600 + 59 * 60 + 59};
    EXPECT_EQ(miner.getUptime(), "400d 23h 59m");
}

TEST(MemoryMiner, MegabyteAndPageCountTexts) {
    const std::tuple<float, const char*, const char*> cases[] = {
        {0, "0mb", "0mb"},          {999.6f, "1000mb", "1000mb"},   {1000, "1000mb", "1000mb"},
        {1001, "0.98gb", "1.0gb"},  {1536, "1.50gb", "1.5gb"},      {1048576, "1.00tb", "1.0tb"},
        {4.0e9f, "3814.70tb", "3814.7tb"},  // past the last unit: stays in terabytes
    };
    for (const auto& [mb, text, swapText] : cases) {
        EXPECT_EQ(VQTDataMinerMemory::convertM(mb), text) << mb;
        EXPECT_EQ(VQTDataMinerMemory::convertSwap(mb), swapText) << mb;
    }
    const std::pair<std::uint32_t, const char*> pages[] = {
        {0, "0"},           {999, "999"},         {1000, "1,000"},      {65536, "65,536"},
        {999999, "999,999"}, {1000000, "1.0mil"}, {2500000, "2.5mil"}, {4294967295u, "4295.0mil"}};
    for (const auto& [count, text] : pages) EXPECT_EQ(VQTDataMinerMemory::formatPageCount(count), text) << count;
}

TEST(MemoryMiner, TwelveElementsAgainstOneTotal) {
    // 256 pages make a megabyte; used is active + wired.
    const std::tuple<VmStatistics, std::optional<std::uint64_t>, const char*> cases[] = {
        // free, active, inactive, wired, page-ins, page-outs; swap bytes; the data set
        {{1000 * 256, 2048 * 256, 512 * 256, 440 * 256, 999999, 0}, 1536ull << 20,
         R"(["1000mb","2.43gb","2.00gb","512mb","440mb",62.19999694824219,"999,999","0","1.48gb","1.5gb",11.0,)"
         R"(51.20000076293945])"},
        {{255, 256, 511, 0, 0, 0}, 0, R"(["0mb","1mb","1mb","1mb","0mb",50.0,"0","0","1mb","0mb",0.0,50.0])"},
        {{}, std::nullopt, R"(["0mb","0mb","0mb","0mb","0mb",0.0,"0","0","0mb","0mb",0.0,0.0])"},  // a total of 0
    };
    for (const auto& [vm, swapBytes, expected] : cases) {
        auto machine = std::make_shared<SimMachine>();
        machine->vmSamples = {vm};
        machine->swapTotal = swapBytes;
        VQTDataMinerMemory miner(machine);
        miner.mineData();
        EXPECT_EQ(miner.getDataSet().dump(), expected);
        machine->vmSamples.clear();  // a failed read keeps the data set
        miner.mineData();
        EXPECT_EQ(miner.getDataSet().dump(), expected);
    }
}

struct DisksMinerTest : HomeTest {
    DisksMinerTest() : HomeTest("volumes.json") {}
    std::unique_ptr<VQTDataMinerDisks> create() {
        return std::make_unique<VQTDataMinerDisks>(machine, machine, makeSimPlatform(machine).files);
    }
    fs::path cache = support / "Parquell";
};

// volumes.json: "/" cannot be asked, so "/srv" is the first volume; the others
// are listed only under "/Volumes/", and not when they are images or discs.
TEST_F(DisksMinerTest, ListsTheFirstVolumeAndThoseUnderTheRootsExceptImagesAndDiscs) {
    auto miner = create();
    const std::map<std::string, std::string> types = {{"disk0", "ATA"}, {"disk1", "Virtual Interface"},
        {"disk2", "DVD"}, {"disk3", "Virtual Interface"}, {"disk4", "USB"}, {"disk5", "CD"}};
    EXPECT_EQ(miner->getDriveTypes(), types);
    Value rows = miner->getDataSet();
    for (auto& row : rows) {
        const std::string icon = row[5];
        EXPECT_TRUE(fs::exists(icon)) << icon;
        ASSERT_EQ(icon.rfind(cache.string() + "//", 0), 0u) << icon;
        row[5] = icon.substr(cache.string().size() + 2);
    }
    EXPECT_EQ(rows, Value::parse(R"([
        ["Macintosh HD", 50, "50.90GB", "49.10GB", "/srv", "Macintosh HD.png"],
        ["iDisk", 75, "3.00GB", "1.00GB", "/Volumes/iDisk", "iDisk.png"],
        ["Backup", 25, "1.00GB", "3.00GB", "/Volumes/Stick", "Backup.png"],
        ["Backup", 100, "1.00GB", "0KB", "/Volumes/Backup 1", "Backup.png"],
        ["a/../b", 100, "1.00GB", "0KB", "/Volumes/Odd", "a:..:b.png"],
        ["Empty", 0, "0KB", "0KB", "/Volumes/Empty", "Empty.png"],
        ["Over", 0, "0KB", "0.98TB", "/Volumes/Over", "Over.png"],
        ["Small", 100, "1023MB", "0KB", "/Volumes/Small", "Small.png"],
        ["Huge", 100, "0KB", "0KB", "/Volumes/Huge", "Huge.png"],
        ["Big", 83, "2.50TB", "512.00GB", "/Volumes/Big", "Big.png"]])"));
    EXPECT_FALSE(fs::exists(cache.parent_path() / "b.png"));
    const std::pair<const char*, const char*> keys[] = {
        {"/dev/disk2", "disk2"}, {"/dev/disk12s10", "disk12"}, {"/dev/disk", "disk"},
        {"/dev/disks1", "disk"}, {"/dev/diskette", "diskette"}, {"fdesc", "fdesc"}};
    for (const auto& [device, key] : keys) EXPECT_EQ(miner->diskKey(device), key) << device;
}

TEST_F(DisksMinerTest, ARestartRemovesOnlyTheIconsItWrote) {
    create();
    // The folder is shared with another program; a damaged record must not reach outside it either.
    std::ofstream(cache / "Foreign.tiff") << "not ours";
    std::ofstream(cache.parent_path() / "Outside.png") << "not ours";
    std::ofstream(cache / ".velquette-written-icons", std::ios::app) << "../Outside.png\n";
    std::ofstream(cache / "Backup.png") << "stale";
    create();
    EXPECT_TRUE(fs::exists(cache / "Foreign.tiff"));
    EXPECT_TRUE(fs::exists(cache.parent_path() / "Outside.png"));
    EXPECT_EQ(fs::file_size(cache / "Backup.png"), machine->iconForVolume("/srv")->size());
}

// Icon files are looked for once per mount table: a mount change (findDrives) brings back an icon that went.
TEST_F(DisksMinerTest, AMountChangeLooksForTheIconsAgain) {
    auto miner = create();
    fs::remove(cache / "Macintosh HD.png");
    miner->findDrives();
    miner->update();
    EXPECT_EQ(fs::file_size(cache / "Macintosh HD.png"), machine->iconForVolume("/srv")->size());
}

constexpr std::uint64_t KiB = 1024, MiB = 1024 * KiB;
using Sample = std::optional<std::vector<SimInterface>>;  // nullopt: the kernel cannot be asked

TEST(NetworkMiner, RatesAndTotalsStepUpAbove1000) {
    const std::tuple<float, const char*, const char*> cases[] = {
        {1000, "1000kb/s", "1000mb"}, {1001, "1mb/s", "0.98gb"}, {1024000, "1000mb/s", "1000.00gb"},
        {1024001, "0.98gb/s", "0.98tb"}, {2.0e12f, "1907348.62gb/s", "1907348.62tb"}};  // the last unit stays
    for (const auto& [value, rate, total] : cases) {
        EXPECT_EQ(VQTDataMinerNetwork::convertK(value), rate) << value;
        EXPECT_EQ(VQTDataMinerNetwork::convertM(value), total) << value;
    }
}

// network.json holds a store whose services exercise every branch of the walk.
struct NetworkMinerTest : ::testing::Test {
    std::shared_ptr<SimMachine> machine = machineFile("network.json");
    std::unique_ptr<VQTDataMinerNetwork> miner =
        std::make_unique<VQTDataMinerNetwork>(machine, machine, machine, machine, machine);
    // Reads one sample at `time`.
    std::string mine(double time, const Sample& interfaces) {
        machine->clockSamples = {time};
        machine->interfaceSamples.clear();
        if (interfaces) machine->interfaceSamples = {*interfaces};
        miner->mineData();
        std::string text;  // "name in out total-in total-out" per row
        for (const Value& row : miner->getDataSet()) {
            text += text.empty() ? "" : ", ";
            for (int column : {0, 3, 4, 5, 6}) text += row[column].get<std::string>() + (column < 6 ? " " : "");
        }
        return text;
    }
};

TEST_F(NetworkMinerTest, ServiceWalkFallbacksSkipsAndTheLaterServiceWins) {
    miner->getInterfaceTypes();
    miner->setup();
    EXPECT_EQ(miner->getInterfaceSpecs(), Value::parse(R"([
        ["en2", "10.0.0.2", "Ethernet"], ["en3", "", "AirPort"], ["en7", "10.1.1.1", "FireWire"],
        ["lo0", "127.0.0.1", "Ethernet"], ["ppp0", "", "PPPoE"], ["ppp1", "192.0.2.7", "Modem"],
        ["wl0", "192.168.1.9", "IEEE80211"]])"));
    EXPECT_EQ(miner->getInterfaces(), 7);
}

TEST_F(NetworkMinerTest, RowsOfEachSample) {
    constexpr std::uint64_t twoTo31KiB = 1ull << 41, twoTo32KiB = 1ull << 42;  // in bytes
    const auto en2 = [](std::uint64_t in, std::uint64_t out) { return Sample{{{"en2", true, false, in, out}}}; };
    struct Step {
        double time;
        Sample interfaces;
        const char* rows;
        bool rebuild = false;
    };
    const std::pair<const char*, std::vector<Step>> cases[] = {
        {"rates over at least half a second; none for the first sample after a rebuild",
         {{100.0, en2(5 * MiB, 0), "en2 0kb/s 0kb/s 5mb 0mb", true},
          {100.1, en2(5 * MiB + 100 * KiB, 2 * KiB), "en2 200kb/s 4kb/s 5mb 0mb"},
          {101.1, en2(5 * MiB + 1100 * KiB, 1002 * KiB), "en2 1000kb/s 1000kb/s 6mb 0mb"},
          {101.2, en2(5 * MiB + 1100 * KiB, 1002 * KiB), "en2 0kb/s 0kb/s 6mb 0mb"},
          {102.2, en2(6 * MiB + 1100 * KiB, 1002 * KiB), "en2 0kb/s 0kb/s 7mb 0mb", true}}},
        {"KiB counters wrap at 32 bits; counters that restarted give no rate",
         {{10, en2(twoTo32KiB - 512 * KiB, twoTo31KiB - 512 * KiB), "en2 0kb/s 0kb/s 4.00tb 2.00tb", true},
          {11, en2(twoTo32KiB + 512 * KiB, twoTo31KiB + 512 * KiB), "en2 1mb/s 1mb/s 4.00tb 2.00tb"},
          {12, en2(4 * KiB, twoTo31KiB + 512 * KiB), "en2 0kb/s 0kb/s 0mb 2.00tb"},
          {13, en2(14 * KiB, twoTo31KiB + 512 * KiB), "en2 10kb/s 0kb/s 0mb 2.00tb"}}},
        {"only up, non-loopback interfaces of the tables, in the kernel's order",
         {{1,
           Sample{{{"lo0", true, true, 0, 0}, {"wl0", true, false, 0, 0}, {"en3", false, false, 0, 0},
                   {"en9", true, false, 0, 0}, {"en2", true, false, 0, 0}}},
           "wl0 0kb/s 0kb/s 0mb 0mb, en2 0kb/s 0kb/s 0mb 0mb", true}}},
        {"nothing before the first walk; a failed query keeps the data set and the rebuild pending",
         {{1, en2(MiB, 0), ""},
          {2, std::nullopt, "", true},
          {3, en2(MiB, 0), "en2 0kb/s 0kb/s 1mb 0mb"},
          {4, std::nullopt, "en2 0kb/s 0kb/s 1mb 0mb"}}},
    };
    for (const auto& [name, steps] : cases) {
        SCOPED_TRACE(name);
        machine = machineFile("network.json");
        miner = std::make_unique<VQTDataMinerNetwork>(machine, machine, machine, machine, machine);
        for (const Step& step : steps) {
            if (step.rebuild) miner->setNeedsUpdate(true);
            EXPECT_EQ(mine(step.time, step.interfaces), step.rows) << step.time;
        }
        EXPECT_EQ(machine->logLines.at(0), "needs update");
    }
}

TEST_F(NetworkMinerTest, AnInterfaceJoiningWithoutARebuildStartsFromItsFirstSample) {
    const Value wl0 = machine->dynamicStore["State:/Network/Interface/wl0/IPv4"];
    machine->dynamicStore.erase("State:/Network/Interface/wl0/IPv4");
    const Sample first{{{"wl0", true, false, 50 * MiB, 0}}};
    miner->setNeedsUpdate(true);
    EXPECT_EQ(mine(1, first), "");
    machine->dynamicStore["State:/Network/Interface/wl0/IPv4"] = wl0;
    EXPECT_EQ(miner->getNamesAndTypes(), Value::parse(R"([["wl0", "IEEE80211"]])"));
    EXPECT_EQ(mine(2, first), "wl0 0kb/s 0kb/s 50mb 0mb");
    EXPECT_EQ(mine(3, Sample{{{"wl0", true, false, 50 * MiB + 10 * KiB, 0}}}), "wl0 10kb/s 0kb/s 50mb 0mb");
}

TEST_F(NetworkMinerTest, PrimaryInterfaceFollowsTheStoreAndItsNotification) {
    machine->dynamicStore["State:/Network/Global/IPv4"] = {{"PrimaryInterface", "en2"}};
    machine->post(kPrimaryInterfaceChangeNotification);
    EXPECT_EQ(miner->primaryInterface(), "en2");
    miner.reset();
    machine->post(kPrimaryInterfaceChangeNotification);  // reaches no destroyed miner
    EXPECT_EQ(machine->observerCount(), 0u);
}

struct BridgeTest : HomeTest {
    std::unique_ptr<Velquette> create() { return std::make_unique<Velquette>(makeSimPlatform(machine)); }
    fs::path icons = support / "ProcessesIconCache";
};

// The page's calls on session.json in order, with the machine's events between
// them. Results are compared as JSON text, so integers and floats differ.
TEST_F(BridgeTest, ScriptCallsAnswerThePageAndFlagsClearWhenRead) {
    auto object = create();
    const std::pair<const char*, const char*> steps[] = {
        {"cpuUsage", "[[25,25,0,50,50],[[50,25.0,25.0,0.0]]]"},
        {"uptime", R"("1d 2h 3m")"},
        {"load", R"("0.50, 0.25, 1.00")"},
        {"processinfo", R"("57 tasks, 213 threads")"},
        {"memoryUsage", R"(["1mb","2mb","1mb","1mb","1mb",50.0,"0","0","2mb","0mb",25.0,25.0])"},
        {"network", "[]"},
        {"hasNetworkSetupChanged", "true"}, {"hasNetworkSetupChanged", "false"},  // once; the next sample rebuilds
        {"network", R"([["eth0","Ethernet","192.0.2.1","0kb/s","0kb/s","1mb","2mb"]])"},
        {"network change", ""}, {"network change", ""},
        {"hasNetworkSetupChanged", "true"}, {"hasNetworkSetupChanged", "false"},
        {"diskUsage", "2 rows"}, {"disk1 becomes an image", ""},
        {"diskUsage", "2 rows"},  // drive types change only with a mount
        {"hasDiskSetupChanged", "false"}, {"mount", ""}, {"mount", ""},
        {"hasDiskSetupChanged", "true"}, {"hasDiskSetupChanged", "false"},
        {"diskUsage", "1 rows"},
        {"wasIntelModuleInstalled", "false"}, {"installIntelModule", "null"},
        {"module arrives", ""}, {"wasIntelModuleInstalled", "true"},
        {"setNeedsSMARTUpdate", "null"},
    };
    const std::map<std::string, std::function<void()>> events = {
        {"network change", [&] { machine->fireNetworkChange(); }},
        {"mount", [&] { machine->fireMountChange(); }},
        {"module arrives", [&] { machine->post(kModuleAvailableNotification); }},
        {"disk1 becomes an image", [&] { machine->registry = machineFile("volumes.json")->registry; }}};
    for (const auto& [call, expected] : steps) {
        if (events.contains(call)) {
            events.at(call)();
            continue;
        }
        ASSERT_EQ(checkScriptCall(call, Value::array()), std::nullopt) << call;
        const Value result = invokeScriptCall(*object, call, Value::array());
        EXPECT_EQ(call == std::string("diskUsage") ? std::to_string(result.size()) + " rows" : result.dump(), expected)
            << call;
    }
    EXPECT_EQ(updateList, 0);
    for (int value : {1, 2, 0, 1, -1, 1, 100}) {  // only 1 switches SMART monitoring on
        ASSERT_EQ(checkScriptCall("setShouldMonitorSMARTTemps", Value::array({value})), std::nullopt);
        EXPECT_TRUE(invokeScriptCall(*object, "setShouldMonitorSMARTTemps", Value::array({value})).is_null());
        EXPECT_EQ(object->isSMARTMonitoringEnabled(), value == 1) << value;
    }
}

TEST(ScriptTable, RefusesOtherNamesAndArgumentsThatDoNotFit) {
    const std::pair<const char*, const char*> refused[] = {
        {"workspaceChange", "[]"}, {"moduleInstalledNotification", "[]"}, {"initWithWebView", "[]"},
        {"updateList", "[]"}, {"", "[]"}, {"cpuusage", "[]"}, {"cpuUsage", "[1]"}, {"cpuUsage", "{}"},
        {"setShouldMonitorSMARTTemps", "[]"}, {"setShouldMonitorSMARTTemps", "[1, 2]"},
        {"setShouldMonitorSMARTTemps", R"(["1"])"}, {"setShouldMonitorSMARTTemps", "[1.5]"},
        {"setShouldMonitorSMARTTemps", "[true]"}, {"setShouldMonitorSMARTTemps", "[null]"},
        {"setShouldMonitorSMARTTemps", "[2147483648]"}, {"setShouldMonitorSMARTTemps", "[-2147483649]"}};
    for (const auto& [name, args] : refused) {
        const auto reason = checkScriptCall(name, Value::parse(args));
        ASSERT_NE(reason, std::nullopt) << name << " " << args;
        EXPECT_EQ(reason->find('\n'), std::string::npos);
        EXPECT_NE(reason->find(name), std::string::npos) << *reason;
    }
    EXPECT_EQ(checkScriptCall("setShouldMonitorSMARTTemps", Value::parse("[-2147483648]")), std::nullopt);
    EXPECT_EQ(checkScriptCall("setShouldMonitorSMARTTemps", Value::parse("[2147483647]")), std::nullopt);
}

TEST_F(BridgeTest, CreationKeepsFoldersAndGoesOnWithoutNotificationsOrParentFolders) {
    machine->networkNotifierFails = true;
    auto object = create();
    EXPECT_EQ(object->iconDirectory(), icons.string() + "/");
    EXPECT_TRUE(object->hasNetworkSetupChanged());  // only the initial report
    machine->fireNetworkChange();
    EXPECT_FALSE(object->hasNetworkSetupChanged());
    std::ofstream(icons / "kept.png") << "x";
    object = create();  // existing folders and their contents are left as they are
    EXPECT_TRUE(fs::exists(icons / "kept.png"));
    object.reset();
    EXPECT_EQ(machine->observerCount(), 0u);  // observing ends with the object
    machine->post(kModuleAvailableNotification);
    machine->home = (home / "elsewhere").string();  // intermediate folders are never created
    EXPECT_EQ(create()->processinfo(), "57 tasks, 213 threads");
    EXPECT_FALSE(fs::exists(home / "elsewhere"));
}

std::shared_ptr<SimMachine> load(const char* text) { return loadSimMachine(nlohmann::json::parse(text)); }

// The other keys are loaded from the machine files of the miner, bridge and SMC tests.
TEST(MachineFile, SamplesStayOnTheLastAndMissingKeysFailLikeTheRealServices) {
    auto machine = load(R"({"clock": [10, 20], "architecture": "powerpc", "home": "/h", "unknownKey": 1})");
    const std::vector<std::int64_t> times{machine->now(), machine->now(), machine->now()};
    EXPECT_EQ(times, (std::vector<std::int64_t>{10, 20, 20}));
    EXPECT_EQ(machine->gestalt(kGestaltProcessorType), static_cast<std::int32_t>(kGestaltCPUG4));
    EXPECT_EQ(makeSimPlatform(machine).files->applicationSupportDirectory(), "/h/Library/Application Support");
    EXPECT_EQ(machine->processorLoadInfo(), std::nullopt);
    EXPECT_EQ(machine->interfaceList(), std::nullopt);
    EXPECT_EQ(machine->matchingServices("IOMedia", {}), std::nullopt);
    EXPECT_EQ(load(R"({"architecture": "intel"})")->gestalt(kGestaltSysArchitecture), kGestaltIntel);
    EXPECT_EQ(load("{}")->gestalt(kGestaltSysArchitecture), std::nullopt);
    EXPECT_EQ(makeSimPlatform(load("{}")).files->applicationSupportDirectory(), "");
    machine = load(R"({"registry": [{"id": 1, "classes": ["A"], "parent": 2},
                                    {"id": 2, "classes": ["B"], "parent": 1}]})");
    EXPECT_EQ(machine->searchProperty(1, "Missing"), std::nullopt);  // a parent cycle ends the search
}

TEST(MachineFile, MalformedKeysAreNamedInTheError) {
    const std::tuple<bool, const char*, const char*> cases[] = {
        // the "smc" object?, text, what the error names
        {false, R"([1, 2])", "object"},
        {false, R"({"architecture": "sparc"})", "architecture"},
        {false, R"({"clock": ["noon"]})", "clock"},
        {false, R"({"processorTicks": [[[1, 2, 3, 4294967296]]]})", "processorTicks"},
        {false, R"({"vm": [{"free": 1}]})", "vm"},
        {false, R"({"volumes": [{"path": "/", "statfsFails": "yes"}]})", "volumes"},
        {false, R"({"interfaces": [[{"up": true}]]})", "interfaces"},
        {true, R"({"keys": {"TC0": {"type": "sp78", "bytes": "2d40"}}})", "\"TC0\""},
        {true, R"({"keys": {"TC0H": {"type": "sp78", "bytes": "2d4"}}})", "pairs"},
        {true, R"({"keys": {"TC0H": {"type": "sp78", "bytes": "zz40"}}})", "pairs"},
        {true, R"({"failures": [{"command": 9, "status": "0xnothex"}]})", "status"},
    };
    for (const auto& [smc, text, named] : cases) {
        try {
            smc ? (void)loadSimSmc(nlohmann::json::parse(text)) : (void)load(text);
            ADD_FAILURE() << "accepted " << text;
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find(named), std::string::npos) << error.what();
        }
    }
}

TEST(MachineFile, EnvironmentSelectsTheSimulatedMachine) {
    ::setenv("VELQUETTE_MACHINE", VELQUETTE_FIXTURES "/machines/intel-two-core.json", 1);
    EXPECT_EQ(makePlatformFromEnvironment().machine->modelName(), "MacBookPro3,1");
    ::setenv("VELQUETTE_MACHINE", "/nonexistent/machine.json", 1);
    EXPECT_THROW(makePlatformFromEnvironment(), std::runtime_error);
    ::unsetenv("VELQUETTE_MACHINE");
}

}  // namespace
}  // namespace vq
