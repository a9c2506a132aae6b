#include <gtest/gtest.h>

#include <fstream>

#include "bridge/Velquette.h"
#include "bridge/script_table.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_smc.h"
#include "sensors/VQTDataMinerFans.h"
#include "sensors/VQTDataMinerTemps.h"
#include "sensors/sensor_sources.h"
#include "sensors/temperature_units.h"
#include "smc/smc.h"

namespace vq {
namespace {

nlohmann::json machineJson(const char* name) {
    return nlohmann::json::parse(std::ifstream(std::string(VELQUETTE_FIXTURES) + "/machines/" + name));
}

// A source whose answers the test sets; `fail` makes its calls throw.
struct FakeSource : SensorSource {
    Value temps = Value::array(), fanValues = Value::object();
    bool fail = false;
    Value getTempValues() override { return fail ? throw std::runtime_error("unreadable") : temps; }
    Value getFanValues() override { return fail ? throw std::runtime_error("unreadable") : fanValues; }
};

struct FakeModule {
    bool file = true, opens = true, principalClass = true, instanceMade = true, fanCallFails = false;
    std::vector<std::pair<std::string, std::string>> fans{{"Master", "1500rpm"}, {"Fan 1", "2100rpm"}};
    int instances = 0;
    std::vector<std::string> paths;
};

struct FakeLoader : SensorModuleLoader, SensorModuleBundle {
    explicit FakeLoader(std::shared_ptr<FakeModule> m) : module(std::move(m)) {}
    struct Instance : SensorModuleInstance {
        Instance(std::shared_ptr<FakeModule> m, int n) : module(std::move(m)), number(n) {}
        std::shared_ptr<FakeModule> module;
        int number;
        std::optional<std::vector<std::pair<std::string, std::string>>> fanValues() override {
            if (module->fanCallFails) return std::nullopt;
            auto fans = module->fans;
            fans.emplace_back("instance", std::to_string(number));
            return fans;
        }
    };
    bool fileExists(const std::string& path) override { return module->paths.push_back(path), module->file; }
    std::shared_ptr<SensorModuleBundle> openBundle(const std::string&) override {
        return module->opens ? std::make_shared<FakeLoader>(module) : nullptr;
    }
    bool hasPrincipalClass() override { return module->principalClass; }
    std::unique_ptr<SensorModuleInstance> createInstance() override {
        return module->instanceMade ? std::make_unique<Instance>(module, ++module->instances) : nullptr;
    }
    std::shared_ptr<FakeModule> module;
};

TEST(TemperatureUnits, WholeDegreesInEachUnit) {
    const std::tuple<int, int, const char*> cases[] = {
        {47, 0, "47°"}, {47, 1, "117°"}, {47, 2, "320K"}, {47, 3, "47°"}, {47, -1, "47°"}, {-10, 1, "14°"},
        {-1, 1, "30°"}, {-6, 1, "21°"}, {-3, 1, "26°"}, {37, 1, "99°"}, {0, 2, "273K"}, {-300, 2, "-26K"}};
    for (const auto& [celsius, unit, text] : cases) EXPECT_EQ(formatTemperature(celsius, unit), text) << celsius;
}

// powerpc-sensors.json: 16.16 and tenths readings, a reading below its divisor, a location differing only in case,
// an unreadable service, display names shared by two locations, fans of every search.
struct RegistryMiners : ::testing::Test {
    std::shared_ptr<SimMachine> machine = loadSimMachine(machineJson("powerpc-sensors.json"));
    VQTDataMinerTemps temps{nullptr, machine, nullptr, ""};
    std::unique_ptr<VQTDataMinerFans> makeFans() {
        return std::make_unique<VQTDataMinerFans>(nullptr, machine, nullptr, machine, "");
    }
};

TEST_F(RegistryMiners, TemperaturesByTableInEachUnit) {
    const std::pair<int, const char*> cases[] = {
        {0, R"([["CPU A","52°"],["CPU Bottom","47°"],["Battery","31°"],["HD Bay","40°"],["Backside","38°"]])"},
        {1, R"([["CPU A","126°"],["CPU Bottom","117°"],["Battery","88°"],["HD Bay","104°"],["Backside","101°"]])"},
        {2, R"([["CPU A","325K"],["CPU Bottom","320K"],["Battery","304K"],["HD Bay","313K"],["Backside","311K"]])"}};
    for (const auto& [unit, expected] : cases) EXPECT_EQ(temps.getDataSet(unit), Value::parse(expected)) << unit;
    const std::vector<std::string> met{"CPU TOPSIDE", "CPU A AD7417 AD1", "CPU A DIODE TEMP", "GPU Temp", "BATTERY",
                                       "HD Temp", "BACKSIDE", "Hard drive", "DRIVE BAY"};
    EXPECT_EQ(temps.sensors(), met);
    temps.getDataSet(0);
    EXPECT_EQ(temps.sensors(), met);  // collected once
}

TEST_F(RegistryMiners, FansOfTheThreeSearchesAndTheirGating) {
    EXPECT_EQ(makeFans()->sensors(), (std::vector<std::string>{"CPU A Inlet", "Rear Enclosure", "PCI Slots", "CPU",
                                                               "CPU", "CPU A Pump", "CPU B Pump", "Drive Bay"}));
    const std::string all = R"([["CPU","1100rpm"],["CPU A Inlet","1500rpm"],["CPU A Pump","2000rpm"],)"
                            R"(["CPU B Pump","2100rpm"],["Rear Enclosure","900rpm"],["Drive Bay","700rpm"],)"
                            R"(["PCI Slots","0rpm"]])";
    const std::tuple<std::set<std::string>, std::set<RegistryEntryId>, std::string> cases[] = {
        {{}, {}, all},
        {{"IOHWControl"}, {}, "[]"},
        {{"AppleFCU"}, {}, "[]"},
        {{"IOHWSensor"}, {}, "[]"},
        {{}, {25}, "[]"},  // the last fan control
        {{}, {30}, "[]"},  // the last fan control unit
        {{}, {20}, R"([["CPU","1100rpm"],["CPU A Pump","2000rpm"],["CPU B Pump","2100rpm"],)"
                   R"(["Rear Enclosure","900rpm"],["Drive Bay","700rpm"],["PCI Slots","0rpm"]])"},
        {{}, {11}, R"([["CPU","1100rpm"],["CPU A Inlet","1500rpm"],["CPU A Pump","2000rpm"],)"
                   R"(["CPU B Pump","2100rpm"],["Rear Enclosure","900rpm"],["PCI Slots","0rpm"]])"},
    };
    auto fans = makeFans();
    for (const auto& [failingNames, unreadable, expected] : cases) {
        machine->registryFailsFor = failingNames;
        machine->propertiesFail = unreadable;
        EXPECT_EQ(fans->getDataSet(), Value::parse(expected)) << expected;
    }
    machine->registryFailsFor = {"IOHWSensor"};
    EXPECT_EQ(temps.getDataSet(0), Value::array());
}

TEST(SourceMiners, ShowEveryValueRenameFansAndEmptyTheListWhileTheSourceThrows) {
    auto source = std::make_unique<FakeSource>();
    FakeSource& fake = *source;
    fake.temps = Value::parse(R"([[["CPU A", 45]], [["GPU", -10]], [], [["Board", 0.9]]])");
    fake.fanValues = Value::parse(R"({"Master": "1500rpm", "Fan 1": "2100rpm", "CPU": 7})");
    auto machine = std::make_shared<SimMachine>();
    VQTDataMinerTemps temps(std::move(source), machine, nullptr, "");
    EXPECT_EQ(temps.getDataSet(1), Value::parse(R"([["CPU A","113°"],["GPU","14°"],["Board","32°"]])"));
    EXPECT_EQ(temps.sensors(), (std::vector<std::string>{"CPU A", "GPU", "Board"}));
    auto fanSource = std::make_unique<FakeSource>(fake);
    FakeSource& fakeFans = *fanSource;
    VQTDataMinerFans fans(std::move(fanSource), machine, nullptr, machine, "");
    EXPECT_EQ(fans.getDataSet(), Value::parse(R"([["CPU Fan",7],["Fan 1","2100rpm"],["Main Fan","1500rpm"]])"));
    EXPECT_EQ(fans.sensors(), (std::vector<std::string>{"CPU", "Fan 1", "Master"}));
    for (const char* broken : {R"([[["CPU A", 45]], [[7, 1]]])", R"([[["CPU A", 45]], [["GPU"]]])"}) {
        fake.temps = Value::parse(broken);  // an answer that cannot be walked is no answer
        EXPECT_EQ(temps.getDataSet(0), Value::array()) << broken;
    }
    fake.fail = fakeFans.fail = true;
    EXPECT_EQ(temps.getDataSet(0), Value::array());
    EXPECT_EQ(fans.getDataSet(), Value::array());
    fake.fail = fakeFans.fail = false;
    fake.temps = Value::parse(R"([[["CPU A", 45]], [], [], []])");
    EXPECT_EQ(temps.getDataSet(2), Value::parse(R"([["CPU A","318K"]])"));
    EXPECT_EQ(fans.getDataSet().size(), 3u);
}

TEST(SourceMiners, ModuleArrival) {
    const std::string folder = "/home/u/Library/Application Support/Brackwell/Velquor";
    const std::string controllerFans = R"([["Left Fan","1165rpm"],["Right Fan","1250rpm"]])";
    const std::tuple<const char*, std::function<void(FakeModule&)>, std::size_t, std::string> cases[] = {
        // the module; how many sensors are listed afterwards (1: the list was not rebuilt); the fans
        {"no module file", [](FakeModule& m) { m.file = false; }, 1, controllerFans},
        {"no bundle opens", [](FakeModule& m) { m.opens = false; }, 1, controllerFans},
        {"no principal class: the source stays", [](FakeModule& m) { m.principalClass = false; }, 2, controllerFans},
        {"an instance", [](FakeModule&) {}, 3, R"([["Fan 1","2100rpm"],["Main Fan","1500rpm"],["instance","1"]])"},
        {"no instance: the registry from then on", [](FakeModule& m) { m.instanceMade = false; }, 8,
         R"([["CPU","1100rpm"],["CPU A Inlet","1500rpm"],["CPU A Pump","2000rpm"],["CPU B Pump","2100rpm"],)"
         R"(["Rear Enclosure","900rpm"],["Drive Bay","700rpm"],["PCI Slots","0rpm"]])"},
    };
    for (const auto& [name, setUp, listed, expected] : cases) {
        SCOPED_TRACE(name);
        auto machine = loadSimMachine(machineJson("powerpc-sensors.json"));
        auto module = std::make_shared<FakeModule>();
        auto source = std::make_unique<FakeSource>();
        source->fanValues = Value::parse(R"({"Leftside": "1165rpm"})");
        FakeSource& fake = *source;
        VQTDataMinerFans fans(std::move(source), machine, std::make_shared<FakeLoader>(module), machine, folder);
        setUp(*module);
        fake.fanValues["Rightside"] = "1250rpm";  // listed only when the list is rebuilt
        fans.moduleInstalled();                   // `fake` may be gone from here on
        EXPECT_EQ(machine->logLines, std::vector<std::string>{"Intel Module now available - fans"});
        EXPECT_EQ(module->paths, std::vector<std::string>{folder + "/VelquorIntelSensorsV3.bundle"});
        EXPECT_EQ(fans.sensors().size(), listed);
        EXPECT_EQ(fans.getDataSet(), Value::parse(expected));
    }
}

TEST(SourceMiners, EachAnnouncementMakesAFreshInstanceAndAFailedFanCallKeepsIt) {
    auto machine = std::make_shared<SimMachine>();
    auto module = std::make_shared<FakeModule>();
    auto loader = std::make_shared<FakeLoader>(module);
    VQTDataMinerFans fans(nullptr, machine, loader, machine, "/h/Velquor");
    fans.moduleInstalled();
    fans.moduleInstalled();
    EXPECT_EQ(fans.getDataSet().back(), Value::parse(R"(["instance","2"])"));
    module->fanCallFails = true;
    EXPECT_EQ(fans.getDataSet(), Value::array());
    module->fanCallFails = false;
    EXPECT_EQ(fans.getDataSet().back(), Value::parse(R"(["instance","2"])"));
    EXPECT_FALSE(VQTDataMinerFans(nullptr, machine, loader, machine, "").hasIntelBundle());  // no home
    EXPECT_TRUE(fans.hasIntelBundle());
    EXPECT_EQ(module->paths.back(), "/h/Velquor/IntelSensorsParquell.bundle");
    module->opens = false;
    EXPECT_FALSE(fans.hasIntelBundle());
}

struct NativeSensors : HardwareSensors {
    std::vector<TemperatureReading> temperatures() override {
        return {{"nvme Composite", 3, 38, {}}, {"Core 1", 1, 51, {}}, {"core 0", 1, 50, {}},
                {"Board", 4, 0, {}}, {"TC0H raw", 4, 44, "TC0H"}, {"TZ9Z", 4, 30, "TZ9Z"}};
    }
    std::vector<FanReading> fans() override { return {{"Master", 1500}, {"Fan 2", 2100}}; }
};

TEST(SensorSourceChoice, SmcThenNativeThenUnsupportedControllerThenRegistry) {
    const auto smcMachine = machineJson("smc-macbookpro.json");
    const std::string smcAnswer = R"([[["CPU A",45],["CPU A",45]],[["Ambient",26],["GPU",50]],[],[]] )"
                                  R"({"Leftside":"1165rpm","Rightside":"1250rpm"})";
    const std::string nativeAnswer = R"([[["core 0",50],["Core 1",51],["CPU A",44]],[],[["nvme Composite",38]],)"
                                     R"([["TZ9Z",30]]] {"Fan 2":"2100rpm","Master":"1500rpm"})";
    const std::tuple<const char*, bool, bool, std::string> cases[] = {
        // architecture, an SMC?, native sensors?, getTempValues and getFanValues; "none" for the registry walk
        {"intel", true, true, smcAnswer},
        {"intel", false, true, nativeAnswer},
        {"intel", false, false, "[[],[],[],[]] {}"},
        {"powerpc", true, false, "none"},
        {"powerpc", false, true, nativeAnswer},
    };
    for (const auto& [architecture, smc, native, expected] : cases) {
        installProcessSmcTransport(smc ? loadSimSmc(smcMachine["smc"]) : makeNoSmcTransport());
        conn = conn2 = 0;
        auto machine = loadSimMachine({{"architecture", architecture}});
        auto source = chooseSensorSource(*machine, native ? std::make_shared<NativeSensors>() : nullptr);
        EXPECT_EQ(source ? source->getTempValues().dump() + " " + source->getFanValues().dump() : "none", expected)
            << architecture << smc << native;
    }
    installProcessSmcTransport(nullptr);
}

TEST(MergedTemperatures, DrivesFirstInTheUnitThenTheMinersList) {
    const Value smart = Value::parse(R"([{"deviceTemp": 45, "model": "Disk A"}, {"deviceTemp": 40}, {"model": "B"},
                                         "junk", {"deviceTemp": -6, "model": "Disk C", "other": 1}])");
    const Value miner = Value::parse(R"([["CPU A", "47°"]])");
    const std::pair<int, const char*> cases[] = {
        {0, R"([["Disk A","45°"],["Disk C","-6°"],["CPU A","47°"]])"},
        {1, R"([["Disk A","113°"],["Disk C","21°"],["CPU A","47°"]])"},
        {2, R"([["Disk A","318K"],["Disk C","267K"],["CPU A","47°"]])"}};
    for (const auto& [unit, expected] : cases)
        EXPECT_EQ(mergeTemperatureLists(smart, miner, unit), Value::parse(expected)) << unit;
    EXPECT_EQ(mergeTemperatureLists(Value::array(), miner, 1), miner);
}

TEST(MergedTemperatures, BridgeRowsAnswerTheMinersAndTheModuleFlagComesLast) {
    auto machine = loadSimMachine(machineJson("powerpc-sensors.json"));
    Velquette object(makeSimPlatform(machine));
    const Value celsius = invokeScriptCall(object, "temps", Value::array({0}));
    EXPECT_EQ(celsius.size(), 5u);
    EXPECT_EQ(invokeScriptCall(object, "fans", Value::array()).size(), 7u);
    invokeScriptCall(object, "setShouldMonitorSMARTTemps", Value::array({1}));
    EXPECT_TRUE(object.needsSMARTUpdate());
    EXPECT_EQ(invokeScriptCall(object, "temps", Value::array({0})), celsius);
    EXPECT_FALSE(object.needsSMARTUpdate());
    EXPECT_NE(checkScriptCall("temps", Value::array()), std::nullopt);
    machine->post(kModuleAvailableNotification);
    EXPECT_EQ(machine->logLines, std::vector<std::string>{"Intel Module now available - fans"});
    EXPECT_TRUE(object.wasIntelModuleInstalled());
}

}  // namespace
}  // namespace vq
