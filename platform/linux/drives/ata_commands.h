#pragma once
// The three ATA commands the SMART client sends, as SCSI ATA PASS-THROUGH
// (16) command blocks, the reading of their replies, and the identify and
// SMART data blocks made up for a drive whose temperature comes from hwmon.
// Pure functions: nothing here touches a device.

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "platform/smart_drives.h"

namespace vq::linux_platform {

using AtaPassThroughCdb = std::array<std::uint8_t, 16>;

enum class AtaCommand { IdentifyDevice, SmartReadData, SmartReturnStatus };

// The command block of one command. IDENTIFY DEVICE and SMART READ DATA read
// one 512-byte block (PIO data-in); SMART RETURN STATUS moves no data and
// asks for the drive's registers back (CK_COND).
AtaPassThroughCdb ataPassThroughCdb(AtaCommand command);

// The command a block carries; nullopt for anything else, which the client
// never sends.
std::optional<AtaCommand> ataCommandOf(const AtaPassThroughCdb& cdb);

// What came back from the SCSI layer for one command.
struct ScsiReply {
    bool delivered = false;     // the request reached the device and completed
    std::uint8_t status = 0;    // SCSI status: 0 GOOD, 2 CHECK CONDITION
    std::span<const std::uint8_t> sense;
};

// The drive's registers after a command, from the ATA Status Return sense
// descriptor (descriptor-format sense data, code 0x09).
struct AtaRegisters {
    std::uint8_t error = 0;
    std::uint8_t lbaMid = 0;
    std::uint8_t lbaHigh = 0;
    std::uint8_t status = 0;
};
std::optional<AtaRegisters> ataRegistersFromSense(std::span<const std::uint8_t> sense);

// Whether a data-in command succeeded: delivered with GOOD status.
bool dataCommandSucceeded(const ScsiReply& reply);

// The outcome of SMART RETURN STATUS: nullopt when the command failed,
// else whether the drive reports a threshold exceeded.
std::optional<bool> returnStatusOutcome(const ScsiReply& reply);

// Identify word 85 bit 0: the SMART feature set is enabled.
bool smartEnabled(const AtaBlock& identify);

// Blocks for a drive known only by its temperature: identify data with the
// signature, the SMART support and enabled bits and a valid checksum; SMART
// data whose first attribute is 194 with the temperature as its raw value,
// and a valid checksum. nullopt for a temperature no unsigned byte holds.
AtaBlock syntheticIdentifyData();
std::optional<AtaBlock> syntheticSmartData(int celsius);

// A checksum byte at 511 that makes the block's 8-bit sum 0.
void seal(AtaBlock& block);
bool checksumValid(const AtaBlock& block);

}  // namespace vq::linux_platform
