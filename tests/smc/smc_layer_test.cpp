#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "smc_test_support.h"

namespace vq::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(SmcDecoding, StrtoulIsTheBigEndianValueOfTheFirstBytes) {
    struct Case {
        Bytes bytes;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {{0x02}, 2},
        {{0x01, 0x2C}, 300},
        {{0x00, 0x00, 0x01, 0x2C}, 300},
        {{0xFF, 0xFF, 0xFF, 0xFE}, 0xFFFFFFFEu},
        {{0x80}, 128},  // bytes are unsigned
        // A fifth byte from the end is shifted out of 32 bits entirely.
        {{0x7F, 0x00, 0x00, 0x01, 0x2C}, 300},
        {{}, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(_strtoul(reinterpret_cast<const char*>(c.bytes.data()), static_cast<int>(c.bytes.size()), 10),
                  c.expected)
            << ::testing::PrintToString(c.bytes);
    }
}

TEST(SmcDecoding, StrtofDropsTheFractionAndSignsAllButTheLastByte) {
    struct Case {
        Bytes bytes;
        int e;
        float expected;
    };
    const Case cases[] = {
        {{0x00, 0x00}, 2, 0.0f},
        {{0x12, 0x34}, 2, 1165.0f},
        {{0x12, 0x37}, 2, 1165.0f},   // the two fraction bits are dropped
        {{0xFF, 0x00}, 2, -64.0f},    // a leading byte is signed
        {{0x00, 0xFF}, 2, 63.0f},     // the last byte is not
        {{0x5D, 0xC0}, 2, 6000.0f},
        {{0x08}, 2, 2.0f},
        {{0x12, 0x34}, 0, 4660.0f},
        // Shifts of 32 bits or more add nothing instead of being undefined.
        {{0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04}, 2, 1.0f},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(_strtof(reinterpret_cast<const char*>(c.bytes.data()), static_cast<int>(c.bytes.size()), c.e),
                  c.expected)
            << ::testing::PrintToString(c.bytes) << " e=" << c.e;
    }
}

TEST(SmcDecoding, KeysPackFirstCharacterHighestAndUnpackBack) {
    EXPECT_EQ(packSmcCode("FS! "), 0x46532120u);
    EXPECT_EQ(packSmcCode("TC0H"), 0x54433048u);
    EXPECT_EQ(packSmcCode("ab"), 0x61620000u);
    char text[5] = "xxxx";
    _ultostr(text, 0x46532120u);
    EXPECT_STREQ(text, "FS! ");
}

class SmcLayer : public SmcFixture {};

TEST_F(SmcLayer, ReadSendsKeyInfoThenReadBytesAsZeroFilledStructures) {
    sim->setKey("FS! ", "ui16", {0x00, 0x03});
    openDefault();
    SMCKeyValue val;
    ASSERT_EQ(SMCReadKey("FS! ", &val), 0u);

    ASSERT_EQ(recorder->calls.size(), 2u);
    SMCParamBlock info = zeroBlock();
    info.key = 0x46532120u;
    info.command = 9;
    SMCParamBlock read = zeroBlock();
    read.key = 0x46532120u;
    read.keyInfoSize = 2;
    read.command = 5;
    EXPECT_TRUE(sameBytes(recorder->calls[0].request, info));
    EXPECT_TRUE(sameBytes(recorder->calls[1].request, read));
    for (const auto& call : recorder->calls) {
        EXPECT_EQ(call.selector, 2u);
        EXPECT_EQ(call.connect, conn);
    }
    EXPECT_STREQ(val.key, "FS! ");
    EXPECT_STREQ(val.type, "ui16");
    EXPECT_EQ(val.size, 2u);
    EXPECT_EQ(val.bytes[1], 0x03);
}

TEST_F(SmcLayer, UnknownKeyReadsAsSizeZeroWithSuccess) {
    openDefault();
    SMCKeyValue val;
    EXPECT_EQ(SMCReadKey("ZZZZ", &val), 0u);
    EXPECT_EQ(val.size, 0u);
    EXPECT_STREQ(val.type, "");
    EXPECT_STREQ(val.key, "ZZZZ");
    // The read-bytes exchange still goes out, asking for 0 bytes.
    ASSERT_EQ(recorder->commands(), (Bytes{9, 5}));
    EXPECT_EQ(recorder->calls[1].request.keyInfoSize, 0u);
}

TEST_F(SmcLayer, FailedExchangesLeaveTheRecordAsFarAsItGot) {
    sim->setKey("TC0H", "sp78", {0x2D, 0x40});
    openDefault();

    sim->failures = {{kSMCReadKeyInfo, "TC0H", std::nullopt, 0xE00002D8u}};
    SMCKeyValue val;
    std::memset(&val, 0x55, sizeof val);
    EXPECT_EQ(SMCReadKey("TC0H", &val), 0xE00002D8u);
    EXPECT_EQ(val.size, 0u);
    EXPECT_STREQ(val.type, "");
    EXPECT_EQ(std::count(val.bytes, val.bytes + 32, 0), 32);
    EXPECT_EQ(recorder->commands(), (Bytes{9}));  // no read-bytes after a failed key info

    recorder->calls.clear();
    sim->failures = {{kSMCReadBytes, std::nullopt, std::nullopt, 0xE00002C0u}};
    EXPECT_EQ(SMCReadKey("TC0H", &val), 0xE00002C0u);
    EXPECT_EQ(val.size, 2u);
    EXPECT_STREQ(val.type, "sp78");
    EXPECT_EQ(std::count(val.bytes, val.bytes + 32, 0), 32);
    EXPECT_EQ(recorder->commands(), (Bytes{9, 5}));
}

TEST_F(SmcLayer, ReportedSizeAboveThirtyTwoIsNeverReadPast) {
    Bytes big(40);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i + 1);
    sim->setKey("OSK0", "ch8*", big);
    openDefault();
    SMCKeyValue val;
    ASSERT_EQ(SMCReadKey("OSK0", &val), 0u);
    EXPECT_EQ(val.size, 32u);
    EXPECT_EQ(val.bytes[31], 32);
    EXPECT_EQ(recorder->calls[1].request.keyInfoSize, 32u);

    // Nor can the 40-byte key be written 32 bytes at a time.
    sim->writable = true;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(SMCWriteSimple("OSK0", std::string(64, 'a').c_str(), conn), kIOReturnError);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Error: SMCWriteKey() = e00002bc\n");
    EXPECT_EQ(sim->keys["OSK0"].bytes, big);
}

TEST_F(SmcLayer, WriteOfTheWrongSizeSendsNoWriteRequest) {
    sim->setKey("FS! ", "ui16", {0x00, 0x00});
    sim->writable = true;
    openDefault();
    SMCKeyValue val;
    std::memset(&val, 0, sizeof val);
    std::memcpy(val.key, "FS! ", 5);
    val.size = 1;
    val.bytes[0] = 0x03;
    EXPECT_EQ(SMCWriteKey(val), 0xE00002BCu);
    EXPECT_EQ(recorder->commands(), (Bytes{9, 5}));
    EXPECT_EQ(sim->keys["FS! "].bytes, (Bytes{0x00, 0x00}));
}

TEST_F(SmcLayer, WriteSendsKeySizeAndAllThirtyTwoBytes) {
    sim->setKey("F0Mn", "fpe2", {0x1F, 0x40});
    sim->writable = true;
    openDefault();
    SMCKeyValue val;
    std::memset(&val, 0, sizeof val);
    std::memcpy(val.key, "F0Mn", 5);
    val.size = 2;
    val.bytes[0] = 0x2E;
    val.bytes[1] = static_cast<char>(0xE0);
    ASSERT_EQ(SMCWriteKey(val), 0u);

    ASSERT_EQ(recorder->commands(), (Bytes{9, 5, 6}));
    SMCParamBlock write = zeroBlock();
    write.key = packSmcCode("F0Mn");
    write.keyInfoSize = 2;
    write.command = 6;
    write.bytes[0] = 0x2E;
    write.bytes[1] = 0xE0;
    EXPECT_TRUE(sameBytes(recorder->calls[2].request, write));
    EXPECT_EQ(sim->keys["F0Mn"].bytes, (Bytes{0x2E, 0xE0}));
}

TEST_F(SmcLayer, WriteSimpleTakesDigitPairsAndRefusesOverlongTexts) {
    sim->setKey("LSOF", "ui8 ", {0x00});
    sim->writable = true;
    ASSERT_EQ(SMCOpen(&conn2), 0u);

    // Three digits: one byte from the first two, the third ignored.
    EXPECT_EQ(SMCWriteSimple("LSOF", "123", conn2), 0u);
    ASSERT_EQ(recorder->commands(), (Bytes{9, 5, 6}));
    EXPECT_EQ(recorder->calls[2].request.keyInfoSize, 1u);
    EXPECT_EQ(recorder->calls[2].request.bytes[0], 0x12);
    EXPECT_EQ(recorder->calls[2].request.bytes[1], 0x00);
    EXPECT_EQ(recorder->calls[2].connect, conn2);
    EXPECT_EQ(sim->keys["LSOF"].bytes, (Bytes{0x12}));

    recorder->calls.clear();
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(SMCWriteSimple("LSOF", std::string(66, '1').c_str(), conn2), kIOReturnBadArgument);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Error: SMCWriteKey() = e00002c2\n");
    EXPECT_TRUE(recorder->calls.empty());

    ::testing::internal::CaptureStdout();
    sim->writable = false;
    EXPECT_EQ(SMCWriteSimple("LSOF", "ff", conn2), kIOReturnNotPrivileged);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Error: SMCWriteKey() = e00002c1\n");
    EXPECT_EQ(sim->keys["LSOF"].bytes, (Bytes{0x12}));
}

TEST_F(SmcLayer, OpenReportsEachFailureWithItsMessage) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
        const char* message;
    };
    const Case cases[] = {
        {"no service", [this] { install(makeNoSmcTransport()); }, "Error: no SMC found\n"},
        {"matching fails", [this] { sim->matchingStatus = 0xE00002C5u; },
         "Error: IOServiceGetMatchingServices() = e00002c5\n"},
        {"open refused", [this] { sim->failOpen = true; }, "Error: IOServiceOpen() = e00002c1\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim = std::make_shared<SimSmc>();
        install(sim);
        c.arrange();
        IOConnect handle = 77;
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(SMCOpen(&handle), 1u);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.message);
        EXPECT_EQ(handle, 77u);  // untouched on failure
    }
}

TEST_F(SmcLayer, ConnectionsAreDistinctAndDeadAfterClose) {
    ::testing::internal::CaptureStdout();
    ASSERT_EQ(SMCOpen(&conn2), 0u);
    ASSERT_EQ(smc_init(), 0u);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_NE(conn, 0u);
    EXPECT_NE(conn, conn2);
    EXPECT_EQ(sim->openConnections(), 2u);

    SMCKeyValue val;
    EXPECT_EQ(smc_close(), 0u);
    EXPECT_EQ(SMCReadKey("#KEY", &val), kMachSendInvalidDest);
    EXPECT_EQ(SMCReadKey2("#KEY", &val, conn2), 0u);
    EXPECT_EQ(SMCClose(conn2), 0u);
    EXPECT_EQ(SMCClose(conn2), kMachSendInvalidDest);
    EXPECT_EQ(sim->openConnections(), 0u);
}

TEST_F(SmcLayer, CallPassesTheCallersStructuresAndMethodIndex) {
    openDefault();
    SMCParamBlock input = zeroBlock(), output = zeroBlock();
    input.command = kSMCReadIndex;
    input.commandArgument = 0;
    input.reserved0[3] = 0xAB;  // passed as given, not zero-filled
    ASSERT_EQ(SMCCall(2, &input, &output), 0u);
    EXPECT_EQ(recorder->calls[0].request.reserved0[3], 0xAB);
    EXPECT_EQ(output.key, packSmcCode("#KEY"));
    EXPECT_EQ(SMCCall(3, &input, &output), kIOReturnUnsupported);
    EXPECT_EQ(recorder->calls[1].selector, 3u);
}

TEST_F(SmcLayer, IndexCountReadsTheKeyCountOrZero) {
    sim->setKey("TC0H", "sp78", {0x2D, 0x40});
    sim->setKey("FNum", "ui8 ", {0x02});
    openDefault();
    EXPECT_EQ(SMCReadIndexCount(), 3u);  // the two keys and "#KEY" itself
    sim->failures = {{kSMCReadKeyInfo, "#KEY", std::nullopt, kIOReturnError}};
    EXPECT_EQ(SMCReadIndexCount(), 0u);
}

}  // namespace
}  // namespace vq::test
