#include "platform/linux/netlink/rtnetlink.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "platform/linux/common/unique_fd.h"

namespace vq::linux_platform {
namespace {

constexpr std::size_t kHeaderLength = NLMSG_HDRLEN;
constexpr std::size_t kAttributeHeaderLength = sizeof(nlattr);
// An answer larger than this is not a dump of a real machine's tables.
constexpr std::size_t kLargestAnswer = 64u << 20;
// Dumps are retried this often when the kernel flags them inconsistent.
constexpr std::uint32_t kAttempts = 3;

std::size_t aligned(std::size_t length) { return (length + NLMSG_ALIGNTO - 1) & ~std::size_t{NLMSG_ALIGNTO - 1}; }

// The first 4 bytes of an NLMSG_DONE or NLMSG_ERROR payload: 0 or a negative errno.
std::optional<std::int32_t> statusCode(NetlinkBytes payload) { return readAt<std::int32_t>(payload, 0); }

// The kernel reports errors as −errno, and errno values end at 4095
// (MAX_ERRNO); a code below that comes from no kernel, and negating INT32_MIN
// would overflow.
bool isErrnoCode(std::int32_t code) { return code < 0 && code >= -4095; }

}  // namespace

DumpWalk walkDump(NetlinkBytes bytes, std::uint32_t sequence) {
    DumpWalk walk;
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        const auto header = readAt<nlmsghdr>(bytes, offset);
        if (!header || header->nlmsg_len < kHeaderLength || header->nlmsg_len > bytes.size() - offset) {
            walk.status = DumpStatus::kMalformed;
            return walk;
        }
        const NetlinkMessage message{header->nlmsg_type, header->nlmsg_flags, header->nlmsg_seq,
                                     bytes.subspan(offset + kHeaderLength, header->nlmsg_len - kHeaderLength)};
        offset += std::min(aligned(header->nlmsg_len), bytes.size() - offset);
        if (message.sequence != sequence) continue;
        if (message.flags & NLM_F_DUMP_INTR) {
            walk.status = DumpStatus::kInterrupted;
            return walk;
        }
        switch (message.type) {
            case NLMSG_NOOP:
                continue;
            case NLMSG_DONE: {
                // Since Linux 4.x the payload carries the dump's own result.
                const auto code = statusCode(message.payload);
                if (code && *code < 0 && !isErrnoCode(*code)) {
                    walk.status = DumpStatus::kMalformed;
                    return walk;
                }
                walk.status = code && *code < 0 ? DumpStatus::kFailed : DumpStatus::kComplete;
                walk.error = code && *code < 0 ? -*code : 0;
                return walk;
            }
            case NLMSG_ERROR: {
                const auto code = statusCode(message.payload);
                if (!code || (*code < 0 && !isErrnoCode(*code))) {
                    walk.status = DumpStatus::kMalformed;
                    return walk;
                }
                if (*code == 0) continue;  // an acknowledgement, not an error
                walk.status = DumpStatus::kFailed;
                walk.error = -*code;
                return walk;
            }
            case NLMSG_OVERRUN:
                walk.status = DumpStatus::kFailed;
                walk.error = ENOBUFS;
                return walk;
            default:
                if (message.type >= NLMSG_MIN_TYPE) walk.messages.push_back(message);
        }
    }
    return walk;
}

std::optional<std::vector<NetlinkAttribute>> parseAttributes(NetlinkBytes bytes) {
    std::vector<NetlinkAttribute> attributes;
    std::size_t offset = 0;
    // Fewer than a header's worth of bytes at the end can only be padding.
    while (bytes.size() - offset >= kAttributeHeaderLength) {
        const auto header = readAt<nlattr>(bytes, offset);
        if (header->nla_len < kAttributeHeaderLength || header->nla_len > bytes.size() - offset) return std::nullopt;
        attributes.push_back({static_cast<std::uint16_t>(header->nla_type & NLA_TYPE_MASK),
                              bytes.subspan(offset + kAttributeHeaderLength, header->nla_len - kAttributeHeaderLength)});
        offset += std::min(aligned(header->nla_len), bytes.size() - offset);
    }
    return attributes;
}

std::optional<std::uint8_t> attributeU8(NetlinkBytes payload) { return readAt<std::uint8_t>(payload, 0); }

std::optional<std::uint32_t> attributeU32(NetlinkBytes payload) { return readAt<std::uint32_t>(payload, 0); }

std::string_view attributeString(NetlinkBytes payload) {
    const auto* text = reinterpret_cast<const char*>(payload.data());
    const std::string_view whole(text, payload.size());
    return whole.substr(0, whole.find('\0'));
}

NetlinkMessageBuilder::NetlinkMessageBuilder(std::uint16_t type, std::uint16_t flags, std::uint32_t sequence) {
    nlmsghdr header{};
    header.nlmsg_type = type;
    header.nlmsg_flags = flags;
    header.nlmsg_seq = sequence;
    append(header);
}

NetlinkMessageBuilder& NetlinkMessageBuilder::append(NetlinkBytes bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    bytes_.resize(aligned(bytes_.size()));
    return *this;
}

NetlinkMessageBuilder& NetlinkMessageBuilder::attribute(std::uint16_t type, NetlinkBytes payload) {
    const nlattr header{static_cast<std::uint16_t>(kAttributeHeaderLength + payload.size()), type};
    const auto* raw = reinterpret_cast<const std::byte*>(&header);
    bytes_.insert(bytes_.end(), raw, raw + sizeof header);
    return append(payload);
}

NetlinkMessageBuilder& NetlinkMessageBuilder::stringAttribute(std::uint16_t type, std::string_view text) {
    std::vector<std::byte> payload(text.size() + 1);
    std::memcpy(payload.data(), text.data(), text.size());
    return attribute(type, payload);
}

NetlinkMessageBuilder& NetlinkMessageBuilder::beginNested(std::uint16_t type) {
    open_.push_back(bytes_.size());
    return attribute(static_cast<std::uint16_t>(type | NLA_F_NESTED), NetlinkBytes());
}

NetlinkMessageBuilder& NetlinkMessageBuilder::endNested() {
    const std::size_t start = open_.back();
    open_.pop_back();
    const auto length = static_cast<std::uint16_t>(bytes_.size() - start);
    std::memcpy(bytes_.data() + start + offsetof(nlattr, nla_len), &length, sizeof length);
    return *this;
}

std::vector<std::byte> NetlinkMessageBuilder::bytes() const {
    std::vector<std::byte> message = bytes_;
    const auto length = static_cast<std::uint32_t>(message.size());
    std::memcpy(message.data() + offsetof(nlmsghdr, nlmsg_len), &length, sizeof length);
    return message;
}

namespace {

// The fixed header that each dump request carries after the netlink header;
// they all begin with the address family.
std::size_t requestBodyLength(std::uint16_t type) {
    switch (type) {
        case RTM_GETLINK: return sizeof(ifinfomsg);
        case RTM_GETADDR: return sizeof(ifaddrmsg);
        default: return sizeof(rtmsg);
    }
}

std::optional<DumpAnswer> dumpOnce(std::uint16_t type, std::uint8_t family, std::uint32_t sequence, bool& interrupted) {
    interrupted = false;
    UniqueFd socket(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (!socket) return std::nullopt;
    // The plug-in runs on the page's only thread: never wait long on the kernel.
    const timeval timeout{1, 0};
    if (::setsockopt(socket.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0) return std::nullopt;

    std::vector<std::byte> body(requestBodyLength(type));
    body[0] = static_cast<std::byte>(family);
    const auto request = NetlinkMessageBuilder(type, NLM_F_REQUEST | NLM_F_DUMP, sequence).append(body).bytes();
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(socket.get(), request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&kernel),
                 sizeof kernel) < 0)
        return std::nullopt;

    DumpAnswer answer;
    answer.sequence = sequence;
    std::vector<std::byte> datagram;
    for (;;) {
        // MSG_TRUNC with MSG_PEEK answers the datagram's full length.
        const ssize_t pending = ::recv(socket.get(), nullptr, 0, MSG_PEEK | MSG_TRUNC);
        if (pending < 0 && errno == EINTR) continue;
        if (pending <= 0) return std::nullopt;
        datagram.resize(static_cast<std::size_t>(pending));
        sockaddr_nl sender{};
        socklen_t senderLength = sizeof sender;
        const ssize_t received = ::recvfrom(socket.get(), datagram.data(), datagram.size(), 0,
                                            reinterpret_cast<sockaddr*>(&sender), &senderLength);
        if (received < 0 && errno == EINTR) continue;
        if (received <= 0) return std::nullopt;
        // Another process may send to our port; only the kernel (port 0) answers dumps.
        if (sender.nl_pid != 0) continue;
        const NetlinkBytes bytes(datagram.data(), static_cast<std::size_t>(received));
        if (answer.bytes.size() + bytes.size() > kLargestAnswer) return std::nullopt;
        answer.bytes.insert(answer.bytes.end(), bytes.begin(), bytes.end());
        switch (walkDump(bytes, sequence).status) {
            case DumpStatus::kIncomplete: continue;
            case DumpStatus::kComplete: return answer;
            case DumpStatus::kInterrupted: interrupted = true; return std::nullopt;
            case DumpStatus::kFailed:
            case DumpStatus::kMalformed: return std::nullopt;
        }
    }
}

}  // namespace

std::optional<DumpAnswer> requestDump(std::uint16_t type, std::uint8_t family) {
    // Each attempt has a socket of its own, so a late answer to an earlier
    // attempt can never be mixed in; the sequence number tells them apart anyway.
    for (std::uint32_t sequence = 1; sequence <= kAttempts; ++sequence) {
        bool interrupted = false;
        auto answer = dumpOnce(type, family, sequence, interrupted);
        if (answer || !interrupted) return answer;
    }
    return std::nullopt;
}

}  // namespace vq::linux_platform
