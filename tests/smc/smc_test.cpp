#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <map>

#include "miners/PQLSort.h"
#include "platform/linux/sensors/applesmc_attributes.h"
#include "platform/linux/sensors/applesmc_transport.h"
#include "platform/sim/sim_smc.h"
#include "sensors/VelquorIntelControllerParquell.h"
#include "smc/smc.h"

namespace vq::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Hexadecimal digits of the bytes up to the last non-zero one.
std::string hex(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (size > 0 && bytes[size - 1] == 0) --size;
    std::string text;
    char pair[3];
    for (std::size_t i = 0; i < size; ++i) text.append(pair, std::snprintf(pair, sizeof pair, "%02x", bytes[i]));
    return text;
}

// Logs "command key size:bytes;" per request, with "!" when a field that the
// module leaves zero is not.
struct RecordingTransport final : SmcTransport {
    explicit RecordingTransport(std::shared_ptr<SmcTransport> transport) : inner(std::move(transport)) {}
    SmcServiceLookup matchService(std::string_view name) override { return inner->matchService(name); }
    IOReturn open(IOConnect& connect) override { return inner->open(connect); }
    IOReturn close(IOConnect connect) override { return inner->close(connect); }
    IOReturn callStructMethod(IOConnect connect, std::uint32_t selector, const SMCParamBlock& in,
                              SMCParamBlock& out) override {
        char key[5];
        _ultostr(key, in.key);
        const bool dirty = !hex(in.reserved0, sizeof in.reserved0).empty() || in.padding != 0 ||
                           !hex(&in.keyInfoType, sizeof in.keyInfoType + sizeof in.reserved1).empty();
        log += std::to_string(in.command) + " " + key + " " + std::to_string(in.keyInfoSize) + ":" +
               hex(in.bytes, sizeof in.bytes) + (dirty ? "!;" : ";");
        return inner->callStructMethod(connect, selector, in, out);
    }
    std::shared_ptr<SmcTransport> inner;
    std::string log;
};

class SmcLayer : public ::testing::Test {
protected:
    void install(std::shared_ptr<SmcTransport> transport) {
        recorder = std::make_shared<RecordingTransport>(std::move(transport));
        installProcessSmcTransport(recorder);
        conn = 0;
        conn2 = 0;
    }
    void SetUp() override { install(sim); }
    void TearDown() override { installProcessSmcTransport(nullptr); }
    std::shared_ptr<SimSmc> sim = std::make_shared<SimSmc>();
    std::shared_ptr<RecordingTransport> recorder;
};

TEST(SmcDecoding, BigEndianUnsignedAndFixedPointValues) {
    const std::tuple<std::string, std::uint32_t, int, float> cases[] = {
        // bytes, _strtoul, fraction bits, _strtof (fraction dropped, every byte but the last signed)
        {std::string("\0\0\x01\x2c", 4), 300, 2, 75.0f}, {"\xff\xff\xff\xfe", 0xFFFFFFFEu, 2, -266241.0f},
        {"\x80", 128, 2, 32.0f}, {"", 0, 2, 0.0f}, {"\x12\x37", 0x1237, 2, 1165.0f}, {"\x12\x34", 0x1234, 0, 4660.0f},
        {std::string("\x7f\0\0\x01\x2c", 5), 300, 2, 2130706432.0f},  // bytes past 32 bits add nothing
        {std::string("\x01\0\0\0\0\0\x04", 7), 4, 2, 1.0f},
    };
    for (const auto& [bytes, ul, e, f] : cases) {
        EXPECT_EQ(_strtoul(bytes.data(), static_cast<int>(bytes.size()), 10), ul) << bytes.size();
        EXPECT_EQ(_strtof(bytes.data(), static_cast<int>(bytes.size()), e), f) << bytes.size();
    }
}

TEST_F(SmcLayer, ReadsAndWritesSendZeroFilledRequestsAndStopAtTheFirstRefusal) {
    sim->setKey("TC0H", "sp78", {0x2D, 0x40});
    sim->setKey("FS! ", "ui16", {0x00, 0x00});
    sim->setKey("LSOF", "ui8 ", {0x00});
    sim->writable = true;
    ASSERT_EQ(SMCOpen(&conn2), 0u);
    const std::tuple<const char*, std::string, std::vector<SimSmc::Failure>, IOReturn, const char*, const char*>
        cases[] = {
            // key, digits to write (none: read), failures, status, requests, record read or key's bytes after
            {"TC0H", "", {}, 0, "9 TC0H 0:;5 TC0H 2:;", "TC0H sp78 2 2d40"},
            {"TC0H", "", {{kSMCReadKeyInfo, "TC0H", {}, 0xE00002D8u}}, 0xE00002D8u, "9 TC0H 0:;", "TC0H  0 "},
            {"TC0H", "", {{kSMCReadBytes, {}, {}, 0xE00002C0u}}, 0xE00002C0u, "9 TC0H 0:;5 TC0H 2:;", "TC0H sp78 2 "},
            {"LSOF", "123", {}, 0, "9 LSOF 0:;5 LSOF 1:;6 LSOF 1:12;", "12"},  // an odd last digit is ignored
            {"FS! ", "03", {}, kIOReturnError, "9 FS!  0:;5 FS!  2:;", ""},      // not the SMC's size
            {"LSOF", std::string(66, '1'), {}, kIOReturnBadArgument, "", "12"},  // more than 32 bytes
        };
    for (const auto& [key, digits, failures, status, requests, after] : cases) {
        SCOPED_TRACE(key + (" " + digits));
        sim->failures = failures;
        recorder->log.clear();
        SMCKeyValue val;
        std::memset(&val, 0x55, sizeof val);
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(digits.empty() ? SMCReadKey2(key, &val, conn2) : SMCWriteSimple(key, digits.c_str(), conn2), status);
        char message[40] = "";
        if (!digits.empty() && status != 0)
            std::snprintf(message, sizeof message, "Error: SMCWriteKey() = %08x\n", status);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), message);
        EXPECT_EQ(recorder->log, requests);
        const Bytes& bytes = sim->keys[key].bytes;  // after a write; after a read, the record
        EXPECT_EQ(digits.empty() ? std::string(val.key) + " " + val.type + " " + std::to_string(val.size) + " " +
                                       hex(val.bytes, 32) : hex(bytes.data(), bytes.size()), after);
    }
}

TEST_F(SmcLayer, ConnectionsAreDistinctAndDeadOnceClosed) {
    sim->setKey("TC0H", "sp78", {0x2D, 0x40});
    ASSERT_EQ(SMCOpen(&conn2), 0u);
    ASSERT_EQ(smc_init(), 0u);
    EXPECT_NE(conn, conn2);
    SMCParamBlock in{}, out{};
    EXPECT_EQ(SMCCall(3, &in, &out), kIOReturnUnsupported);  // the caller's method index is passed on
    SMCKeyValue val;
    EXPECT_EQ(smc_close(), 0u);
    EXPECT_EQ(SMCReadKey("TC0H", &val), kMachSendInvalidDest);
    EXPECT_EQ(SMCClose(conn2), 0u);
    EXPECT_EQ(SMCClose(conn2), kMachSendInvalidDest);
    sim->failOpen = true;  // a failed open leaves the handle as it was
    IOConnect handle = 77;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(SMCOpen(&handle), 1u);
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(handle, 77u);
}

// The applesmc driver's files (drivers/hwmon/applesmc.c): key_at_index selects
// the key that the key_at_index_* files describe, for every reader at once.
struct DriverModel final : linux_platform::AppleSmcAttributes {
    std::vector<std::array<std::string, 3>> keys = {  // name, type, data; sorted as the SMC sorts them
        {"#KEY", "ui32", std::string("\0\0\0\x0a", 4)}, {"F0Ac", "fpe2", "\x12\x34"}, {"F0Mn", "fpe2", "\x1f\x40"},
        {"FNum", "ui8 ", "\x01"}, {"FS! ", "ui16", std::string("\0\0", 2)}, {"MSAc", "ui16", "\x01\x2c"},
        {"TA0P", "sp78", "\x1a\x80"}, {"TC0H", "sp78", "\x2d\x40"}, {"TG0P", "sp78", std::string("\x32\0", 2)},
        {"Th0H", "sp78", "\x28\x40"}};
    std::uint32_t selected = 0;
    bool root = true;
    int interferences = 0;  // selections that another reader moves on to index 7
    std::map<std::string, std::string> written;  // fan files
    int read(const std::string& file, std::string& content) override {
        const auto& [name, type, data] = keys.at(selected);
        if (file == "key_count") content = std::to_string(keys.size()) + "\n";
        else if (file == "key_at_index") content = std::to_string(selected) + "\n";
        else if (file == "key_at_index_name") content = name + "\n";
        else if (file == "key_at_index_type") content = type + "\n";
        else if (file == "key_at_index_data_length") content = std::to_string(data.size()) + "\n";
        else if (file == "key_at_index_data") content = data;
        else if (file == "fan1_manual" || file == "fan2_manual") content = "0\n";
        else return ENOENT;
        return 0;
    }
    bool writable(const std::string&) override { return root; }
    int write(const std::string& file, std::string_view text) override {
        if (!root) return EACCES;
        if (file != "key_at_index") written[file] = text;
        else if (std::stoul(std::string(text)) >= keys.size()) return EINVAL;
        else selected = interferences-- > 0 ? 7 : std::stoul(std::string(text));
        return 0;
    }
};

class AppleSmc : public SmcLayer {
protected:
    void SetUp() override {
        install(std::make_shared<linux_platform::AppleSmcTransport>(driver));
        ASSERT_EQ(smc_init(), 0u);
    }
    std::string read(const char* key, IOReturn expected = kIOReturnSuccess) {
        SMCKeyValue val;
        EXPECT_EQ(SMCReadKey(key, &val), expected) << key;
        return std::string(val.type) + ":" + std::string(val.bytes, val.size);
    }
    std::shared_ptr<DriverModel> driver = std::make_shared<DriverModel>();
};

TEST_F(AppleSmc, KeysAreFoundByBisectionAndListedByIndex) {
    for (const auto& [name, type, data] : driver->keys) EXPECT_EQ(read(name.c_str()), type + ":" + data);
    for (const char* absent : {"!AAA", "F0Ab", "TC0D", "zzzz"}) EXPECT_EQ(read(absent), ":") << absent;
    driver->keys[7][2] = "\x31\x40";  // values are read every time
    EXPECT_EQ(read("TC0H"), "sp78:\x31\x40");
    SMCParamBlock in{}, out{};
    in.command = kSMCReadIndex;
    in.commandArgument = 9;
    EXPECT_EQ(SMCCall(2, &in, &out), 0u);
    EXPECT_EQ(out.key, packSmcCode("Th0H"));
    in.commandArgument = 10;
    EXPECT_EQ(SMCCall(2, &in, &out), kIOReturnBadArgument);
}

TEST_F(AppleSmc, ASelectorMovedByAnotherReaderOrLostRootIsReported) {
    read("TA0P");  // names cached
    driver->interferences = 1;
    EXPECT_EQ(read("TA0P"), "sp78:\x1a\x80");
    driver->interferences = 100;
    read("TA0P", 0xE00002D5u);
    driver->interferences = 0;
    driver->root = false;
    read("TC0H", kIOReturnNotPrivileged);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(smc_init(), 1u);  // only root may select keys
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Error: IOServiceOpen() = e00002c1\n");
}

TEST_F(AppleSmc, OnlyTheDriversFanKeysCanBeWritten) {
    using Files = std::map<std::string, std::string>;
    const std::tuple<const char*, const char*, IOReturn, Files> cases[] = {
        {"F0Mn", "2ee0", kIOReturnSuccess, {{"fan1_min", "3000"}}},
        {"F0Mn", "2ee1", kIOReturnBadArgument, {}},  // a fraction of an rpm
        {"FS! ", "0002", kIOReturnSuccess, {{"fan2_manual", "1"}}},
        {"FS! ", "0004", kIOReturnUnsupported, {}},  // no third fan
        {"MSAc", "0001", kIOReturnUnsupported, {}},
        {"F0Tg", "2ee0", kIOReturnError, {}},  // not on this SMC: the size check refuses it
    };
    for (const auto& [key, digits, status, written] : cases) {
        driver->written.clear();
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(SMCWriteSimple(key, digits, conn), status) << key << digits;
        ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(driver->written, written) << key << digits;
    }
}

TEST(SmcTemperature, WholeDegreesKeepTheSignAndNamesSortIgnoringCase) {
    const std::tuple<std::uint8_t, std::uint8_t, int, int> temperatures[] = {
        {0x2D, 0xC0, 2928, 45}, {0xFE, 0xC0, -80, -1}, {0x7F, 0xFF, 8191, 127}};
    for (const auto& [b0, b1, quarters, celsius] : temperatures) {
        EXPECT_EQ(decodeSmcTemperature(b0, b1).quarterDegrees64, quarters) << int(b0) << " " << int(b1);
        EXPECT_EQ(decodeSmcTemperature(b0, b1).celsius, celsius) << int(b0) << " " << int(b1);
    }
    EXPECT_EQ(PQLSort::compare(Value::array({"Drive", 1}), Value::array({"cpu", 2})), PQLSort::kOrderedDescending);
    EXPECT_EQ(PQLSort::compare(Value::array({"CPU A", 1}), Value::array({"cpu a", 2})), PQLSort::kOrderedSame);
    EXPECT_THROW(PQLSort::compare(Value::array({1}), Value::array({"a"})), std::invalid_argument);
}

class Controller : public SmcLayer {
protected:
    void temperature(const char* key, std::uint8_t b0, std::uint8_t b1) { sim->setKey(key, "sp78", {b0, b1}); }
};

TEST_F(Controller, KeysFoundAtInitAreGroupedByPriorityAndSortedByName) {
    temperature("TC0H", 0x00, 0xFF);  // below 1 °C at init: never read again
    temperature("TC0D", 0x01, 0x00);
    temperature("TG0P", 0x2D, 0x40);
    sim->failures = {{kSMCReadKeyInfo, "TG0P", std::nullopt, kIOReturnError}};  // failing at init: left out
    VelquorIntelControllerParquell early;
    ASSERT_TRUE(early.isSupported());
    sim->failures.clear();
    for (const char* key : {"TC0H", "TC0D", "TA0P", "TG0P", "TC1D", "TCAH", "Th0H", "TG0D", "TM0S", "Tp0C", "TB0T"})
        temperature(key, 0x28, 0x00);
    recorder->log.clear();
    EXPECT_EQ(early.getTempValues(), Value::parse(R"([[["CPU A", 40]], [], [], []])"));
    EXPECT_EQ(recorder->log, "9 TC0D 0:;5 TC0D 2:;");
    VelquorIntelControllerParquell controller;
    EXPECT_EQ(controller.getTempValues(), Value::parse(R"([
        [["CPU A", 40], ["CPU A", 40], ["CPU A", 40], ["CPU B", 40]],
        [["Ambient", 40], ["GPU", 40], ["GPU Diode", 40], ["Heatsink A", 40]],
        [],
        [["Enclosure Bottom", 40], ["Mem module 1", 40], ["Power supply 1", 40]]])"));
    // A reading that fails or falls below 1 °C is left out of that call only; below zero is shown.
    temperature("TC0D", 0x00, 0x80);
    temperature("TC0H", 0xFF, 0x00);
    sim->failures = {{kSMCReadBytes, "TA0P", std::nullopt, kIOReturnError}};
    EXPECT_EQ(controller.getTempValues()[0], Value::parse(R"([["CPU A", -1], ["CPU A", 40], ["CPU B", 40]])"));
    EXPECT_EQ(controller.getTempValues()[1].size(), 3u);
    sim->failures.clear();
    EXPECT_EQ(controller.getTempValues()[1].size(), 4u);
}

TEST_F(Controller, FanNamesSpeedsAndCount) {
    using Fans = std::vector<std::pair<Bytes, std::string>>;  // speed (none: no "F<n>Ac" key) and ID bytes
    const std::tuple<std::uint8_t, Fans, const char*> cases[] = {
        {2,  // names keep the bytes from 33 to 127
         {{{0x12, 0x34}, std::string("\0\x12\0\0", 4) + "Left side\x7f\xc3\xa9"}, {{0x13, 0x88}, ""}},
         R"({"Leftside\u007f": "1165rpm", "Fan 1": "1250rpm"})"},
        {2, {{{0x12, 0x34}, "Main"}, {{0x1F, 0x40}, "Main"}}, R"({"Main": "2000rpm"})"},  // the later fan wins
        {1, {{{}, "CPU"}}, R"({"CPU": "0rpm"})"},
        {0xFF, {}, R"({"Fan 0": "0rpm", "Fan 1": "0rpm", "Fan 2": "0rpm", "Fan 3": "0rpm", "Fan 4": "0rpm",
                     "Fan 5": "0rpm", "Fan 6": "0rpm", "Fan 7": "0rpm", "Fan 8": "0rpm", "Fan 9": "0rpm"})"},
    };
    for (const auto& [count, fans, values] : cases) {
        sim->keys.clear();
        sim->setKey("FNum", "ui8 ", {count});
        for (std::size_t i = 0; i < fans.size(); ++i) {
            if (!fans[i].first.empty()) sim->setKey("F" + std::to_string(i) + "Ac", "fpe2", fans[i].first);
            sim->setKey("F" + std::to_string(i) + "ID", "{fds", Bytes(fans[i].second.begin(), fans[i].second.end()));
        }
        VelquorIntelControllerParquell controller;
        EXPECT_EQ(controller.getFanValues(), Value::parse(values));
        EXPECT_EQ(controller.getFans().size(), std::min<std::size_t>(count, 10)) << values;  // keys end at "F9"
        sim->failures = {{kSMCReadKeyInfo, "FNum", std::nullopt, kIOReturnError}};
        EXPECT_EQ(controller.getFanValues(), Value::object());
        EXPECT_EQ(controller.getFans(), Value::array());
        sim->failures.clear();
    }
    sim->setKey("FNum", "ui8 ", {1});
    sim->setKey("F0Ac", "fpe2", {0x12, 0x34});
    sim->setKey("F0ID", "{fds", {'C', 'P', 'U'});
    VelquorIntelControllerParquell controller;
    SMCClose(conn2);  // the names are read through the controller's own conn2, the rest through conn
    EXPECT_EQ(controller.getFanValues(), Value::parse(R"({"Fan 0": "1165rpm"})"));
}

TEST_F(Controller, ConnectionsCloseWithTheLastControllerAndWithoutAnSmcAllIsEmpty) {
    temperature("TC0H", 0x2D, 0x40);
    auto temps = std::make_unique<VelquorIntelControllerParquell>();
    auto fans = std::make_unique<VelquorIntelControllerParquell>();
    EXPECT_EQ(sim->openConnections(), 2u);  // shared, not opened twice
    fans.reset();  // the fan miner's controller goes; the temperature miner's still reads
    EXPECT_EQ(temps->getTempValues()[0], Value::parse(R"([["CPU A", 45]])"));
    temps.reset();
    EXPECT_EQ(sim->openConnections(), 0u);
    install(makeNoSmcTransport());
    ::testing::internal::CaptureStdout();
    VelquorIntelControllerParquell controller;
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Error: no SMC found\n");
    EXPECT_FALSE(controller.isSupported());
    EXPECT_EQ(controller.getTempValues(), Value::parse("[[], [], [], []]"));
    EXPECT_EQ(controller.getFanValues(), Value::object());
}

}  // namespace
}  // namespace vq::test
