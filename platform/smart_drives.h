#pragma once
// A drive's ATA SMART operations, as the SMART controller calls them. Each
// answers a status: 0 for success, an IOKit-style error otherwise.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/io_registry.h"

namespace vq {

using AtaBlock = std::array<std::uint8_t, 512>;

// Places in the blocks, as the ATA standard lays them out. Identify data:
namespace ata {
constexpr std::size_t kSmartSupportedByte = 164;  // word 82, bit 0
constexpr std::size_t kSmartEnabledByte = 170;    // word 85, bit 0
constexpr std::size_t kSignatureByte = 510;       // holds kSignature when the block is sound
constexpr std::uint8_t kSignature = 0xA5;
// SMART data: 30 attribute entries of 12 bytes from byte 2; an entry's
// byte 0 is the attribute number, byte 5 the lowest byte of its raw value.
constexpr std::size_t kAttributeTableStart = 2;
constexpr std::size_t kAttributeEntrySize = 12;
constexpr std::size_t kAttributeCount = 30;
constexpr std::size_t kRawLowByte = 5;
constexpr std::uint8_t kTemperatureAttribute = 194;
}  // namespace ata

// kIOReturnError and kIOReturnUnsupported: what a refused step answers.
constexpr int kSmartStepFailed = static_cast<int>(0xE00002BC);
constexpr int kSmartStepUnsupported = static_cast<int>(0xE00002C7);

class SmartInterface {
public:
    virtual ~SmartInterface() = default;
    virtual int getATAIdentifyData(AtaBlock& block) = 0;
    virtual int SMARTEnableDisableOperations(bool enable) = 0;
    virtual int SMARTEnableDisableAutosave(bool enable) = 0;
    // `exceeded`: the drive reports a threshold exceeded.
    virtual int SMARTReturnStatus(bool& exceeded) = 0;
    virtual int SMARTExecuteOffLineImmediate(bool extendedTest) = 0;
    virtual int SMARTReadData(AtaBlock& block) = 0;
    virtual int SMARTValidateReadData(const AtaBlock& block) = 0;
};

// Creating the SMART client of one registry service.
struct SmartPlugIn {
    int status = 0;                              // non-zero: the plug-in could not be created
    std::unique_ptr<SmartInterface> interface;  // null: the SMART interface was not found
};

class SmartDrives {
public:
    virtual ~SmartDrives() = default;
    // The BSD name of the first disk, the only one examined: "disk0" on a
    // Mac, the whole disk that holds "/" on Linux ("nvme0n1", "sda"); empty
    // when there is none.
    virtual std::string firstDiskName() = 0;
    // The plug-in for `service`, whose subtree carries `bsdName`.
    virtual SmartPlugIn createPlugIn(RegistryEntryId service, const std::string& bsdName) = 0;
};

}  // namespace vq
