#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>

#include "platform/sim/sim_machine.h"

namespace vq {
namespace {

nlohmann::json fixture(const char* name) {
    std::ifstream in(std::string(VELQUETTE_FIXTURES) + "/machines/" + name);
    return nlohmann::json::parse(in);
}

TEST(MachineFile, LoadsEveryProcessorKey) {
    auto machine = loadSimMachine(fixture("intel-two-core.json"));
    EXPECT_EQ(machine->modelName(), "MacBookPro3,1");
    EXPECT_EQ(machine->gestalt(kGestaltProcessorType), static_cast<std::int32_t>(kGestaltCPUPentium));
    EXPECT_EQ(machine->gestalt(kGestaltSysArchitecture), kGestaltIntel);
    EXPECT_EQ(machine->bootTime()->sec, 1700000000);
    EXPECT_EQ(machine->loadAverage()->fscale, 65536);
    EXPECT_EQ(machine->processorSetLoadInfo()->threads, 213);
    EXPECT_EQ(machine->now(), 1700093839);
}

TEST(MachineFile, SamplesAdvanceAndStayOnTheLast) {
    auto machine = loadSimMachine(
        nlohmann::json::parse(R"({"clock": [10, 20], "processorTicks": [[[1,2,3,4]], [[5,6,7,8]]]})"));
    EXPECT_EQ(machine->now(), 10);
    EXPECT_EQ(machine->now(), 20);
    EXPECT_EQ(machine->now(), 20);
    EXPECT_EQ((*machine->processorLoadInfo())[0][0], 1u);
    EXPECT_EQ((*machine->processorLoadInfo())[0][3], 8u);
    EXPECT_EQ((*machine->processorLoadInfo())[0][3], 8u);
}

TEST(MachineFile, MissingKeysFailLikeTheRealServices) {
    auto machine = loadSimMachine(nlohmann::json::parse(R"({"unknownKeyOfALaterRelease": {"x": 1}})"));
    EXPECT_EQ(machine->processorLoadInfo(), std::nullopt);
    EXPECT_EQ(machine->processorSetLoadInfo(), std::nullopt);
    EXPECT_EQ(machine->loadAverage(), std::nullopt);
    EXPECT_EQ(machine->bootTime(), std::nullopt);
    EXPECT_EQ(machine->modelName(), std::nullopt);
    EXPECT_EQ(machine->gestalt(kGestaltProcessorType), std::nullopt);
    auto platform = makeSimPlatform(machine);
    EXPECT_EQ(platform.files->applicationSupportDirectory(), "");
}

TEST(MachineFile, LoadsMemoryVolumesAndTheRegistry) {
    auto machine = loadSimMachine(nlohmann::json::parse(R"({
        "vm": [{"free": 1, "active": 2, "inactive": 3, "wire": 4, "pageins": 5, "pageouts": 6}],
        "swapTotalBytes": 8589934592,
        "volumes": [{"path": "/", "mountedFrom": "/dev/disk0s2", "displayName": "HD",
                     "totalBytes": 1000, "freeBytes": 10},
                    {"path": "/Volumes/X", "statfsFails": true}],
        "registry": [{"id": 1, "classes": ["IOBlockStorageDriver"], "name": "drive",
                      "properties": {"Protocol Characteristics": {"Physical Interconnect": "USB"}}},
                     {"id": 2, "classes": ["IOCDMedia", "IOMedia"], "name": "media",
                      "properties": {"BSD Name": "disk1", "Whole": true}, "parent": 1}]
    })"));
    EXPECT_EQ(machine->hostStatistics()->pageouts, 6u);
    EXPECT_EQ(machine->swapTotalBytes(), 8589934592ull);
    EXPECT_EQ(machine->mountedLocalVolumePaths(), (std::vector<std::string>{"/", "/Volumes/X"}));
    EXPECT_EQ(machine->mountedFrom("/"), "/dev/disk0s2");
    EXPECT_EQ(machine->mountedFrom("/Volumes/X"), std::nullopt);
    EXPECT_EQ(machine->displayNameAtPath("/Volumes/X"), "X");
    EXPECT_EQ(machine->volumeSizes("/")->freeBytes, 10u);

    // Class matching goes by conformance; properties are searched upward.
    auto media = machine->matchingServices("IOMedia", {{"Whole", true}});
    ASSERT_TRUE(media);
    ASSERT_EQ(*media, std::vector<RegistryEntryId>{2});
    EXPECT_TRUE(machine->matchingServices("IOMedia", {{"Whole", false}})->empty());
    EXPECT_TRUE(machine->conformsTo(2, "IOCDMedia"));
    EXPECT_FALSE(machine->conformsTo(1, "IOMedia"));
    EXPECT_EQ((*machine->searchProperty(2, "Protocol Characteristics"))["Physical Interconnect"], "USB");
    EXPECT_EQ(machine->searchProperty(1, "BSD Name"), std::nullopt);
    EXPECT_EQ(*machine->matchingServicesByName("drive"), std::vector<RegistryEntryId>{1});
}

TEST(MachineFile, RegistryParentCyclesEndTheSearch) {
    auto machine = loadSimMachine(nlohmann::json::parse(R"({"registry": [
        {"id": 1, "classes": ["A"], "parent": 2}, {"id": 2, "classes": ["B"], "parent": 1}]})"));
    EXPECT_EQ(machine->searchProperty(1, "Missing"), std::nullopt);
    EXPECT_EQ(loadSimMachine(nlohmann::json::object())->matchingServices("IOMedia", {}), std::nullopt);
}

TEST(MachineFile, PowerPCAnswersItsOwnCodes) {
    auto machine = loadSimMachine(nlohmann::json::parse(R"({"architecture": "powerpc", "home": "/h"})"));
    EXPECT_EQ(machine->gestalt(kGestaltSysArchitecture), kGestaltPowerPC);
    EXPECT_NE(machine->gestalt(kGestaltProcessorType), static_cast<std::int32_t>(kGestaltCPUPentium));
    EXPECT_EQ(makeSimPlatform(machine).files->applicationSupportDirectory(), "/h/Library/Application Support");
}

TEST(MachineFile, MalformedKeysAreNamedInTheError) {
    const char* cases[][2] = {
        {R"([1, 2])", "object"},
        {R"({"architecture": "sparc"})", "architecture"},
        {R"({"clock": []})", "clock"},
        {R"({"clock": ["noon"]})", "clock"},
        {R"({"bootTime": {"sec": 1}})", "bootTime"},
        {R"({"loadAverage": {"ldavg": [1, 2], "fscale": 1}})", "loadAverage"},
        {R"({"loadAverage": {"ldavg": [1, 2, -3], "fscale": 1}})", "loadAverage"},
        {R"({"taskCounts": {"tasks": 1}})", "taskCounts"},
        {R"({"processorTicks": [[[1, 2, 3]]]})", "processorTicks"},
        {R"({"processorTicks": [[[1, 2, 3, 4294967296]]]})", "processorTicks"},
        {R"({"model": 7})", "model"},
        {R"({"vm": [{"free": 1}]})", "vm"},
        {R"({"volumes": [{"mountedFrom": "/dev/disk0"}]})", "volumes"},
        {R"({"volumes": [{"path": "/", "statfsFails": "yes"}]})", "volumes"},
        {R"({"registry": [{"id": 1, "classes": []}]})", "registry"},
        {R"({"registry": [{"id": 1, "classes": ["A"], "properties": [1]}]})", "registry"},
    };
    for (const auto& c : cases) {
        try {
            loadSimMachine(nlohmann::json::parse(c[0]));
            ADD_FAILURE() << "accepted " << c[0];
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find(c[1]), std::string::npos) << error.what();
        }
    }
}

TEST(MachineFile, EnvironmentSelectsTheSimulatedMachine) {
    ::setenv("VELQUETTE_MACHINE", (std::string(VELQUETTE_FIXTURES) + "/machines/intel-two-core.json").c_str(), 1);
    Platform platform = makePlatformFromEnvironment();
    EXPECT_EQ(platform.machine->modelName(), "MacBookPro3,1");
    ::setenv("VELQUETTE_MACHINE", "/nonexistent/machine.json", 1);
    EXPECT_THROW(makePlatformFromEnvironment(), std::runtime_error);
    ::unsetenv("VELQUETTE_MACHINE");
}

}  // namespace
}  // namespace vq
