#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "applesmc_driver_model.h"
#include "platform/linux/applesmc_transport.h"
#include "smc_test_support.h"

namespace vq::test {
namespace {

using linux_platform::AppleSmcTransport;
namespace fs = std::filesystem;

TEST(AppleSmcParsing, NumbersAndCodesKeepTheDriversFormat) {
    EXPECT_EQ(linux_platform::parseAppleSmcNumber("742\n"), 742u);
    EXPECT_EQ(linux_platform::parseAppleSmcNumber("742"), std::nullopt);  // cut short
    EXPECT_EQ(linux_platform::parseAppleSmcNumber("-1\n"), std::nullopt);
    EXPECT_EQ(linux_platform::parseAppleSmcNumber("\n"), std::nullopt);
    // Trailing spaces belong to the code.
    EXPECT_EQ(linux_platform::parseAppleSmcCode("ui8 \n"), "ui8 ");
    EXPECT_EQ(linux_platform::parseAppleSmcCode("FS! \n"), "FS! ");
    EXPECT_EQ(linux_platform::parseAppleSmcCode("TC0H"), std::nullopt);
    EXPECT_EQ(linux_platform::parseAppleSmcCode("TOOLONG\n"), std::nullopt);
}

// A MacBook-like key table, sorted as the SMC sorts it.
std::vector<AppleSmcDriverModel::Key> macKeys() {
    return {
        {"#KEY", "ui32", std::string("\x00\x00\x00\x0a", 4)},
        {"F0Ac", "fpe2", "\x12\x34"},
        {"F0Mn", "fpe2", "\x1f\x40"},
        {"FNum", "ui8 ", "\x01"},
        {"FS! ", "ui16", std::string("\x00\x00", 2)},
        {"MSAc", "ui16", "\x01\x2c"},
        {"TA0P", "sp78", "\x1a\x80"},
        {"TC0H", "sp78", "\x2d\x40"},
        {"TG0P", "sp78", std::string("\x32\x00", 2)},
        {"Th0H", "sp78", "\x28\x40"},
    };
}

class AppleSmc : public SmcFixture {
protected:
    void SetUp() override {
        driver = std::make_shared<AppleSmcDriverModel>(macKeys());
        driver->fanCount = 2;
        transport = std::make_shared<AppleSmcTransport>(driver);
        install(transport);
    }
    std::string read(const char* key, IOReturn expected = kIOReturnSuccess) {
        SMCKeyValue val;
        EXPECT_EQ(SMCReadKey(key, &val), expected) << key;
        return std::string(val.type) + ":" + std::string(val.bytes, val.size);
    }

    std::shared_ptr<AppleSmcDriverModel> driver;
    std::shared_ptr<AppleSmcTransport> transport;
};

TEST_F(AppleSmc, EveryKeyIsFoundByBisection) {
    openDefault();
    for (const auto& key : macKeys()) EXPECT_EQ(read(key.name.c_str()), key.type + ":" + key.data);
    // Absent keys on either side of and between the present ones.
    for (const char* absent : {"!AAA", "F0Ab", "TC0D", "zzzz"}) EXPECT_EQ(read(absent), ":") << absent;
}

TEST_F(AppleSmc, NamesTypesAndSizesAreReadOncePerConnection) {
    openDefault();
    read("TC0H");
    const int names = driver->reads["key_at_index_name"];
    const int types = driver->reads["key_at_index_type"];
    read("TC0H");
    EXPECT_EQ(driver->reads["key_at_index_name"], names);
    EXPECT_EQ(driver->reads["key_at_index_type"], types);
    EXPECT_EQ(driver->reads["key_at_index_data"], 2);  // values are always read afresh
    EXPECT_LE(names, 5);                               // log2(10) steps and the check
}

TEST_F(AppleSmc, ListingByIndexMatchesTheDriversOrder) {
    openDefault();
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(SMCReadIndexCount(), 10u);
    for (std::uint32_t i = 0; i < 10; ++i) {
        SMCParamBlock in = zeroBlock(), out = zeroBlock();
        in.command = kSMCReadIndex;
        in.commandArgument = i;
        ASSERT_EQ(SMCCall(2, &in, &out), 0u);
        char name[5];
        _ultostr(name, out.key);
        EXPECT_EQ(std::string(name), macKeys()[i].name);
    }
    SMCParamBlock in = zeroBlock(), out = zeroBlock();
    in.command = kSMCReadIndex;
    in.commandArgument = 10;
    EXPECT_EQ(SMCCall(2, &in, &out), kIOReturnBadArgument);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

TEST_F(AppleSmc, AnotherReaderMovingTheSelectorIsDetected) {
    openDefault();
    read("TA0P");  // names cached
    driver->interferingIndex = 7;  // TC0H
    driver->interferences = 1;
    EXPECT_EQ(read("TA0P"), "sp78:\x1a\x80");

    driver->interferences = 100;
    SMCKeyValue val;
    EXPECT_EQ(SMCReadKey("TA0P", &val), 0xE00002D5u);
}

TEST_F(AppleSmc, WithoutRootTheConnectionIsRefused) {
    driver->root = false;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(smc_init(), 1u);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Error: IOServiceOpen() = e00002c1\n");

    // Root lost after the connection was made: reads report it.
    driver->root = true;
    openDefault();
    driver->root = false;
    read("TC0H", kIOReturnNotPrivileged);
}

TEST_F(AppleSmc, OnlyTheDriversFanKeysCanBeWritten) {
    openDefault();
    struct Case {
        const char* key;
        const char* hex;
        IOReturn status;
        const char* file;
        const char* written;
    };
    // SMCWriteKey2 checks the size against the SMC's own first, so these all
    // use the keys' real sizes.
    const Case cases[] = {
        {"F0Mn", "2ee0", kIOReturnSuccess, "fan1_min", "3000"},
        {"F0Mn", "2ee1", kIOReturnBadArgument, "fan1_min", nullptr},  // a fraction of an rpm
        {"FS! ", "0002", kIOReturnSuccess, "fan2_manual", "1"},
        {"FS! ", "0004", kIOReturnUnsupported, "fan3_manual", nullptr},  // no third fan
        {"MSAc", "0001", kIOReturnUnsupported, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key + std::string(" ") + c.hex);
        driver->writes.clear();
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(SMCWriteSimple(c.key, c.hex, conn), c.status);
        ::testing::internal::GetCapturedStdout();
        if (c.written)
            EXPECT_EQ(driver->writes[c.file], c.written);
        else
            EXPECT_TRUE(driver->writes.empty());
    }
    // F0Tg does not exist on this SMC: the size check refuses it.
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(SMCWriteSimple("F0Tg", "2ee0", conn), kIOReturnError);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Error: SMCWriteKey() = e00002bc\n");

    driver->root = false;
    SMCParamBlock in = zeroBlock(), out = zeroBlock();
    in.key = packSmcCode("F0Mn");
    in.command = kSMCWriteBytes;
    in.keyInfoSize = 2;
    in.bytes[0] = 0x2E;
    EXPECT_EQ(SMCCall(2, &in, &out), kIOReturnNotPrivileged);
}

// The real file reader on a copy of a one-key device tree.
TEST(AppleSmcSysfs, ReadsTheDeviceFoundUnderTheSysRoot) {
    const fs::path source = fs::path(VELQUETTE_FIXTURES) / "smc/sysfs-one-key";
    const fs::path root = fs::temp_directory_path() / ("velquette-applesmc-" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::copy(source, root, fs::copy_options::recursive);

    EXPECT_EQ(linux_platform::findAppleSmcDevice(root.string() + "/nonexistent"), std::nullopt);
    auto device = linux_platform::findAppleSmcDevice(root.string());
    ASSERT_TRUE(device);
    EXPECT_EQ(*device, root.string() + "/devices/platform/applesmc.768");

    auto files = std::make_shared<linux_platform::SysfsAppleSmcAttributes>(*device);
    AppleSmcTransport transport(files);
    ASSERT_EQ(transport.matchService("AppleSMC").found, true);
    IOConnect connect = 0;
    ASSERT_EQ(transport.open(connect), 0u);
    SMCParamBlock in = zeroBlock(), out = zeroBlock();
    in.key = packSmcCode("TC0H");
    in.command = kSMCReadKeyInfo;
    ASSERT_EQ(transport.callStructMethod(connect, 2, in, out), 0u);
    EXPECT_EQ(out.keyInfoSize, 2u);
    EXPECT_EQ(out.keyInfoType, packSmcCode("sp78"));
    in.command = kSMCReadBytes;
    in.keyInfoSize = 2;
    ASSERT_EQ(transport.callStructMethod(connect, 2, in, out), 0u);
    EXPECT_EQ(out.bytes[0], 0x2D);
    EXPECT_EQ(out.bytes[1], 0x40);

    // A directory whose name file is not the driver's is not the device.
    std::ofstream(root / "devices/platform/applesmc.768/name") << "coretemp\n";
    EXPECT_EQ(linux_platform::findAppleSmcDevice(root.string()), std::nullopt);
    fs::remove_all(root);
}

}  // namespace
}  // namespace vq::test
