#include "smc/smc_printer.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kVersion = "0.01";

enum Operation { kOpNone, kOpList, kOpRead, kOpWrite, kOpFans };

// Fan keys are "F%dAc" and the like: only fans 0 to 9 have a key that fits in
// four characters, so a larger count never reads keys cut short.
constexpr std::uint32_t kMaxFanKeys = 10;

int dataSize(const SMCKeyValue& val) { return static_cast<int>(std::min<std::uint32_t>(val.size, sizeof val.bytes)); }

float readFPE2(const char* format, int fan) {
    char key[5];
    std::snprintf(key, sizeof key, format, fan);
    SMCKeyValue val;
    SMCReadKey(key, &val);
    return _strtof(val.bytes, dataSize(val), 2);
}

}  // namespace

extern "C" {

void usage(const char* prog) {
    std::printf("Apple System Management Control (SMC) tool %s\n", kVersion);
    std::puts("Usage:");
    std::printf("%s [options]\n", prog);
    std::puts("    -f         : fan info decoded");
    std::puts("    -h         : help");
    std::puts("    -k <key>   : key to manipulate");
    std::puts("    -l         : list all keys and values");
    std::puts("    -r         : read the value of a key");
    std::puts("    -w <value> : write the specified value to a key");
    std::puts("    -v         : version");
    std::printf("\n");
}

void printUInt(SMCKeyValue val) {
    std::printf("%u ", static_cast<unsigned int>(_strtoul(val.bytes, dataSize(val), 10)));
}

void printFPE2(SMCKeyValue val) { std::printf("%.0f ", static_cast<double>(_strtof(val.bytes, dataSize(val), 2))); }

void printBytesHex(SMCKeyValue val) {
    std::printf("(bytes");
    for (int i = 0; i < dataSize(val); ++i) std::printf(" %02x", static_cast<unsigned char>(val.bytes[i]));
    std::printf(")\n");
}

void printVal(SMCKeyValue val) {
    // The precision keeps a record without its NUL from being read past.
    std::printf("  %-4.4s  [%-4.4s]  ", val.key, val.type);
    if (val.size == 0) {
        std::puts("no data");
        return;
    }
    // Compared with the terminating NUL, so "ui8" alone is not "ui8 ".
    if (std::strncmp(val.type, "ui8 ", 5) == 0 || std::strncmp(val.type, "ui16", 5) == 0 ||
        std::strncmp(val.type, "ui32", 5) == 0)
        printUInt(val);
    else if (std::strncmp(val.type, "fpe2", 5) == 0)
        printFPE2(val);
    printBytesHex(val);
}

vq::IOReturn SMCPrintAll(void) {
    const std::uint32_t totalKeys = SMCReadIndexCount();
    for (std::uint32_t i = 0; i < totalKeys; ++i) {
        SMCParamBlock input, output;
        std::memset(&input, 0, sizeof input);
        std::memset(&output, 0, sizeof output);
        input.command = vq::kSMCReadIndex;
        input.commandArgument = i;
        if (SMCCall(vq::kSMCUserClientMethod, &input, &output) != vq::kIOReturnSuccess) continue;

        char key[5];
        _ultostr(key, output.key);
        SMCKeyValue val;
        SMCReadKey(key, &val);
        printVal(val);
    }
    return vq::kIOReturnSuccess;
}

vq::IOReturn SMCPrintFans(void) {
    SMCKeyValue val;
    if (SMCReadKey("FNum", &val) != vq::kIOReturnSuccess) return vq::kIOReturnError;
    const std::uint32_t totalFans = _strtoul(val.bytes, dataSize(val), 10);
    std::printf("Total fans in system: %d\n", static_cast<int>(totalFans));

    for (std::uint32_t i = 0; i < std::min(totalFans, kMaxFanKeys); ++i) {
        const int fan = static_cast<int>(i);
        std::printf("\nFan #%d:\n", fan);
        std::printf("    Actual speed : %.0f\n", static_cast<double>(readFPE2("F%dAc", fan)));
        std::printf("    Minimum speed: %.0f\n", static_cast<double>(readFPE2("F%dMn", fan)));
        std::printf("    Maximum speed: %.0f\n", static_cast<double>(readFPE2("F%dMx", fan)));
        std::printf("    Safe speed   : %.0f\n", static_cast<double>(readFPE2("F%dSf", fan)));
        std::printf("    Target speed : %.0f\n", static_cast<double>(readFPE2("F%dTg", fan)));
        SMCReadKey("FS! ", &val);
        const std::uint32_t mode = _strtoul(val.bytes, 2, 10);
        std::puts((mode >> i) & 1 ? "    Mode         : forced" : "    Mode         : auto");
    }
    return vq::kIOReturnSuccess;
}

int main_deac(int argc, char* argv[]) {
    int op = kOpNone;
    char key[5] = "";
    SMCKeyValue val;
    std::memset(&val, 0, sizeof val);

    // Reset getopt, so that the printer can run more than once in a process.
    // The leading "+" stops at the first operand, as POSIX getopt does.
    optind = 0;
    int c;
    while ((c = getopt(argc, argv, "+fhk:lrw:v")) != -1) {
        switch (c) {
        case 'f':
            op = kOpFans;
            break;
        case 'k':
            // The key buffer holds four characters; a longer key is refused
            // rather than cut short or overflowed.
            if (std::strlen(optarg) > 4) {
                std::puts("Error: key is longer than four characters");
                return 1;
            }
            std::strcpy(key, optarg);
            break;
        case 'l':
            op = kOpList;
            break;
        case 'r':
            op = kOpRead;
            break;
        case 'w': {
            op = kOpWrite;
            auto parsed = vq::parseWriteValue(optarg);
            if (!parsed) {
                std::puts("Error: value is not valid");
                return 1;
            }
            val = *parsed;
            break;
        }
        case 'v':
            std::puts(kVersion);
            return 0;
        case 'h':
        default:
            op = kOpNone;
            break;
        }
    }

    if (op == kOpNone) {
        usage(argc > 0 && argv[0] ? argv[0] : "velquette-smc");
        return 1;
    }

    SMCOpen(&conn);

    vq::IOReturn result;
    switch (op) {
    case kOpRead:
        if (key[0] == '\0') {
            std::puts("Error: specify a key to read");
            break;
        }
        result = SMCReadKey(key, &val);
        if (result != vq::kIOReturnSuccess)
            std::printf("Error: SMCReadKey() = %08x\n", result);
        else
            printVal(val);
        break;
    case kOpList:
        result = SMCPrintAll();
        if (result != vq::kIOReturnSuccess) std::printf("Error: SMCPrintAll() = %08x\n", result);
        break;
    case kOpFans:
        result = SMCPrintFans();
        if (result != vq::kIOReturnSuccess) std::printf("Error: SMCPrintFans() = %08x\n", result);
        break;
    case kOpWrite:
        if (key[0] == '\0') {
            std::puts("Error: specify a key to write");
            break;
        }
        std::memcpy(val.key, key, sizeof val.key);
        result = SMCWriteKey(val);
        if (result != vq::kIOReturnSuccess) std::printf("Error: SMCWriteKey() = %08x\n", result);
        break;
    }

    smc_close();
    return 0;
}

}  // extern "C"

namespace vq {

std::optional<SMCKeyValue> parseWriteValue(std::string_view digits) {
    SMCKeyValue val;
    std::memset(&val, 0, sizeof val);
    const std::size_t size = digits.size() / 2;
    if (size * 2 != digits.size() || size > sizeof val.bytes) return std::nullopt;
    for (std::size_t i = 0; i < size; ++i) {
        const char pair[3] = {digits[2 * i], digits[2 * i + 1], '\0'};
        val.bytes[i] = static_cast<char>(std::strtol(pair, nullptr, 16));
    }
    val.size = static_cast<std::uint32_t>(size);
    return val;
}

}  // namespace vq
