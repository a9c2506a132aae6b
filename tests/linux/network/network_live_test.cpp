// The network readers on the real kernel in a namespace built with ip(8); socket() and recvfrom() are
// interposed to refuse netlink as some sandboxes do and to forge a sender that is not the kernel.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sched.h>

#include <cstring>
#include <memory>
#include <thread>

#include "platform/linux/common/unique_fd.h"
#include "platform/linux/netlink/netlink_change_notifier.h"
#include "platform/linux/network/linux_dynamic_store.h"
#include "platform/linux/network/linux_interface_counters.h"

namespace {
bool refuseNetlink = false;  // socket(AF_NETLINK, ...) fails with EACCES
bool forgeDatagram = false;  // the next recvfrom() answers a dump sent by port 4242 instead of the kernel
}  // namespace

extern "C" int socket(int domain, int type, int protocol) {
    static const auto real = reinterpret_cast<int (*)(int, int, int)>(::dlsym(RTLD_NEXT, "socket"));
    return refuseNetlink && domain == AF_NETLINK ? (errno = EACCES, -1) : real(domain, type, protocol);
}

extern "C" ssize_t recvfrom(int fd, void* buffer, size_t length, int flags, sockaddr* from, socklen_t* fromLength) {
    using Recvfrom = ssize_t (*)(int, void*, size_t, int, sockaddr*, socklen_t*);
    static const auto real = reinterpret_cast<Recvfrom>(::dlsym(RTLD_NEXT, "recvfrom"));
    if (!forgeDatagram || !from) return real(fd, buffer, length, flags, from, fromLength);
    forgeDatagram = false;
    using vq::linux_platform::NetlinkMessageBuilder;
    const auto forged = NetlinkMessageBuilder(NLMSG_DONE, NLM_F_MULTI, 1).append(0).bytes();  // a dump of no links
    const sockaddr_nl sender{AF_NETLINK, 0, 4242, 0};
    std::memcpy(from, &sender, std::min<std::size_t>(*fromLength, sizeof sender));
    *fromLength = sizeof sender;
    std::memcpy(buffer, forged.data(), std::min(length, forged.size()));
    return static_cast<ssize_t>(std::min(length, forged.size()));
}

namespace vq::linux_platform {
namespace {

using nlohmann::json;
using Records = std::vector<InterfaceRecord>;

// "name:flags:received:sent " for each interface.
std::string describe(const std::optional<Records>& records) {
    std::string text;
    for (const InterfaceRecord& r : records.value_or(Records{}))
        text += r.name + ":" + std::to_string(r.flags) + ":" + std::to_string(r.receivedBytes) + ":" +
                std::to_string(r.sentBytes) + " ";
    return text;
}

TEST(NetlinkRefused, CountersComeFromProcNetDevAndTheStoreIsEmpty) {
    const std::string fixture = VELQUETTE_FIXTURES "/linux/net-namespace";
    const Roots roots{fixture + "/proc", fixture + "/sys", "/nonexistent"};
    refuseNetlink = true;
    const auto records = LinuxInterfaceCounters(roots).interfaceList();
    const auto order = LinuxDynamicStore(roots).copyValue("Setup:/Network/Global/IPv4");
    refuseNetlink = false;
    // Only IFF_UP and IFF_LOOPBACK are passed on: lo's 0x9 stays, veth's 0x1003 becomes 0x1.
    EXPECT_EQ(describe(records), "lo:9:1084:1084 veth1:1:3126:0 veth0:1:0:3126 br0:1:0:108 tun0:0:0:0 tap0:0:0:0 ");
    EXPECT_EQ(order, std::nullopt);
}

bool ip(const std::string& arguments) { return std::system(("ip " + arguments).c_str()) == 0; }

// The calling thread's network namespace; ip(8) inherits the descriptor.
UniqueFd currentNamespace() { return UniqueFd(::open("/proc/thread-self/ns/net", O_RDONLY)); }

// Iterates the thread-default main context until `done` or `seconds` pass.
bool spinUntil(const bool& done, double seconds) {
    const gint64 deadline = g_get_monotonic_time() + gint64(seconds * G_USEC_PER_SEC);
    while (!done && g_get_monotonic_time() < deadline) g_main_context_iteration(nullptr, FALSE), g_usleep(1000);
    return done;
}

// Namespace A: lo, a veth pair side0/side1 left down, veth0 with the default route; its peer veth1 is in B.
TEST(NetworkNamespace, NotifierStoreAndCountersFollowTheKernel) {
    const UniqueFd home = currentNamespace();
    if (::unshare(CLONE_NEWNET) != 0) GTEST_SKIP() << "no privilege for a network namespace";
    const std::shared_ptr<void> goHome(nullptr, [&](void*) { ::setns(home.get(), CLONE_NEWNET); });
    const UniqueFd b = currentNamespace();
    ASSERT_EQ(::unshare(CLONE_NEWNET), 0);
    const UniqueFd a = currentNamespace();
    bool changed = false;
    NetlinkChangeNotifier notifier;
    Subscription subscription = notifier.watchNetworkChanges([&] { changed = true; });
    ASSERT_TRUE(ip("link add side0 type veth peer name side1") &&
                ip("link add veth0 type veth peer name veth1 netns /proc/self/fd/" + std::to_string(b.get())) &&
                ip("link set lo up") && ip("link set veth0 up") && ip("address add 10.9.0.1/24 dev veth0") &&
                ip("route add default via 10.9.0.2 dev veth0"))
        << "iproute2 is needed";
    EXPECT_TRUE(spinUntil(changed, 2));
    ASSERT_EQ(::setns(b.get(), CLONE_NEWNET), 0);
    ASSERT_TRUE(ip("link set lo up") && ip("link set veth1 up") && ip("address add 10.9.0.2/24 dev veth1"));
    const UniqueFd receiver(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const sockaddr_in address{AF_INET, htons(9999), {::inet_addr("10.9.0.2")}, {}};
    const timeval timeout{2, 0};
    ::setsockopt(receiver.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ASSERT_EQ(::bind(receiver.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::setns(a.get(), CLONE_NEWNET), 0);

    LinuxDynamicStore store(Roots{}, std::chrono::hours(1));  // a new snapshot only on global keys
    // Operstate follows carrier through the kernel's link watcher, which may take a second.
    for (int i = 0; i < 60 && store.copyValue("Setup:/Network/Global/IPv4") &&
                    store.copyValue("State:/Network/Interface/veth0/Link").value_or(nullptr) != json{{"Active", 1}};
         ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const bool side0First = if_nametoindex("side0") < if_nametoindex("side1");
    const char *lower = side0First ? "side0" : "side1", *higher = side0First ? "side1" : "side0";
    const std::pair<std::string, json> expected[] = {
        {"State:/Network/Global/IPv4", {{"PrimaryInterface", "veth0"}}},
        {"Setup:/Network/Global/IPv4",
         {{"ServiceOrder", {"linux-if-veth0", serviceIdFor(lower), serviceIdFor(higher)}}}},
        {"State:/Network/Interface/veth0/IPv4", {{"Addresses", {"10.9.0.1"}}}},
        {"State:/Network/Interface/veth0/Link", {{"Active", 1}}},
        {"State:/Network/Interface/side0/Link", {{"Active", 0}}}};
    for (const auto& [key, value] : expected) EXPECT_EQ(store.copyValue(key).value_or(nullptr), value) << key;
    subscription.reset();
    changed = false;
    ASSERT_TRUE(ip("address add 10.9.1.1/24 dev side0"));
    EXPECT_FALSE(spinUntil(changed, 1)) << "a cancelled subscription is not called";
    EXPECT_FALSE(store.copyValue("State:/Network/Interface/side0/IPv4")) << "the snapshot holds until a global read";
    store.copyValue("State:/Network/Global/IPv4");
    EXPECT_EQ(store.copyValue("State:/Network/Interface/side0/IPv4").value_or(nullptr),
              (json{{"Addresses", {"10.9.1.1"}}}));

    LinuxInterfaceCounters countersA{Roots{}};
    const Records before = countersA.interfaceList().value_or(Records{});
    const UniqueFd sender(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    constexpr std::uint64_t kSize = 1000, kSent = 20 * kSize;
    char payload[kSize] = {};
    for (int i = 0; i < 20; ++i) {
        ::sendto(sender.get(), payload, kSize, 0, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        ASSERT_EQ(::recv(receiver.get(), payload, kSize, 0), ssize_t(kSize)) << "datagram " << i;
    }
    forgeDatagram = true;  // only the kernel's answer may count
    const Records after = countersA.interfaceList().value_or(Records{});
    EXPECT_FALSE(forgeDatagram) << "the counters were not read over netlink";
    std::string flags;
    for (const InterfaceRecord& r : after) flags += r.name + ":" + std::to_string(r.flags) + " ";
    ASSERT_EQ(flags, "lo:9 " + std::string(lower) + ":0 " + higher + ":0 veth0:1 ");
    std::uint64_t sent = after.back().sentBytes - before.back().sentBytes;  // veth0 has the highest index
    EXPECT_TRUE(sent >= kSent && sent < 2 * kSent) << sent << " bytes sent by veth0 for this test's datagrams";
}

}  // namespace
}  // namespace vq::linux_platform
