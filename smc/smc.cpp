#include "smc/smc.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using vq::IOConnect;
using vq::IOReturn;

extern "C" {
IOConnect conn = 0;
IOConnect conn2 = 0;
}

namespace {

constexpr std::uint32_t kValueBytes = sizeof(SMCKeyValue::bytes);

std::uint32_t packKey(const char* key) { return vq::packSmcCode(std::string_view(key, ::strnlen(key, 4))); }

void zero(SMCParamBlock& block) { std::memset(&block, 0, sizeof block); }

// The read shared by SMCReadKey2 and the write's check. `reportedSize` is the
// SMC's own size, which may exceed what the record holds.
IOReturn readKey(const char* key, SMCKeyValue* val, IOConnect connection, std::uint32_t& reportedSize) {
    std::memset(val, 0, sizeof *val);
    reportedSize = 0;
    std::memcpy(val->key, key, ::strnlen(key, 4));

    SMCParamBlock input, output;
    zero(input);
    zero(output);
    input.key = packKey(val->key);
    input.command = vq::kSMCReadKeyInfo;
    IOReturn result = SMCCall2(vq::kSMCUserClientMethod, &input, &output, connection);
    if (result != vq::kIOReturnSuccess) return result;

    reportedSize = output.keyInfoSize;
    // The reply carries 32 data bytes and the record holds 32, so a larger
    // reported size is never read or copied past them.
    val->size = std::min(output.keyInfoSize, kValueBytes);
    _ultostr(val->type, output.keyInfoType);

    zero(input);
    zero(output);
    input.key = packKey(val->key);
    input.keyInfoSize = val->size;
    input.command = vq::kSMCReadBytes;
    result = SMCCall2(vq::kSMCUserClientMethod, &input, &output, connection);
    if (result != vq::kIOReturnSuccess) return result;

    std::memcpy(val->bytes, output.bytes, sizeof val->bytes);
    return vq::kIOReturnSuccess;
}

}  // namespace

extern "C" {

IOReturn SMCOpen(IOConnect* connection) {
    vq::SmcTransport& transport = vq::processSmcTransport();
    const vq::SmcServiceLookup lookup = transport.matchService("AppleSMC");
    if (lookup.status != vq::kIOReturnSuccess) {
        std::printf("Error: IOServiceGetMatchingServices() = %08x\n", lookup.status);
        return 1;
    }
    if (!lookup.found) {
        std::puts("Error: no SMC found");
        return 1;
    }
    IOConnect opened = 0;
    const IOReturn result = transport.open(opened);
    if (result != vq::kIOReturnSuccess) {
        std::printf("Error: IOServiceOpen() = %08x\n", result);
        return 1;
    }
    *connection = opened;
    return vq::kIOReturnSuccess;
}

IOReturn smc_init(void) { return SMCOpen(&conn); }

IOReturn SMCClose(IOConnect connection) { return vq::processSmcTransport().close(connection); }

IOReturn smc_close(void) { return SMCClose(conn); }

IOReturn SMCCall(int index, SMCParamBlock* inputStructure, SMCParamBlock* outputStructure) {
    return SMCCall2(index, inputStructure, outputStructure, conn);
}

IOReturn SMCCall2(int index, SMCParamBlock* inputStructure, SMCParamBlock* outputStructure, IOConnect connection) {
    if (!inputStructure || !outputStructure) return vq::kIOReturnBadArgument;
    return vq::processSmcTransport().callStructMethod(connection, static_cast<std::uint32_t>(index), *inputStructure,
                                                      *outputStructure);
}

IOReturn SMCReadKey(const char* key, SMCKeyValue* val) { return SMCReadKey2(key, val, conn); }

IOReturn SMCReadKey2(const char* key, SMCKeyValue* val, IOConnect connection) {
    if (!key || !val) return vq::kIOReturnBadArgument;
    std::uint32_t reportedSize = 0;
    return readKey(key, val, connection, reportedSize);
}

IOReturn SMCWriteKey(SMCKeyValue writeVal) { return SMCWriteKey2(writeVal, conn); }

IOReturn SMCWriteKey2(SMCKeyValue writeVal, IOConnect connection) {
    // The request carries at most 32 data bytes.
    if (writeVal.size > kValueBytes) return vq::kIOReturnBadArgument;

    SMCKeyValue readVal;
    std::uint32_t reportedSize = 0;
    IOReturn result = readKey(writeVal.key, &readVal, connection, reportedSize);
    if (result != vq::kIOReturnSuccess) return result;
    // Compared with the SMC's own size, so a key larger than the record can
    // never be written in part.
    if (reportedSize != writeVal.size) return vq::kIOReturnError;

    SMCParamBlock input, output;
    zero(input);
    zero(output);
    input.key = packKey(writeVal.key);
    input.keyInfoSize = writeVal.size;
    input.command = vq::kSMCWriteBytes;
    std::memcpy(input.bytes, writeVal.bytes, sizeof input.bytes);
    return SMCCall2(vq::kSMCUserClientMethod, &input, &output, connection);
}

IOReturn SMCWriteSimple(const char* key, const char* wvalue, IOConnect connection) {
    if (!key || !wvalue) return vq::kIOReturnBadArgument;
    SMCKeyValue val;
    std::memset(&val, 0, sizeof val);
    // Two digits per byte; a final odd digit is ignored.
    const std::size_t size = std::strlen(wvalue) / 2;
    IOReturn result;
    if (size > kValueBytes) {
        // More bytes than a value holds: refused before anything is sent.
        result = vq::kIOReturnBadArgument;
    } else {
        for (std::size_t i = 0; i < size; ++i) {
            const char pair[3] = {wvalue[2 * i], wvalue[2 * i + 1], '\0'};
            val.bytes[i] = static_cast<char>(std::strtol(pair, nullptr, 16));
        }
        val.size = static_cast<std::uint32_t>(size);
        std::memcpy(val.key, key, ::strnlen(key, 4));
        result = SMCWriteKey2(val, connection);
    }
    if (result != vq::kIOReturnSuccess) std::printf("Error: SMCWriteKey() = %08x\n", result);
    return result;
}

std::uint32_t SMCReadIndexCount(void) {
    SMCKeyValue val;
    SMCReadKey("#KEY", &val);
    return _strtoul(val.bytes, static_cast<int>(val.size), 10);
}

std::uint32_t _strtoul(const char* str, int size, int /*base*/) {
    std::uint32_t total = 0;
    for (int i = 0; i < size; ++i) {
        // Bytes shifted out of 32 bits add nothing.
        const long shift = 8L * (size - 1 - i);
        if (shift >= 32) continue;
        total += static_cast<std::uint32_t>(static_cast<unsigned char>(str[i])) << shift;
    }
    return total;
}

float _strtof(const char* str, int size, int e) {
    float total = 0.0f;
    for (int i = 0; i < size; ++i) {
        std::int32_t term = 0;
        if (i == size - 1) {
            if (e >= 0 && e < 32) term = static_cast<unsigned char>(str[i]) >> e;
        } else {
            // Shifts outside 0..31 bits (more bytes than a 32-bit value holds,
            // or more fraction bits than a byte) contribute nothing.
            const long shift = static_cast<long>(size - 1 - i) * (8 - e);
            if (shift >= 0 && shift < 32) {
                const auto byte = static_cast<std::int32_t>(static_cast<signed char>(str[i]));
                term = static_cast<std::int32_t>(static_cast<std::uint32_t>(byte) << shift);
            }
        }
        total += static_cast<float>(term);
    }
    return total;
}

void _ultostr(char* str, std::uint32_t val) {
    for (int i = 0; i < 4; ++i) str[i] = static_cast<char>((val >> (24 - 8 * i)) & 0xFF);
    str[4] = '\0';
}

}  // extern "C"
