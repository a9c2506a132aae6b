#include "platform/sim/sim_smc.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <stdexcept>

namespace vq {
namespace {

std::string unpack(std::uint32_t code) {
    std::string text(4, '\0');
    for (std::size_t i = 0; i < 4; ++i) text[i] = static_cast<char>((code >> (24 - 8 * i)) & 0xFF);
    return text;
}

[[noreturn]] void malformed(const std::string& what) { throw std::runtime_error("machine file: smc " + what); }

std::vector<std::uint8_t> parseHexBytes(const std::string& text, const std::string& where) {
    auto bytes = decodeHexBytes(text);
    if (!bytes) malformed(where + ": bytes must be pairs of hexadecimal digits");
    return std::move(*bytes);
}

IOReturn parseStatus(const nlohmann::json& value, const std::string& where) {
    if (value.is_number_unsigned() && value.get<std::uint64_t>() <= 0xFFFFFFFFu) return value.get<IOReturn>();
    if (value.is_string()) {
        std::string_view text = value.get_ref<const std::string&>();
        if (text.starts_with("0x") || text.starts_with("0X")) text.remove_prefix(2);
        IOReturn status = 0;
        auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), status, 16);
        if (ec == std::errc() && end == text.data() + text.size() && !text.empty()) return status;
    }
    malformed(where + ": status must be a 32-bit number or hexadecimal text");
}

}  // namespace

std::optional<std::vector<std::uint8_t>> decodeHexBytes(std::string_view text) {
    if (text.size() % 2 != 0) return std::nullopt;
    std::vector<std::uint8_t> bytes(text.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char* first = text.data() + 2 * i;
        auto [end, ec] = std::from_chars(first, first + 2, bytes[i], 16);
        if (ec != std::errc() || end != first + 2) return std::nullopt;
    }
    return bytes;
}

void SimSmc::setKey(const std::string& name, const std::string& type, std::vector<std::uint8_t> bytes) {
    keys[name] = Key{type, std::move(bytes)};
}

const SimSmc::Key* SimSmc::find(const std::string& name) {
    if (auto it = keys.find(name); it != keys.end()) return &it->second;
    if (name != "#KEY") return nullptr;
    const auto count = static_cast<std::uint32_t>(keys.size() + 1);
    countKey_ = Key{"ui32",
                    {static_cast<std::uint8_t>(count >> 24), static_cast<std::uint8_t>(count >> 16),
                     static_cast<std::uint8_t>(count >> 8), static_cast<std::uint8_t>(count)}};
    return &countKey_;
}

std::optional<std::string> SimSmc::nameAt(std::uint32_t index) const {
    const bool synthesizedCount = !keys.contains("#KEY");
    if (index >= keys.size() + (synthesizedCount ? 1 : 0)) return std::nullopt;
    auto position = static_cast<std::ptrdiff_t>(index);
    if (synthesizedCount) {
        const auto countAt = std::distance(keys.begin(), keys.lower_bound("#KEY"));
        if (position == countAt) return "#KEY";
        if (position > countAt) --position;
    }
    return std::next(keys.begin(), position)->first;
}

IOReturn SimSmc::exchange(const SMCParamBlock& request, SMCParamBlock& reply) {
    const std::string name = unpack(request.key);
    for (const Failure& failure : failures) {
        if (failure.command != request.command) continue;
        if (failure.key && *failure.key != name) continue;
        if (failure.index && *failure.index != request.commandArgument) continue;
        return failure.status;
    }

    // The SMC reports an unknown key through a reply status byte that the
    // system never reads, so here it shows only as a size of 0.
    switch (request.command) {
    case kSMCReadKeyInfo: {
        if (const Key* key = find(name)) {
            reply.keyInfoSize = static_cast<std::uint32_t>(key->bytes.size());
            reply.keyInfoType = packSmcCode(key->type);
        }
        return kIOReturnSuccess;
    }
    case kSMCReadBytes: {
        if (request.keyInfoSize > sizeof reply.bytes) return kIOReturnBadArgument;
        if (const Key* key = find(name)) {
            const std::size_t n = std::min<std::size_t>(request.keyInfoSize, key->bytes.size());
            std::copy_n(key->bytes.begin(), n, reply.bytes);
        }
        return kIOReturnSuccess;
    }
    case kSMCWriteBytes: {
        if (!writable) return kIOReturnNotPrivileged;
        auto it = keys.find(name);
        if (it == keys.end()) return kIOReturnNotFound;
        if (request.keyInfoSize != it->second.bytes.size()) return kIOReturnBadArgument;
        std::copy_n(request.bytes, request.keyInfoSize, it->second.bytes.begin());
        return kIOReturnSuccess;
    }
    case kSMCReadIndex: {
        auto found = nameAt(request.commandArgument);
        if (!found) return kIOReturnBadArgument;
        reply.key = packSmcCode(*found);
        return kIOReturnSuccess;
    }
    default:
        return kIOReturnUnsupported;
    }
}

std::shared_ptr<SimSmc> loadSimSmc(const nlohmann::json& smc) {
    if (!smc.is_object()) malformed("must be an object");
    auto sim = std::make_shared<SimSmc>();
    if (auto keys = smc.find("keys"); keys != smc.end()) {
        if (!keys->is_object()) malformed("keys must be an object");
        for (const auto& [name, entry] : keys->items()) {
            const std::string where = "key \"" + name + "\"";
            if (name.size() != 4) malformed(where + ": keys are four characters");
            if (!entry.is_object() || !entry.contains("type") || !entry["type"].is_string() ||
                !entry.contains("bytes") || !entry["bytes"].is_string())
                malformed(where + ": needs \"type\" and \"bytes\" texts");
            const std::string type = entry["type"].get<std::string>();
            if (type.size() != 4) malformed(where + ": types are four characters, such as \"ui8 \"");
            auto bytes = parseHexBytes(entry["bytes"].get<std::string>(), where);
            if (bytes.size() > 255) malformed(where + ": at most 255 bytes");
            sim->setKey(name, type, std::move(bytes));
        }
    }
    for (const char* flag : {"writable", "failOpen"}) {
        if (auto it = smc.find(flag); it != smc.end()) {
            if (!it->is_boolean()) malformed(std::string(flag) + " must be true or false");
            (std::string_view(flag) == "writable" ? sim->writable : sim->failOpen) = it->get<bool>();
        }
    }
    if (auto it = smc.find("failMatching"); it != smc.end()) sim->matchingStatus = parseStatus(*it, "failMatching");
    if (auto it = smc.find("failures"); it != smc.end()) {
        if (!it->is_array()) malformed("failures must be a list");
        for (const auto& rule : *it) {
            if (!rule.is_object() || !rule.contains("command") || !rule["command"].is_number_unsigned() ||
                rule["command"].get<std::uint64_t>() > 255 || !rule.contains("status"))
                malformed("failures: each needs a \"command\" code and a \"status\"");
            SimSmc::Failure failure;
            failure.command = rule["command"].get<std::uint8_t>();
            failure.status = parseStatus(rule["status"], "failures");
            if (rule.contains("key")) {
                if (!rule["key"].is_string()) malformed("failures: key must be a text");
                failure.key = rule["key"].get<std::string>();
            }
            if (rule.contains("index")) {
                if (!rule["index"].is_number_unsigned()) malformed("failures: index must be a number");
                failure.index = rule["index"].get<std::uint32_t>();
            }
            sim->failures.push_back(std::move(failure));
        }
    }
    return sim;
}

}  // namespace vq
