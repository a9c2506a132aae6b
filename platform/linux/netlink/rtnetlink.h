#pragma once
// Talking rtnetlink: asking the kernel for a dump over a NETLINK_ROUTE socket,
// and walking the bytes that come back. The walking is pure and never reads
// past the bytes it is given; the kernel's answer is checked, not trusted.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <cstring>
#include <span>
#include <string_view>
#include <type_traits>
#include <vector>

namespace vq::linux_platform {

using NetlinkBytes = std::span<const std::byte>;

// One message as it sits in the received bytes.
struct NetlinkMessage {
    std::uint16_t type = 0;
    std::uint16_t flags = 0;
    std::uint32_t sequence = 0;
    NetlinkBytes payload;  // what follows the header, up to the message's length
};

enum class DumpStatus {
    kComplete,     // NLMSG_DONE arrived
    kIncomplete,   // the bytes end before NLMSG_DONE
    kFailed,       // NLMSG_ERROR, NLMSG_OVERRUN or a failed NLMSG_DONE
    kInterrupted,  // the kernel flagged the dump inconsistent (NLM_F_DUMP_INTR)
    kMalformed,    // a message header claims more (or fewer) bytes than it has
};

struct DumpWalk {
    DumpStatus status = DumpStatus::kIncomplete;
    int error = 0;  // errno that the kernel reported, for kFailed
    // The data messages of the dump, in the order the kernel sent them.
    std::vector<NetlinkMessage> messages;
};

// Walks the answer to the dump request numbered `sequence`: one or more
// received datagrams, concatenated. Messages of other sequence numbers and
// NLMSG_NOOP are passed over. The walk stops at the first message that ends
// the dump (done, error, interruption) or that is malformed.
DumpWalk walkDump(NetlinkBytes bytes, std::uint32_t sequence);

struct NetlinkAttribute {
    std::uint16_t type = 0;  // without the nested and byte-order flag bits
    NetlinkBytes payload;
};

// The attributes that fill `bytes`; nullopt when one of them is shorter than
// its own header or runs past the end.
std::optional<std::vector<NetlinkAttribute>> parseAttributes(NetlinkBytes bytes);

// Fixed-size readers for attribute payloads; nullopt when the payload is too
// short. Values are in host order, as rtnetlink sends them.
std::optional<std::uint8_t> attributeU8(NetlinkBytes payload);
std::optional<std::uint32_t> attributeU32(NetlinkBytes payload);
// A NUL-terminated string attribute; stops at the first NUL or the end.
std::string_view attributeString(NetlinkBytes payload);

// The value of type T at `offset`, copied out (payloads are not aligned for
// 64-bit reads); nullopt when the bytes are too short.
template <typename T>
std::optional<T> readAt(NetlinkBytes bytes, std::size_t offset) {
    if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) return std::nullopt;
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

// Builds one netlink message: the header, the request's fixed header, then
// attributes, which may nest. Used for requests, and by tests to make answers.
class NetlinkMessageBuilder {
public:
    NetlinkMessageBuilder(std::uint16_t type, std::uint16_t flags, std::uint32_t sequence);

    // Appends raw bytes, padded to the netlink alignment.
    NetlinkMessageBuilder& append(NetlinkBytes bytes);
    // Values are copied byte for byte, so only plain structs and numbers qualify.
    template <typename T>
        requires(std::is_trivially_copyable_v<T> && !std::is_convertible_v<T, NetlinkBytes>)
    NetlinkMessageBuilder& append(const T& value) {
        return append(NetlinkBytes(reinterpret_cast<const std::byte*>(&value), sizeof value));
    }
    NetlinkMessageBuilder& attribute(std::uint16_t type, NetlinkBytes payload);
    template <typename T>
        requires(std::is_trivially_copyable_v<T> && !std::is_convertible_v<T, NetlinkBytes>)
    NetlinkMessageBuilder& attribute(std::uint16_t type, const T& value) {
        return attribute(type, NetlinkBytes(reinterpret_cast<const std::byte*>(&value), sizeof value));
    }
    // A string attribute with its terminating NUL.
    NetlinkMessageBuilder& stringAttribute(std::uint16_t type, std::string_view text);
    // Attributes added between these two are nested inside `type`.
    NetlinkMessageBuilder& beginNested(std::uint16_t type);
    NetlinkMessageBuilder& endNested();

    // The message with its length filled in.
    std::vector<std::byte> bytes() const;

private:
    std::vector<std::byte> bytes_;
    std::vector<std::size_t> open_;  // offsets of the nested attributes not yet ended
};

struct DumpAnswer {
    std::vector<std::byte> bytes;  // every datagram of the answer, concatenated
    std::uint32_t sequence = 0;    // the request's sequence number
};

// Sends one dump request (RTM_GETLINK, RTM_GETADDR or RTM_GETROUTE) for
// `family` over a fresh NETLINK_ROUTE socket and collects the answer up to
// NLMSG_DONE. Only datagrams from the kernel are accepted. An interrupted dump
// is asked again a few times. nullopt when the socket is refused, the kernel
// answers with an error, the answer is malformed or does not come within a
// second.
std::optional<DumpAnswer> requestDump(std::uint16_t type, std::uint8_t family);

}  // namespace vq::linux_platform
