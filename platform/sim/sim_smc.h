#pragma once
// A simulated SMC with a programmable key table. Unit tests set the fields
// directly; velquette-smc and the host load it from the machine file's "smc"
// key:
//
//   {"keys": {"TC0H": {"type": "sp78", "bytes": "2d40"}, ...},
//    "writable": bool, "failOpen": bool,
//    "failMatching": status,
//    "failures": [{"command": 9, "key": "FNum", "index": 3, "status": status}, ...]}
//
// A status is a number or a hexadecimal text such as "0xe00002c0". A failure
// rule makes every exchange with that command code (and, when given, that
// key or that read-by-index index) fail with the status.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/smc_transport.h"

namespace vq {

// Pairs of hexadecimal digits ("2d40") as bytes; nullopt for anything else.
// Machine files give byte values this way.
std::optional<std::vector<std::uint8_t>> decodeHexBytes(std::string_view text);

class SimSmc final : public SmcService {
public:
    struct Key {
        std::string type;                 // four characters, such as "ui8 "
        std::vector<std::uint8_t> bytes;  // the value; its length is the key's size
    };
    struct Failure {
        std::uint8_t command = 0;
        std::optional<std::string> key;
        std::optional<std::uint32_t> index;
        IOReturn status = kIOReturnError;
    };

    // Sorted the way the SMC sorts its table, so read-by-index walks it in
    // order. When "#KEY" is absent it is answered as the count of the table
    // including itself.
    std::map<std::string, Key> keys;
    bool writable = false;
    bool failOpen = false;
    IOReturn matchingStatus = kIOReturnSuccess;
    std::vector<Failure> failures;

    void setKey(const std::string& name, const std::string& type, std::vector<std::uint8_t> bytes);

protected:
    IOReturn lookupStatus() override { return matchingStatus; }
    bool present() override { return true; }
    IOReturn openService() override { return failOpen ? kIOReturnNotPrivileged : kIOReturnSuccess; }
    IOReturn exchange(const SMCParamBlock& request, SMCParamBlock& reply) override;

private:
    const Key* find(const std::string& name);
    std::optional<std::string> nameAt(std::uint32_t index) const;

    Key countKey_;
};

// Reads the machine file's "smc" object. Malformed entries throw
// std::runtime_error naming the entry.
std::shared_ptr<SimSmc> loadSimSmc(const nlohmann::json& smc);

}  // namespace vq
