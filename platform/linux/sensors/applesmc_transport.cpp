#include "platform/linux/sensors/applesmc_transport.h"

#include <cerrno>
#include <cstring>
#include <vector>

namespace vq::linux_platform {
namespace {

constexpr IOReturn kIOReturnBusy = 0xE00002D5;
// Another reader moving the driver's selector this often in a row is not a
// race any more but a device we cannot read.
constexpr int kSelectAttempts = 3;

std::string unpackName(std::uint32_t code) {
    std::string name;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = static_cast<char>((code >> shift) & 0xFF);
        if (c == '\0') break;
        name.push_back(c);
    }
    return name;
}

// "F<digit>Mn" / "F<digit>Tg": the fan's index and its sysfs file suffix.
std::optional<std::pair<int, const char*>> fanSpeedFile(const std::string& key) {
    if (key.size() != 4 || key[0] != 'F' || key[1] < '0' || key[1] > '9') return std::nullopt;
    const std::string_view option(key.data() + 2, 2);
    if (option == "Mn") return std::pair{key[1] - '0', "min"};
    if (option == "Tg") return std::pair{key[1] - '0', "output"};
    return std::nullopt;
}

}  // namespace

IOReturn ioReturnFromErrno(int error) {
    switch (error) {
    case 0:
        return kIOReturnSuccess;
    case EACCES:
    case EPERM:
        return kIOReturnNotPrivileged;
    case EINVAL:
    case ERANGE:
        return kIOReturnBadArgument;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return kIOReturnNotFound;
    default:
        return kIOReturnIOError;
    }
}

AppleSmcTransport::AppleSmcTransport(std::shared_ptr<AppleSmcAttributes> attributes)
    : attributes_(std::move(attributes)) {}

IOReturn AppleSmcTransport::openService() {
    // Every read selects its key through key_at_index, which only root may
    // write. Refusing the connection here, rather than failing every read
    // after it, lets the caller fall back to another sensor source.
    if (!attributes_->writable("key_at_index")) return kIOReturnNotPrivileged;
    std::string text;
    if (int error = attributes_->read("key_count", text)) return ioReturnFromErrno(error);
    auto count = parseAppleSmcNumber(text);
    if (!count) return kIOReturnIOError;
    if (*count != count_) {
        count_ = *count;
        entries_.clear();
    }
    return kIOReturnSuccess;
}

IOReturn AppleSmcTransport::readAtIndex(std::uint32_t index, const std::string& attribute, std::string& content) {
    const std::string selector = std::to_string(index);
    for (int attempt = 0; attempt < kSelectAttempts; ++attempt) {
        if (int error = attributes_->write("key_at_index", selector)) return ioReturnFromErrno(error);
        if (int error = attributes_->read(attribute, content)) return ioReturnFromErrno(error);
        std::string selected;
        if (int error = attributes_->read("key_at_index", selected)) return ioReturnFromErrno(error);
        if (parseAppleSmcNumber(selected) == index) return kIOReturnSuccess;
    }
    return kIOReturnBusy;
}

IOReturn AppleSmcTransport::nameAt(std::uint32_t index, std::string& name) {
    Entry& entry = entries_[index];
    if (!entry.name) {
        std::string text;
        if (IOReturn status = readAtIndex(index, "key_at_index_name", text)) return status;
        entry.name = parseAppleSmcCode(text);
        if (!entry.name || entry.name->empty()) {
            entry.name.reset();
            return kIOReturnIOError;
        }
    }
    name = *entry.name;
    return kIOReturnSuccess;
}

IOReturn AppleSmcTransport::entryInfo(std::uint32_t index, Entry*& entry) {
    entry = &entries_[index];
    std::string text;
    if (!entry->type) {
        if (IOReturn status = readAtIndex(index, "key_at_index_type", text)) return status;
        entry->type = parseAppleSmcCode(text);
        if (!entry->type) return kIOReturnIOError;
    }
    if (!entry->size) {
        if (IOReturn status = readAtIndex(index, "key_at_index_data_length", text)) return status;
        entry->size = parseAppleSmcNumber(text);
        if (!entry->size) return kIOReturnIOError;
    }
    return kIOReturnSuccess;
}

IOReturn AppleSmcTransport::find(const std::string& key, std::optional<std::uint32_t>& index) {
    index.reset();
    // The SMC sorts its keys as strcmp does, which is how std::string
    // compares too (bytes as unsigned).
    std::uint32_t low = 0, high = count_;
    std::string name;
    while (low < high) {
        const std::uint32_t middle = low + (high - low) / 2;
        if (IOReturn status = nameAt(middle, name)) return status;
        if (name < key)
            low = middle + 1;
        else
            high = middle;
    }
    if (low < count_) {
        if (IOReturn status = nameAt(low, name)) return status;
        if (name == key) index = low;
    }
    return kIOReturnSuccess;
}

IOReturn AppleSmcTransport::exchange(const SMCParamBlock& request, SMCParamBlock& reply) {
    const std::string key = unpackName(request.key);
    switch (request.command) {
    case kSMCReadKeyInfo: {
        std::optional<std::uint32_t> index;
        if (IOReturn status = find(key, index)) return status;
        // Like the SMC itself: an unknown key is a reply of size 0.
        if (!index) return kIOReturnSuccess;
        Entry* entry = nullptr;
        if (IOReturn status = entryInfo(*index, entry)) return status;
        reply.keyInfoSize = *entry->size;
        reply.keyInfoType = packSmcCode(*entry->type);
        return kIOReturnSuccess;
    }
    case kSMCReadBytes: {
        if (request.keyInfoSize > sizeof reply.bytes) return kIOReturnBadArgument;
        std::optional<std::uint32_t> index;
        if (IOReturn status = find(key, index)) return status;
        if (!index) return kIOReturnSuccess;
        std::string data;
        if (IOReturn status = readAtIndex(*index, "key_at_index_data", data)) return status;
        std::memcpy(reply.bytes, data.data(), std::min<std::size_t>(data.size(), request.keyInfoSize));
        return kIOReturnSuccess;
    }
    case kSMCReadIndex: {
        if (request.commandArgument >= count_) return kIOReturnBadArgument;
        std::string name;
        if (IOReturn status = nameAt(request.commandArgument, name)) return status;
        reply.key = packSmcCode(name);
        return kIOReturnSuccess;
    }
    case kSMCWriteBytes:
        return write(key, request);
    default:
        return kIOReturnUnsupported;
    }
}

IOReturn AppleSmcTransport::write(const std::string& key, const SMCParamBlock& request) {
    const bool manual = key == "FS! ";
    const auto speedFile = fanSpeedFile(key);
    if (!manual && !speedFile) return kIOReturnUnsupported;
    if (request.keyInfoSize != 2) return kIOReturnBadArgument;
    const auto value = static_cast<std::uint16_t>(request.bytes[0] << 8 | request.bytes[1]);
    if (manual) return writeFanManual(value);
    // The driver's fan files take whole revolutions per minute, that is an
    // fpe2 value without fraction bits.
    if (value & 0x3) return kIOReturnBadArgument;
    const std::string file = "fan" + std::to_string(speedFile->first + 1) + "_" + speedFile->second;
    return ioReturnFromErrno(attributes_->write(file, std::to_string(value >> 2)));
}

IOReturn AppleSmcTransport::writeFanManual(std::uint16_t mask) {
    // The driver switches one fan per file. Every bit is checked against the
    // fans it lists before anything is written, so a refused mask changes
    // nothing.
    std::vector<bool> current;
    for (int fan = 0; fan < 16; ++fan) {
        std::string text;
        if (int error = attributes_->read("fan" + std::to_string(fan + 1) + "_manual", text)) {
            if (error != ENOENT) return ioReturnFromErrno(error);
            break;
        }
        auto state = parseAppleSmcNumber(text);
        if (!state) return kIOReturnIOError;
        current.push_back(*state != 0);
    }
    if ((mask >> current.size()) != 0) return kIOReturnUnsupported;
    for (std::size_t fan = 0; fan < current.size(); ++fan) {
        const bool wanted = (mask >> fan) & 1;
        if (current[fan] == wanted) continue;
        const std::string file = "fan" + std::to_string(fan + 1) + "_manual";
        if (int error = attributes_->write(file, wanted ? "1" : "0")) return ioReturnFromErrno(error);
    }
    return kIOReturnSuccess;
}

}  // namespace vq::linux_platform
