#include <gtest/gtest.h>

#include "miners/VQTDataMinerNetwork.h"
#include "platform/sim/sim_machine.h"

namespace vq {
namespace {

TEST(NetworkText, RatesAndTotalsStepUpAbove1000) {
    struct Case {
        float value;
        const char* rate;
        const char* total;
    } cases[] = {
        {0, "0kb/s", "0mb"},
        {512, "512kb/s", "512mb"},
        {1000, "1000kb/s", "1000mb"},
        {1001, "1mb/s", "0.98gb"},
        {1024000, "1000mb/s", "1000.00gb"},
        {1024001, "0.98gb/s", "0.98tb"},
        {1048576, "1.00gb/s", "1.00tb"},
        {2.0e12f, "1907348.62gb/s", "1907348.62tb"},  // past the last unit: stays there
    };
    for (const auto& c : cases) {
        EXPECT_EQ(VQTDataMinerNetwork::convertK(c.value), c.rate) << c.value;
        EXPECT_EQ(VQTDataMinerNetwork::convertM(c.value), c.total) << c.value;
    }
}

struct NetworkMinerTest : ::testing::Test {
    std::shared_ptr<SimMachine> machine = std::make_shared<SimMachine>();
    std::unique_ptr<VQTDataMinerNetwork> miner;

    void create() { miner = std::make_unique<VQTDataMinerNetwork>(machine, machine, machine, machine, machine); }

    // A store with one Ethernet service per interface name, each up and with
    // an address.
    void ethernet(std::vector<std::string> names) {
        Value order = Value::array();
        for (const auto& name : names) {
            order.push_back("svc-" + name);
            machine->dynamicStore["Setup:/Network/Service/svc-" + name + "/Interface"] = {
                {"DeviceName", name}, {"Type", "Ethernet"}, {"Hardware", "Ethernet"}};
            machine->dynamicStore["State:/Network/Interface/" + name + "/IPv4"] = {{"Addresses", {"10.0.0." + name}}};
        }
        machine->dynamicStore["Setup:/Network/Global/IPv4"] = {{"ServiceOrder", order}};
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& row : miner->getDataSet()) out.push_back(row[0]);
        return out;
    }
    void rebuild() {
        miner->setNeedsUpdate(true);
        miner->mineData();
    }
};

TEST_F(NetworkMinerTest, ServiceWalkFallbacksAndSkips) {
    auto& store = machine->dynamicStore;
    store["Setup:/Network/Global/IPv4"] = {
        {"ServiceOrder", {"nodev", "down", "nolink", "noaddr", "noipv4", "pppoe", "pppoe-noname", "modem", "wifi", 7}}};
    store["Setup:/Network/Service/nodev/Interface"] = {{"Type", "Ethernet"}};
    store["Setup:/Network/Service/down/Interface"] = {{"DeviceName", "en1"}};
    store["State:/Network/Interface/en1/Link"] = {{"Active", 0}};
    store["State:/Network/Interface/en1/IPv4"] = {{"Addresses", {"1.1.1.1"}}};
    store["Setup:/Network/Service/nolink/Interface"] = {{"DeviceName", "en2"}};
    store["State:/Network/Interface/en2/IPv4"] = {{"Addresses", {"10.0.0.2", "10.0.0.3"}}};
    store["Setup:/Network/Service/noaddr/Interface"] = {{"DeviceName", "en3"}, {"Hardware", "AirPort"}};
    store["State:/Network/Interface/en3/Link"] = {{"Active", true}};
    store["State:/Network/Interface/en3/IPv4"] = Value::object();
    store["Setup:/Network/Service/noipv4/Interface"] = {{"DeviceName", "en4"}};
    store["Setup:/Network/Service/pppoe/Interface"] = {
        {"DeviceName", "en5"}, {"SubType", "PPPoE"}, {"Type", "PPP"}, {"Hardware", "Modem"}};
    store["State:/Network/Service/pppoe/PPP"] = {{"InterfaceName", "ppp0"}};
    store["Setup:/Network/Service/pppoe-noname/Interface"] = {{"DeviceName", "en6"}, {"SubType", "PPPoE"}};
    store["State:/Network/Service/pppoe-noname/PPP"] = Value::object();
    store["Setup:/Network/Service/modem/Interface"] = {{"DeviceName", "modem0"}, {"Type", "PPP"}, {"Hardware", "Modem"}};
    store["State:/Network/Service/modem/IPv4"] = {{"InterfaceName", "ppp1"}};
    store["State:/Network/Service/modem/PPP"] = {{"InterfaceName", "ppp1"}};
    store["State:/Network/Interface/ppp1/IPv4"] = {{"Addresses", {"192.0.2.7"}}};
    store["Setup:/Network/Service/wifi/Interface"] = {
        {"DeviceName", "wl0"}, {"Hardware", "Wi-Fi"}, {"SubType", "IEEE80211"}, {"UserDefinedName", "Air"}};
    store["State:/Network/Interface/wl0/IPv4"] = {{"Addresses", {"192.168.1.9"}}};
    create();
    miner->getInterfaceTypes();
    miner->setup();
    EXPECT_EQ(miner->getInterfaceSpecs(), Value::parse(R"([
        ["en2", "10.0.0.2", "Ethernet"],
        ["en3", "", "AirPort"],
        ["ppp0", "", "PPPoE"],
        ["ppp1", "192.0.2.7", "Modem"],
        ["wl0", "192.168.1.9", "IEEE80211"]])"));
    EXPECT_EQ(miner->getInterfaces(), 5);
}

TEST_F(NetworkMinerTest, LaterServiceWinsForTheSameInterface) {
    auto& store = machine->dynamicStore;
    store["Setup:/Network/Global/IPv4"] = {{"ServiceOrder", {"a", "b"}}};
    store["Setup:/Network/Service/a/Interface"] = {{"DeviceName", "en0"}, {"Hardware", "Ethernet"}};
    store["Setup:/Network/Service/b/Interface"] = {{"DeviceName", "en0"}, {"Hardware", "FireWire"}};
    store["State:/Network/Interface/en0/IPv4"] = {{"Addresses", {"10.1.1.1"}}};
    create();
    miner->getInterfaceTypes();
    miner->setup();
    EXPECT_EQ(miner->getInterfaceSpecs(), Value::parse(R"([["en0", "10.1.1.1", "FireWire"]])"));
}

TEST_F(NetworkMinerTest, RatesOverTheIntervalWithAHalfSecondFloor) {
    ethernet({"en0"});
    machine->clockSamples = {100.0, 100.1, 101.1, 101.2};
    machine->interfaceSamples = {
        {{"en0", true, false, 5u << 20, 0}},
        {{"en0", true, false, (5u << 20) + 100 * 1024, 2048}},
        {{"en0", true, false, (5u << 20) + 100 * 1024 + 1000 * 1024, 2048 + 1000 * 1024}},
        {{"en0", true, false, (5u << 20) + 100 * 1024 + 1000 * 1024, 2048 + 1000 * 1024}},
    };
    create();
    EXPECT_TRUE(miner->getDataSet().is_null());
    rebuild();  // the first sample after a rebuild shows no rate
    EXPECT_EQ(miner->getDataSet(), Value::parse(R"([["en0", "Ethernet", "10.0.0.en0", "0kb/s", "0kb/s", "5mb", "0mb"]])"));
    EXPECT_EQ(machine->logLines, std::vector<std::string>{"needs update"});
    miner->mineData();  // 0.1 s later counts as 0.5 s: 100 KiB → 200 KiB/s
    EXPECT_EQ(miner->getDataSet()[0][3], "200kb/s");
    EXPECT_EQ(miner->getDataSet()[0][4], "4kb/s");
    miner->mineData();  // 1 s, 1000 KiB each way
    EXPECT_EQ(miner->getDataSet()[0][3], "1000kb/s");
    EXPECT_EQ(miner->getDataSet()[0][4], "1000kb/s");
    miner->mineData();
    EXPECT_EQ(miner->getDataSet()[0][3], "0kb/s");
    EXPECT_EQ(machine->logLines.size(), 1u);
}

TEST_F(NetworkMinerTest, CountersPast32BitKilobytesWrapAndRestartsShowNoRate) {
    ethernet({"en0"});
    const std::uint64_t base = (1ull << 42) - 512 * 1024;  // 2^32 KiB minus 512 KiB
    machine->clockSamples = {10, 11, 12, 13};
    machine->interfaceSamples = {{{"en0", true, false, base, 0}},
                                 {{"en0", true, false, base + 1024 * 1024, 0}},  // crosses 2^32 KiB
                                 {{"en0", true, false, 4096, 0}},                // counters restarted
                                 {{"en0", true, false, 4096 + 10 * 1024, 0}}};
    create();
    rebuild();
    miner->mineData();
    EXPECT_EQ(miner->getDataSet()[0][3], "1mb/s");  // 1024 KiB/s
    EXPECT_EQ(miner->getDataSet()[0][5], "4.00tb");  // 2^22 MiB received
    miner->mineData();
    EXPECT_EQ(miner->getDataSet()[0][3], "0kb/s");
    miner->mineData();
    EXPECT_EQ(miner->getDataSet()[0][3], "10kb/s");
}

TEST_F(NetworkMinerTest, OnlyUpNonLoopbackInterfacesOfTheTablesGetRows) {
    ethernet({"en0", "en1", "lo0", "en2"});
    machine->clockSamples = {1, 2};
    machine->interfaceSamples = {{{"lo0", true, true, 1, 1},
                                  {"en2", true, false, 1, 1},
                                  {"en1", false, false, 1, 1},
                                  {"en9", true, false, 1, 1},
                                  {"en0", true, false, 1, 1}}};
    create();
    miner->mineData();  // no walk yet: nothing is reported
    EXPECT_EQ(miner->getDataSet(), Value::array());
    rebuild();
    EXPECT_EQ(names(), (std::vector<std::string>{"en2", "en0"}));  // the kernel's order
    EXPECT_EQ(miner->getNamesAndTypes(), Value::parse(R"([["en2", "Ethernet"], ["en0", "Ethernet"]])"));
}

TEST_F(NetworkMinerTest, FailedKernelQueryKeepsDataAndTheRebuildPending) {
    ethernet({"en0"});
    machine->clockSamples = {1, 2, 3};
    create();
    rebuild();  // no counters: nothing stored, rebuild still pending
    EXPECT_TRUE(miner->getDataSet().is_null());
    machine->interfaceSamples = {{{"en0", true, false, 1 << 20, 0}}};
    miner->mineData();
    EXPECT_EQ(machine->logLines.size(), 2u);  // rebuilt again
    EXPECT_EQ(names(), std::vector<std::string>{"en0"});
    const Value kept = miner->getDataSet();
    machine->interfaceSamples.clear();
    miner->mineData();
    EXPECT_EQ(miner->getDataSet(), kept);
    EXPECT_EQ(miner->getNamesAndTypes(), Value::array());
}

TEST_F(NetworkMinerTest, EmptyServiceOrderReportsNothing) {
    machine->dynamicStore["Setup:/Network/Global/IPv4"] = {{"ServiceOrder", Value::array()}};
    machine->interfaceSamples = {{{"en0", true, false, 1, 1}}};
    create();
    rebuild();
    EXPECT_EQ(miner->getDataSet(), Value::array());
}

TEST_F(NetworkMinerTest, PrimaryInterfaceFollowsTheStoreAndItsNotification) {
    create();
    miner->getPrimaryInterface();
    EXPECT_EQ(miner->primaryInterface(), std::nullopt);
    machine->dynamicStore["State:/Network/Global/IPv4"] = {{"PrimaryInterface", "en0"}};
    machine->post(kPrimaryInterfaceChangeNotification);
    EXPECT_EQ(miner->primaryInterface(), "en0");
    miner.reset();
    machine->post(kPrimaryInterfaceChangeNotification);  // reaches no destroyed miner
    EXPECT_EQ(machine->observerCount(), 0u);
}

}  // namespace
}  // namespace vq
