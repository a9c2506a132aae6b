#include <gtest/gtest.h>

#include "miners/PQLSort.h"
#include "sensors/VelquorIntelControllerParquell.h"
#include "smc_test_support.h"

namespace vq::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(SmcTemperature, DecodesWholeDegreesWithTheSignKept) {
    struct Case {
        std::uint8_t b0, b1;
        int q, celsius;
    };
    const Case cases[] = {
        {0x2D, 0x40, 2896, 45},  // 45.25 °C
        {0x2D, 0xC0, 2928, 45},  // 45.75 °C
        {0xFF, 0x00, -64, -1},   // -1 °C
        {0xFE, 0xC0, -80, -1},   // -1.25 °C: q rounds down, T truncates toward zero
        {0x00, 0x80, 32, 0},     // 0.5 °C
        {0x00, 0xFF, 63, 0},     // just under 1 °C
        {0x01, 0x00, 64, 1},
        {0x7F, 0xFF, 8191, 127},
    };
    for (const Case& c : cases) {
        const auto t = decodeSmcTemperature(c.b0, c.b1);
        EXPECT_EQ(t.quarterDegrees64, c.q) << int(c.b0) << " " << int(c.b1);
        EXPECT_EQ(t.celsius, c.celsius) << int(c.b0) << " " << int(c.b1);
    }
}

TEST(PQLSortCompare, IgnoresCaseAndOrdersByTheFirstElement) {
    struct Case {
        const char* a;
        const char* b;
        PQLSort::ComparisonResult expected;
    };
    const Case cases[] = {
        {"cpu", "Drive", PQLSort::kOrderedAscending},
        {"Drive", "cpu", PQLSort::kOrderedDescending},
        {"CPU A", "cpu a", PQLSort::kOrderedSame},
        {"GPU", "GPU Diode", PQLSort::kOrderedAscending},
        {"", "a", PQLSort::kOrderedAscending},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PQLSort::compare(Value::array({c.a, 1}), Value::array({c.b, 2})), c.expected) << c.a << " / " << c.b;
    }
    EXPECT_THROW(PQLSort::compare(Value::array({1}), Value::array({"a"})), std::invalid_argument);
    EXPECT_THROW(PQLSort::compare(Value::array(), Value::array({"a"})), std::invalid_argument);
}

class Controller : public SmcFixture {
protected:
    void temperature(const char* key, std::uint8_t b0, std::uint8_t b1) { sim->setKey(key, "sp78", {b0, b1}); }
    void fans(std::uint8_t count) { sim->setKey("FNum", "ui8 ", {count}); }
    void fan(int index, Bytes speed, const std::string& id) {
        sim->setKey("F" + std::to_string(index) + "Ac", "fpe2", std::move(speed));
        sim->setKey("F" + std::to_string(index) + "ID", "{fds", Bytes(id.begin(), id.end()));
    }
    static Value groups(Value g1, Value g2, Value g3, Value g4) { return Value::array({g1, g2, g3, g4}); }
};

TEST_F(Controller, KeysBelowOneDegreeAtInitAreNeverRead) {
    temperature("TC0H", 0x00, 0xFF);  // just under 1 °C
    temperature("TC0D", 0x01, 0x00);  // 1 °C
    temperature("TA0P", 0x00, 0x80);
    temperature("TG0P", 0x2D, 0x40);
    sim->failures = {{kSMCReadKeyInfo, "TG0P", std::nullopt, kIOReturnError}};
    VelquorIntelControllerParquell controller;
    ASSERT_TRUE(controller.isSupported());
    sim->failures.clear();

    // Every key now reads well above 1 °C; only TC0D was taken at init.
    for (const char* key : {"TC0H", "TC0D", "TA0P", "TG0P"}) temperature(key, 0x30, 0x00);
    recorder->calls.clear();
    EXPECT_EQ(controller.getTempValues(),
              groups(Value::array({Value::array({"CPU A", 48})}), Value::array(), Value::array(), Value::array()));
    EXPECT_EQ(recorder->calls.size(), 2u);  // one key, two exchanges
}

TEST_F(Controller, GroupsByPriorityAndSortsByDisplayName) {
    temperature("TC0H", 0x2D, 0x40);
    temperature("TA0P", 0x1A, 0x80);
    {
        VelquorIntelControllerParquell controller;
        EXPECT_EQ(controller.getTempValues(), groups(Value::array({Value::array({"CPU A", 45})}),
                                                     Value::array({Value::array({"Ambient", 26})}), Value::array(),
                                                     Value::array()));
    }

    for (const char* key : {"TC1D", "TCAH", "TG0P", "Th0H", "TG0D", "TM0S", "Tp0C", "TB0T"})
        temperature(key, 0x28, 0x00);
    VelquorIntelControllerParquell controller;
    const Value result = controller.getTempValues();
    auto names = [&](std::size_t group) {
        std::vector<std::string> list;
        for (const auto& row : result[group]) list.push_back(row[0]);
        return list;
    };
    // Two keys shown as "CPU A" both stay.
    EXPECT_EQ(names(0), (std::vector<std::string>{"CPU A", "CPU A", "CPU B"}));
    EXPECT_EQ(names(1), (std::vector<std::string>{"Ambient", "GPU", "GPU Diode", "Heatsink A"}));
    EXPECT_TRUE(result[2].empty());
    EXPECT_EQ(names(3), (std::vector<std::string>{"Enclosure Bottom", "Mem module 1", "Power supply 1"}));
}

TEST_F(Controller, ReadingsThatFailOrFallToZeroAreLeftOutOfThatCallOnly) {
    temperature("TC0H", 0x2D, 0x40);
    temperature("TA0P", 0x1A, 0x80);
    VelquorIntelControllerParquell controller;

    temperature("TC0H", 0x00, 0x80);  // 0.5 °C reads as 0
    sim->failures = {{kSMCReadBytes, "TA0P", std::nullopt, kIOReturnError}};
    EXPECT_EQ(controller.getTempValues(), groups(Value::array(), Value::array(), Value::array(), Value::array()));

    sim->failures.clear();
    temperature("TC0H", 0xFF, 0x00);  // below zero is shown
    EXPECT_EQ(controller.getTempValues(),
              groups(Value::array({Value::array({"CPU A", -1})}), Value::array({Value::array({"Ambient", 26})}),
                     Value::array(), Value::array()));
}

TEST_F(Controller, FanNamesComeFromPrintableIdBytes) {
    fans(2);
    fan(0, {0x12, 0x34}, std::string("\x00\x12\x00\x00", 4) + "Left side\x7f\xc3\xa9");
    sim->setKey("F1Ac", "fpe2", {0x13, 0x88});
    sim->setKey("F1ID", "{fds", {});  // size 0
    VelquorIntelControllerParquell controller;
    EXPECT_EQ(controller.getFanValues(), (Value{{"Leftside\x7f", "1165rpm"}, {"Fan 1", "1250rpm"}}));
    EXPECT_EQ(controller.getFanName(5), "Fan 5");
    EXPECT_EQ(controller.getFans(), Value::array({"Fan 0", "Fan 1"}));
}

TEST_F(Controller, EqualFanNamesKeepTheLaterFan) {
    fans(2);
    fan(0, {0x12, 0x34}, "Main");
    fan(1, {0x1F, 0x40}, "Main");
    VelquorIntelControllerParquell controller;
    EXPECT_EQ(controller.getFanValues(), (Value{{"Main", "2000rpm"}}));
}

TEST_F(Controller, FanReadsUseTheirConnectionsAndDegradeToZero) {
    fans(1);
    sim->setKey("F0ID", "{fds", Bytes{'C', 'P', 'U'});
    VelquorIntelControllerParquell controller;
    recorder->calls.clear();
    // No F0Ac key: the speed is 0rpm.
    EXPECT_EQ(controller.getFanValues(), (Value{{"CPU", "0rpm"}}));
    // FNum and F0Ac through conn, F0ID through the controller's own conn2.
    ASSERT_EQ(recorder->calls.size(), 6u);
    const IOConnect expected[] = {conn, conn, conn, conn, conn2, conn2};
    for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(recorder->calls[i].connect, expected[i]) << i;
    EXPECT_EQ(recorder->calls[4].request.key, packSmcCode("F0ID"));

    sim->failures = {{kSMCReadKeyInfo, "FNum", std::nullopt, kIOReturnError}};
    EXPECT_EQ(controller.getFanValues(), Value::object());
    EXPECT_EQ(controller.getFans(), Value::array());
}

TEST_F(Controller, FanCountBeyondTheKeySpaceIsCapped) {
    fans(0xFF);
    VelquorIntelControllerParquell controller;
    const Value values = controller.getFanValues();
    EXPECT_EQ(values.size(), 10u);
    EXPECT_EQ(values["Fan 9"], "0rpm");
    EXPECT_EQ(controller.getFans().size(), 10u);
}

TEST_F(Controller, WithoutAnSmcEverythingIsEmpty) {
    install(makeNoSmcTransport());
    ::testing::internal::CaptureStdout();
    VelquorIntelControllerParquell controller;
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Error: no SMC found\n");
    EXPECT_FALSE(controller.isSupported());
    EXPECT_EQ(controller.getTempValues(), groups(Value::array(), Value::array(), Value::array(), Value::array()));
    EXPECT_EQ(controller.getFanValues(), Value::object());
    EXPECT_EQ(controller.getFans(), Value::array());
}

TEST_F(Controller, ConnectionsCloseWithTheLastController) {
    temperature("TC0H", 0x2D, 0x40);
    auto temps = std::make_unique<VelquorIntelControllerParquell>();
    auto fansController = std::make_unique<VelquorIntelControllerParquell>();
    EXPECT_EQ(sim->openConnections(), 2u);  // shared, not opened twice

    // The fan miner's controller goes (the sensor module took its place);
    // the temperature miner's still reads.
    fansController.reset();
    EXPECT_EQ(temps->getTempValues()[0], Value::array({Value::array({"CPU A", 45})}));

    temps.reset();
    EXPECT_EQ(sim->openConnections(), 0u);
}

}  // namespace
}  // namespace vq::test
