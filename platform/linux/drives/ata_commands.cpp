#include "platform/linux/drives/ata_commands.h"

#include <numeric>

namespace vq::linux_platform {
namespace {

constexpr std::uint8_t kAtaPassThrough16 = 0x85;
constexpr std::uint8_t kProtocolNonData = 3;
constexpr std::uint8_t kProtocolPioDataIn = 4;
// T_DIR from the device, BYT_BLOK, T_LENGTH in the sector count field.
constexpr std::uint8_t kOneBlockIn = 0x0E;
constexpr std::uint8_t kCheckCondition = 0x20;

constexpr std::uint8_t kIdentifyDevice = 0xEC;
constexpr std::uint8_t kSmart = 0xB0;
constexpr std::uint8_t kSmartReadData = 0xD0;
constexpr std::uint8_t kSmartReturnStatus = 0xDA;
// SMART commands carry this signature in LBA mid and high; a drive past a
// threshold answers them swapped round.
constexpr std::uint8_t kSmartLbaMid = 0x4F;
constexpr std::uint8_t kSmartLbaHigh = 0xC2;
constexpr std::uint8_t kExceededLbaMid = 0xF4;
constexpr std::uint8_t kExceededLbaHigh = 0x2C;

constexpr std::uint8_t kStatusGood = 0;
constexpr std::uint8_t kStatusCheckCondition = 2;
constexpr std::uint8_t kAtaStatusError = 0x01;

using namespace ata;

}  // namespace

AtaPassThroughCdb ataPassThroughCdb(AtaCommand command) {
    AtaPassThroughCdb cdb{};
    cdb[0] = kAtaPassThrough16;
    switch (command) {
        case AtaCommand::IdentifyDevice:
            cdb[1] = kProtocolPioDataIn << 1;
            cdb[2] = kOneBlockIn;
            cdb[6] = 1;
            cdb[14] = kIdentifyDevice;
            break;
        case AtaCommand::SmartReadData:
            cdb[1] = kProtocolPioDataIn << 1;
            cdb[2] = kOneBlockIn;
            cdb[4] = kSmartReadData;
            cdb[6] = 1;
            cdb[10] = kSmartLbaMid;
            cdb[12] = kSmartLbaHigh;
            cdb[14] = kSmart;
            break;
        case AtaCommand::SmartReturnStatus:
            cdb[1] = kProtocolNonData << 1;
            cdb[2] = kCheckCondition;
            cdb[4] = kSmartReturnStatus;
            cdb[10] = kSmartLbaMid;
            cdb[12] = kSmartLbaHigh;
            cdb[14] = kSmart;
            break;
    }
    return cdb;
}

std::optional<AtaCommand> ataCommandOf(const AtaPassThroughCdb& cdb) {
    for (AtaCommand command : {AtaCommand::IdentifyDevice, AtaCommand::SmartReadData, AtaCommand::SmartReturnStatus})
        if (cdb == ataPassThroughCdb(command)) return command;
    return std::nullopt;
}

std::optional<AtaRegisters> ataRegistersFromSense(std::span<const std::uint8_t> sense) {
    // Descriptor format: response code 0x72, the descriptors' length in
    // byte 7, descriptors from byte 8, each [code, length - 2, …].
    if (sense.size() < 8 || (sense[0] & 0x7F) != 0x72) return std::nullopt;
    const std::size_t end = std::min<std::size_t>(sense.size(), 8 + std::size_t{sense[7]});
    for (std::size_t at = 8; at + 1 < end; at += 2 + std::size_t{sense[at + 1]}) {
        if (sense[at] == 0x09 && sense[at + 1] >= 12 && at + 14 <= end)
            return AtaRegisters{sense[at + 3], sense[at + 9], sense[at + 11], sense[at + 13]};
    }
    return std::nullopt;
}

bool dataCommandSucceeded(const ScsiReply& reply) { return reply.delivered && reply.status == kStatusGood; }

std::optional<bool> returnStatusOutcome(const ScsiReply& reply) {
    if (!reply.delivered) return std::nullopt;
    // Some translation layers return GOOD without the registers.
    if (reply.status == kStatusGood) return false;
    if (reply.status != kStatusCheckCondition) return std::nullopt;
    const auto registers = ataRegistersFromSense(reply.sense);
    if (!registers || (registers->status & kAtaStatusError) != 0) return std::nullopt;
    return registers->lbaMid == kExceededLbaMid && registers->lbaHigh == kExceededLbaHigh;
}

bool smartEnabled(const AtaBlock& identify) { return (identify[kSmartEnabledByte] & 1) != 0; }

void seal(AtaBlock& block) {
    block[511] = 0;
    const unsigned sum = std::accumulate(block.begin(), block.end(), 0u);
    block[511] = static_cast<std::uint8_t>(256 - sum % 256);
}

bool checksumValid(const AtaBlock& block) { return std::accumulate(block.begin(), block.end(), 0u) % 256 == 0; }

AtaBlock syntheticIdentifyData() {
    AtaBlock block{};
    block[kSmartSupportedByte] = 1;
    block[kSmartEnabledByte] = 1;
    block[kSignatureByte] = kSignature;
    seal(block);
    return block;
}

std::optional<AtaBlock> syntheticSmartData(int celsius) {
    if (celsius < 0 || celsius > 255) return std::nullopt;
    AtaBlock block{};
    block[0] = 0x10;  // data structure revision
    block[kAttributeTableStart] = kTemperatureAttribute;
    block[kAttributeTableStart + kRawLowByte] = static_cast<std::uint8_t>(celsius);
    seal(block);
    return block;
}

}  // namespace vq::linux_platform
