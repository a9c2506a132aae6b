#include <gtest/gtest.h>

#include <fstream>

#include "platform/linux/drives/ata_commands.h"
#include "platform/linux/drives/linux_smart_drives.h"
#include "platform/linux/storage/linux_storage.h"
#include "sensors/VQTSmartController.h"

namespace vq::linux_platform {
namespace {

const std::string kTree = std::string(VELQUETTE_FIXTURES) + "/linux/smart-drives";

std::string hex(std::span<const std::uint8_t> bytes) {
    std::string out;
    for (auto b : bytes) out += "0123456789abcdef"[b >> 4], out += "0123456789abcdef"[b & 15];
    return out;
}

TEST(AtaCommands, CommandBlocksByteForByte) {
    const std::pair<AtaCommand, const char*> cases[] = {
        // opcode, protocol, transfer, features, count, LBA low/mid/high, device, command, control
        {AtaCommand::IdentifyDevice, "85 08 0e 0000 0001 0000 0000 0000 00 ec 00"},
        {AtaCommand::SmartReadData, "85 08 0e 00d0 0001 0000 004f 00c2 00 b0 00"},
        {AtaCommand::SmartReturnStatus, "85 06 20 00da 0000 0000 004f 00c2 00 b0 00"},
    };
    for (const auto& [command, expected] : cases) {
        const auto cdb = ataPassThroughCdb(command);
        std::string bytes = expected;
        std::erase(bytes, ' ');
        EXPECT_EQ(hex(cdb), bytes);
        EXPECT_EQ(ataCommandOf(cdb), command);
    }
}

TEST(AtaCommands, ReturnStatusReplies) {
    // Descriptor sense with the ATA Status Return descriptor: LBA mid, LBA high, status.
    auto sense = [](std::uint8_t mid, std::uint8_t high, std::uint8_t status) {
        return std::vector<std::uint8_t>{0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 14, 0x09, 0x0C, 0, 0, 0, 0, 0, 0, 0,
                                         mid,  0,    high, 0,    status};
    };
    const std::vector<std::uint8_t> fixedFormat = {0x70, 0, 0x01, 0, 0x50, 0, 0, 10, 0, 0, 0, 0, 0, 0x1D};
    const std::vector<std::uint8_t> truncated = {0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 14, 0x09, 0x0C, 0};
    const std::tuple<bool, std::uint8_t, std::vector<std::uint8_t>, std::optional<bool>> cases[] = {
        {true, 0, {}, false},
        {true, 2, sense(0x4F, 0xC2, 0x50), false},
        {true, 2, sense(0xF4, 0x2C, 0x50), true},
        {true, 2, sense(0x4F, 0xC2, 0x51), std::nullopt},  // the drive's error bit
        {false, 0, {}, std::nullopt},
        {true, 2, fixedFormat, std::nullopt},
        {true, 2, truncated, std::nullopt},
        {true, 0x18, {}, std::nullopt},
    };
    for (const auto& [delivered, status, bytes, expected] : cases)
        EXPECT_EQ(returnStatusOutcome({delivered, status, bytes}), expected) << hex(bytes);
}

// A drive that answers the identify and SMART blocks and records every command.
struct FakeDrive {
    AtaBlock identify{}, smartData{};
    bool refuseIdentify = false;
    std::vector<AtaPassThroughCdb> commands;
};

struct FakeDevice : AtaPassThroughDevice {
    explicit FakeDevice(std::shared_ptr<FakeDrive> d) : drive(std::move(d)) {}
    ScsiReply send(const AtaPassThroughCdb& cdb, std::span<std::uint8_t> dataIn) override {
        drive->commands.push_back(cdb);
        const auto command = ataCommandOf(cdb);
        if (!command || (*command == AtaCommand::IdentifyDevice && drive->refuseIdentify)) return {true, 2, {}};
        if (*command == AtaCommand::IdentifyDevice) std::copy(drive->identify.begin(), drive->identify.end(), dataIn.begin());
        if (*command == AtaCommand::SmartReadData) std::copy(drive->smartData.begin(), drive->smartData.end(), dataIn.begin());
        return {true, 0, {}};
    }
    std::shared_ptr<FakeDrive> drive;
};

Roots treeRoots(const std::string& proc) { return {kTree + "/" + proc, kTree + "/sys", kTree + "/udev", "/nonexistent"}; }

struct Examined {
    std::string firstDisk;
    Value dataSet;
    std::string model;
};

Examined examine(const std::string& proc, std::shared_ptr<FakeDrive> drive, int updates = 1) {
    const Roots roots = treeRoots(proc);
    auto volumes = makeLinuxVolumes(roots);
    AtaDeviceOpener opener = [drive](const std::string& disk) -> std::unique_ptr<AtaPassThroughDevice> {
        if (!drive || disk != "sda") return nullptr;
        return std::make_unique<FakeDevice>(drive);
    };
    auto drives = std::make_shared<LinuxSmartDrives>(roots, volumes, opener);
    VQTSmartController controller(makeLinuxIORegistry(roots), drives, volumes);
    for (int i = 0; i < updates; ++i) controller.update();
    return {drives->firstDiskName(), controller.getDataSet(), "HD: " + volumes->displayNameAtPath("/")};
}

TEST(LinuxSmartDrives, OnlyReadingCommandsEverReachTheDrive) {
    auto drive = std::make_shared<FakeDrive>();
    drive->identify[164] = drive->identify[170] = 1;  // SMART supported and enabled
    drive->identify[510] = 0xA5;
    seal(drive->identify);
    drive->smartData[2 + 12 * 7] = 194;
    drive->smartData[2 + 12 * 7 + 5] = 44;
    seal(drive->smartData);

    const Examined run = examine("proc-sata", drive, 2);
    EXPECT_EQ(run.dataSet, Value::array({Value{{"model", run.model}, {"deviceTemp", 44}}}));
    const std::vector<AtaPassThroughCdb> once = {ataPassThroughCdb(AtaCommand::IdentifyDevice),
                                                 ataPassThroughCdb(AtaCommand::SmartReturnStatus),
                                                 ataPassThroughCdb(AtaCommand::SmartReadData)};
    std::vector<AtaPassThroughCdb> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(drive->commands, twice);

    // SMART switched off on the drive: it stays off, and only IDENTIFY is sent.
    drive->commands.clear();
    drive->identify[170] = 0;
    seal(drive->identify);
    EXPECT_EQ(examine("proc-sata", drive).dataSet, Value::array({Value{{"model", run.model}}}));
    EXPECT_EQ(drive->commands, std::vector<AtaPassThroughCdb>{once[0]});

    // A drive that refuses the pass-through: its drivetemp reading stands in.
    drive->refuseIdentify = true;
    EXPECT_EQ(examine("proc-sata", drive).dataSet, Value::array({Value{{"model", run.model}, {"deviceTemp", 31}}}));
}

TEST(LinuxSmartDrives, TheDiskHoldingRootAndItsHwmonTemperature) {
    const std::tuple<const char*, const char*, Value> cases[] = {
        {"proc-nvme", "nvme0n1", 38},  // the "Composite" reading, not Sensor 1
        {"proc-mapper", "nvme0n1", 38},
        {"proc-sata", "sda", 31},  // no node to open: drivetemp
        {"proc-overlay", "", nullptr},
    };
    for (const auto& [proc, disk, celsius] : cases) {
        const Examined run = examine(proc, nullptr);
        EXPECT_EQ(run.firstDisk, disk) << proc;
        const Value expected =
            celsius.is_null() ? Value::array() : Value::array({Value{{"model", run.model}, {"deviceTemp", celsius}}});
        EXPECT_EQ(run.dataSet, expected) << proc;
    }
    EXPECT_EQ(driveHwmonTemperature(kTree + "/sys", "../sda"), std::nullopt);
}

}  // namespace
}  // namespace vq::linux_platform
