#pragma once
// The kernel side of the SMC: finding the "AppleSMC" service, opening a
// connection to it, the structure-in/structure-out method call that carries
// one 80-byte parameter block each way, and closing the connection.
//
// Three implementations answer it: a simulated SMC loaded from the machine
// file (platform/sim/sim_smc.h), the Linux applesmc driver's sysfs files
// (platform/linux/sensors/applesmc_transport.h) and "no SMC" for every other machine.
// The SMC function module reaches whichever one the process chose through
// processSmcTransport().

#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <string_view>

// The exchange structure, laid out exactly as the kernel service expects it.
// 32-bit fields are in the host's byte order.
struct SMCParamBlock {
    std::uint32_t key;               // packed key of the request; key found by read-by-index
    std::uint8_t reserved0[24];      // always zero in requests
    std::uint32_t keyInfoSize;       // data size (key-info reply; read and write requests)
    std::uint32_t keyInfoType;       // packed data type (key-info reply)
    std::uint8_t reserved1[6];       // always zero in requests; never read from replies
    std::uint8_t command;            // one of the SMCCommand codes
    std::uint8_t padding;
    std::uint32_t commandArgument;   // index of a read-by-index request
    std::uint8_t bytes[32];          // data read or to write
};

static_assert(sizeof(SMCParamBlock) == 80);
static_assert(offsetof(SMCParamBlock, key) == 0);
static_assert(offsetof(SMCParamBlock, reserved0) == 4);
static_assert(offsetof(SMCParamBlock, keyInfoSize) == 28);
static_assert(offsetof(SMCParamBlock, keyInfoType) == 32);
static_assert(offsetof(SMCParamBlock, reserved1) == 36);
static_assert(offsetof(SMCParamBlock, command) == 42);
static_assert(offsetof(SMCParamBlock, padding) == 43);
static_assert(offsetof(SMCParamBlock, commandArgument) == 44);
static_assert(offsetof(SMCParamBlock, bytes) == 48);

namespace vq {

using IOReturn = std::uint32_t;   // kern_return_t / IOReturn bit pattern
using IOConnect = std::uint32_t;  // io_connect_t

inline constexpr IOReturn kIOReturnSuccess = 0;
inline constexpr IOReturn kIOReturnError = 0xE00002BC;
inline constexpr IOReturn kIOReturnNotPrivileged = 0xE00002C1;
inline constexpr IOReturn kIOReturnBadArgument = 0xE00002C2;
inline constexpr IOReturn kIOReturnUnsupported = 0xE00002C7;
inline constexpr IOReturn kIOReturnIOError = 0xE00002CA;
inline constexpr IOReturn kIOReturnNotFound = 0xE00002F0;
// What a call on a connection that is not open (or never was) answers: the
// Mach send to a dead or null port fails.
inline constexpr IOReturn kMachSendInvalidDest = 0x10000003;

// The only method of the SMC user client that takes a parameter block.
inline constexpr std::uint32_t kSMCUserClientMethod = 2;

enum SMCCommand : std::uint8_t {
    kSMCReadBytes = 5,
    kSMCWriteBytes = 6,
    kSMCReadIndex = 8,
    kSMCReadKeyInfo = 9,
};

// Four characters packed first-character-highest; a shorter text is padded
// with NUL bytes.
std::uint32_t packSmcCode(std::string_view code);

struct SmcServiceLookup {
    IOReturn status = kIOReturnSuccess;  // of the matching lookup itself
    bool found = false;                  // at least one service matched
};

class SmcTransport {
public:
    virtual ~SmcTransport() = default;
    // IOServiceGetMatchingServices for the class, then the first service.
    virtual SmcServiceLookup matchService(std::string_view className) = 0;
    // IOServiceOpen on the matched service, connection type 0.
    virtual IOReturn open(IOConnect& connect) = 0;
    // IOConnectMethodStructureIStructureO with 80 bytes each way. `out` is
    // written only when the call succeeds.
    virtual IOReturn callStructMethod(IOConnect connect, std::uint32_t selector, const SMCParamBlock& in,
                                      SMCParamBlock& out) = 0;
    // IOServiceClose.
    virtual IOReturn close(IOConnect connect) = 0;
};

// Connection bookkeeping shared by the implementations: hands out handles,
// refuses calls on connections that are not open, accepts only the SMC's
// method index, and counts exchanges. Subclasses answer the commands.
class SmcService : public SmcTransport {
public:
    SmcServiceLookup matchService(std::string_view className) override;
    IOReturn open(IOConnect& connect) override;
    IOReturn callStructMethod(IOConnect connect, std::uint32_t selector, const SMCParamBlock& in,
                              SMCParamBlock& out) override;
    IOReturn close(IOConnect connect) override;

    // Method calls that reached the SMC, successful or not.
    std::uint64_t exchanges() const { return exchanges_; }
    std::size_t openConnections() const { return open_.size(); }

protected:
    virtual IOReturn lookupStatus() { return kIOReturnSuccess; }
    virtual bool present() = 0;
    virtual IOReturn openService() { return kIOReturnSuccess; }
    // `reply` starts zeroed.
    virtual IOReturn exchange(const SMCParamBlock& request, SMCParamBlock& reply) = 0;

private:
    std::set<IOConnect> open_;
    // Handles look like Mach port names and are never reused, so a stale
    // handle keeps failing after its connection was closed.
    IOConnect next_ = 0x1003;
    std::uint64_t exchanges_ = 0;
};

// A machine without an SMC: the service is never found.
std::shared_ptr<SmcTransport> makeNoSmcTransport();

// The transport of this process, chosen on first use: the simulated SMC of
// the machine file when VELQUETTE_MACHINE is set (no "smc" key: no SMC), else
// the applesmc driver under VELQUETTE_SYS_ROOT (default /sys) when it is
// loaded, else no SMC.
SmcTransport& processSmcTransport();

// Replaces the process's transport (tests, benchmarks) and answers the one it
// replaced. Passing nullptr makes the next use choose from the environment.
std::shared_ptr<SmcTransport> installProcessSmcTransport(std::shared_ptr<SmcTransport> transport);

}  // namespace vq
