// The network readers on a real kernel. The namespace cases run in a forked
// child with network namespaces of its own, build links, addresses and routes
// over rtnetlink, and send their observations back as JSON for the checks
// here; without the privilege for namespaces they are skipped.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/if_link.h>
#include <linux/rtnetlink.h>
#include <linux/seccomp.h>
#include <linux/veth.h>
#include <net/if.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <thread>

#include "platform/linux/linux_dynamic_store.h"
#include "platform/linux/linux_interface_counters.h"
#include "platform/linux/net_dev.h"
#include "platform/linux/rtnetlink.h"
#include "platform/linux/unique_fd.h"

namespace vq::linux_platform {
namespace {

using nlohmann::json;
const std::string kFixtures = VELQUETTE_FIXTURES "/linux";

// Runs `body` in a forked child and answers the JSON it returns.
json inChild(const std::function<json()>& body) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return {{"error", "pipe"}};
    UniqueFd readEnd(fds[0]), writeEnd(fds[1]);
    const pid_t pid = ::fork();
    if (pid == 0) {
        readEnd.reset();
        json result;
        try {
            result = body();
        } catch (const std::exception& e) {
            result = {{"error", e.what()}};
        }
        const std::string text = result.dump();
        for (std::size_t done = 0; done < text.size();) {
            const ssize_t n = ::write(writeEnd.get(), text.data() + done, text.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        ::_exit(0);
    }
    writeEnd.reset();
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(readEnd.get(), buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || text.empty()) return {{"error", "the child died"}};
    return json::parse(text);
}

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Sends one request and waits for the kernel's acknowledgement; the errno on refusal.
int rtnetlinkRequest(const std::vector<std::byte>& message) {
    UniqueFd socket(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (!socket) return errno;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(socket.get(), message.data(), message.size(), 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0)
        return errno;
    std::byte reply[8192];
    const ssize_t n = ::recv(socket.get(), reply, sizeof reply, 0);
    if (n < 0) return errno;
    const NetlinkBytes bytes(reply, static_cast<std::size_t>(n));
    const auto header = readAt<nlmsghdr>(bytes, 0);
    const auto code = readAt<std::int32_t>(bytes, NLMSG_HDRLEN);
    if (!header || header->nlmsg_type != NLMSG_ERROR || !code) return EPROTO;
    return -*code;
}

constexpr std::uint16_t kCreate = NLM_F_REQUEST | NLM_F_ACK | NLM_F_CREATE | NLM_F_EXCL;

void must(int error, const std::string& what) {
    if (error != 0) throw Failure(what + ": " + std::strerror(error));
}

// A veth pair; with `peerNamespace`, the peer end is created in that namespace.
int addVethPair(const char* name, const char* peer, std::optional<int> peerNamespace = {}) {
    NetlinkMessageBuilder builder(RTM_NEWLINK, kCreate, 1);
    builder.append(ifinfomsg{}).stringAttribute(IFLA_IFNAME, name);
    builder.beginNested(IFLA_LINKINFO).stringAttribute(IFLA_INFO_KIND, "veth").beginNested(IFLA_INFO_DATA);
    builder.beginNested(VETH_INFO_PEER).append(ifinfomsg{}).stringAttribute(IFLA_IFNAME, peer);
    if (peerNamespace) builder.attribute(IFLA_NET_NS_FD, static_cast<std::uint32_t>(*peerNamespace));
    builder.endNested().endNested().endNested();
    return rtnetlinkRequest(builder.bytes());
}

std::int32_t indexOf(const char* name) {
    const unsigned index = if_nametoindex(name);
    if (index == 0) throw Failure(std::string("no interface ") + name);
    return static_cast<std::int32_t>(index);
}

void setUp(const char* name) {
    ifinfomsg header{};
    header.ifi_index = indexOf(name);
    header.ifi_flags = IFF_UP;
    header.ifi_change = IFF_UP;
    must(rtnetlinkRequest(NetlinkMessageBuilder(RTM_NEWLINK, NLM_F_REQUEST | NLM_F_ACK, 1).append(header).bytes()),
         std::string("up ") + name);
}

in_addr ipv4(const char* text) {
    in_addr address{};
    ::inet_pton(AF_INET, text, &address);
    return address;
}

void addAddress(const char* name, const char* address, std::uint8_t prefix) {
    ifaddrmsg header{};
    header.ifa_family = AF_INET;
    header.ifa_prefixlen = prefix;
    header.ifa_index = static_cast<std::uint32_t>(indexOf(name));
    must(rtnetlinkRequest(NetlinkMessageBuilder(RTM_NEWADDR, kCreate, 1)
                              .append(header)
                              .attribute(IFA_LOCAL, ipv4(address))
                              .attribute(IFA_ADDRESS, ipv4(address))
                              .bytes()),
         std::string("address ") + address);
}

void addDefaultRoute(const char* name, const char* gateway) {
    rtmsg header{};
    header.rtm_family = AF_INET;
    header.rtm_table = RT_TABLE_MAIN;
    header.rtm_protocol = RTPROT_BOOT;
    header.rtm_scope = RT_SCOPE_UNIVERSE;
    header.rtm_type = RTN_UNICAST;
    must(rtnetlinkRequest(NetlinkMessageBuilder(RTM_NEWROUTE, kCreate, 1)
                              .append(header)
                              .attribute(RTA_GATEWAY, ipv4(gateway))
                              .attribute(RTA_OIF, static_cast<std::uint32_t>(indexOf(name)))
                              .bytes()),
         "default route");
}

UniqueFd udpSocket(const char* address, std::uint16_t port) {
    UniqueFd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr = ipv4(address);
    const timeval timeout{2, 0};
    ::setsockopt(socket.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (::bind(socket.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) throw Failure("bind");
    return socket;
}

json storeValue(DynamicStore& store, const std::string& key) { return store.copyValue(key).value_or(json()); }

json countersOf(InterfaceCounters& counters) {
    json list = json::array();
    for (const InterfaceRecord& r : counters.interfaceList().value_or(std::vector<InterfaceRecord>{}))
        list.push_back({{"name", r.name}, {"flags", r.flags}, {"rx", r.receivedBytes}, {"tx", r.sentBytes}});
    return list;
}

const json* find(const json& counters, const std::string& name) {
    for (const json& entry : counters)
        if (entry.at("name") == name) return &entry;
    return nullptr;
}

constexpr int kDatagrams = 20;
constexpr std::size_t kDatagramSize = 1000;

// Namespace A holds lo, a veth pair side0/side1 that stays down, and veth0,
// whose peer veth1 lives in namespace B. veth0 carries the default route.
json observeNamespaces() {
    if (::unshare(CLONE_NEWNET) != 0) return {{"skip", "no privilege for a network namespace"}};
    UniqueFd namespaceB(::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC));
    if (::unshare(CLONE_NEWNET) != 0) return {{"skip", "no second network namespace"}};
    UniqueFd namespaceA(::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC));
    if (const int error = addVethPair("side0", "side1"); error != 0)
        return {{"skip", std::string("no veth links: ") + std::strerror(error)}};
    must(addVethPair("veth0", "veth1", namespaceB.get()), "veth0");
    setUp("lo");
    setUp("veth0");
    addAddress("veth0", "10.9.0.1", 24);
    addDefaultRoute("veth0", "10.9.0.2");

    if (::setns(namespaceB.get(), CLONE_NEWNET) != 0) throw Failure("setns B");
    setUp("lo");
    setUp("veth1");
    addAddress("veth1", "10.9.0.2", 24);
    UniqueFd receiver = udpSocket("10.9.0.2", 9999);
    LinuxInterfaceCounters countersB{Roots{}};
    const json beforeB = countersOf(countersB);
    if (::setns(namespaceA.get(), CLONE_NEWNET) != 0) throw Failure("setns A");

    json seen;
    // A store that only refreshes on the global keys, to show that they do.
    LinuxDynamicStore store(Roots{}, std::chrono::hours(1));
    // Operstate follows carrier through the kernel's link watcher, which may take a second.
    for (int attempt = 0; attempt < 60; ++attempt) {
        storeValue(store, "Setup:/Network/Global/IPv4");
        if (storeValue(store, "State:/Network/Interface/veth0/Link") == json({{"Active", 1}})) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    for (const char* key : {"State:/Network/Global/IPv4", "Setup:/Network/Global/IPv4",
                            "Setup:/Network/Service/linux-if-veth0/Interface", "Setup:/Network/Service/linux-if-side0/Interface",
                            "State:/Network/Service/linux-if-veth0/IPv4", "State:/Network/Service/linux-if-side0/IPv4",
                            "State:/Network/Interface/veth0/IPv4", "State:/Network/Interface/side0/IPv4",
                            "State:/Network/Interface/lo/Link", "State:/Network/Interface/veth0/Link",
                            "State:/Network/Interface/side0/Link", "State:/Network/Service/linux-if-veth0/PPP"})
        seen["store"][key] = storeValue(store, key);
    addAddress("side0", "10.9.1.1", 24);
    storeValue(store, "State:/Network/Global/IPv4");
    seen["side0AfterChange"] = storeValue(store, "State:/Network/Interface/side0/IPv4");

    LinuxInterfaceCounters countersA{Roots{}};
    seen["before"] = countersOf(countersA);
    UniqueFd sender = udpSocket("10.9.0.1", 9998);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(9999);
    to.sin_addr = ipv4("10.9.0.2");
    const std::string payload(kDatagramSize, 'v');
    int echoed = 0;
    for (int i = 0; i < kDatagrams; ++i) {
        ::sendto(sender.get(), payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        char buffer[2048];
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n = ::recvfrom(receiver.get(), buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n != static_cast<ssize_t>(kDatagramSize)) throw Failure("a datagram did not arrive in namespace B");
        ::sendto(receiver.get(), buffer, static_cast<std::size_t>(n), 0, reinterpret_cast<sockaddr*>(&from), fromLength);
        if (::recv(sender.get(), buffer, sizeof buffer, 0) == static_cast<ssize_t>(kDatagramSize)) ++echoed;
    }
    seen["echoed"] = echoed;
    seen["side0Index"] = indexOf("side0");
    seen["side1Index"] = indexOf("side1");
    seen["after"] = countersOf(countersA);
    if (::setns(namespaceB.get(), CLONE_NEWNET) != 0) throw Failure("setns B");
    seen["beforeB"] = beforeB;
    seen["afterB"] = countersOf(countersB);
    return seen;
}

TEST(NetworkNamespace, StoreAndCountersFollowTheKernel) {
    const json seen = inChild(observeNamespaces);
    if (seen.contains("skip")) GTEST_SKIP() << seen["skip"].get<std::string>();
    ASSERT_FALSE(seen.contains("error")) << seen.dump();
    const json& store = seen.at("store");

    EXPECT_EQ(store["State:/Network/Global/IPv4"], json({{"PrimaryInterface", "veth0"}}));
    // veth creates the peer end first, so which of side0 and side1 has the lower index is the kernel's affair.
    const bool side0First = seen.at("side0Index") < seen.at("side1Index");
    const char* lower = side0First ? "side0" : "side1";
    const char* higher = side0First ? "side1" : "side0";
    EXPECT_EQ(store["Setup:/Network/Global/IPv4"],
              json({{"ServiceOrder", {"linux-if-veth0", serviceIdFor(lower), serviceIdFor(higher)}}}));
    EXPECT_EQ(store["Setup:/Network/Service/linux-if-veth0/Interface"],
              json({{"DeviceName", "veth0"}, {"Type", "Ethernet"}, {"Hardware", "Virtual"}}));
    EXPECT_EQ(store["Setup:/Network/Service/linux-if-side0/Interface"].value("DeviceName", ""), "side0");
    EXPECT_EQ(store["State:/Network/Service/linux-if-veth0/IPv4"], json({{"InterfaceName", "veth0"}}));
    EXPECT_TRUE(store["State:/Network/Service/linux-if-side0/IPv4"].is_null());
    EXPECT_EQ(store["State:/Network/Interface/veth0/IPv4"], json({{"Addresses", {"10.9.0.1"}}}));
    EXPECT_TRUE(store["State:/Network/Interface/side0/IPv4"].is_null());
    EXPECT_EQ(store["State:/Network/Interface/lo/Link"], json({{"Active", 1}})) << "operstate unknown, running";
    EXPECT_EQ(store["State:/Network/Interface/veth0/Link"], json({{"Active", 1}}));
    EXPECT_EQ(store["State:/Network/Interface/side0/Link"], json({{"Active", 0}}));
    EXPECT_TRUE(store["State:/Network/Service/linux-if-veth0/PPP"].is_null());
    EXPECT_EQ(seen["side0AfterChange"], json({{"Addresses", {"10.9.1.1"}}})) << "a global read takes a new snapshot";

    const json& before = seen.at("before");
    const json& after = seen.at("after");
    std::vector<std::string> names;
    for (const json& entry : after) names.push_back(entry.at("name"));
    EXPECT_EQ(names, (std::vector<std::string>{"lo", lower, higher, "veth0"}));
    EXPECT_EQ(find(after, "lo")->at("flags"), 0x9);
    EXPECT_EQ(find(after, "side0")->at("flags"), 0x0);
    EXPECT_EQ(find(after, "veth0")->at("flags"), 0x1);

    EXPECT_EQ(seen.at("echoed"), kDatagrams);
    const std::uint64_t sent = kDatagrams * kDatagramSize;
    const auto grew = [](const json& from, const json& to, const char* name, const char* counter) {
        return to.at(counter).get<std::uint64_t>() - find(from, name)->at(counter).get<std::uint64_t>();
    };
    EXPECT_GE(grew(before, *find(after, "veth0"), "veth0", "tx"), sent);
    EXPECT_GE(grew(before, *find(after, "veth0"), "veth0", "rx"), sent);
    EXPECT_GE(grew(seen.at("beforeB"), *find(seen.at("afterB"), "veth1"), "veth1", "rx"), sent);
    EXPECT_GE(grew(seen.at("beforeB"), *find(seen.at("afterB"), "veth1"), "veth1", "tx"), sent);
    EXPECT_LT(grew(before, *find(after, "veth0"), "veth0", "tx"), 4 * sent) << "only this test's traffic";
}

// A seccomp filter that refuses AF_NETLINK sockets with EACCES, as some
// sandboxes do.
bool refuseNetlinkSockets() {
#if defined(__x86_64__)
    constexpr std::uint32_t kArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
    constexpr std::uint32_t kArch = AUDIT_ARCH_AARCH64;
#else
    return false;
#endif
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kArch, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_socket, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])),  // the low half, little-endian
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AF_NETLINK, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EACCES & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    const sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

TEST(NetlinkRefused, CountersComeFromProcNetDevAndTheStoreIsEmpty) {
    const json seen = inChild([] {
        if (!refuseNetlinkSockets()) return json{{"skip", "no seccomp filter here"}};
        const Roots roots{kFixtures + "/net-namespace/proc", kFixtures + "/net-namespace/sys", "/run/udev"};
        LinuxInterfaceCounters counters(roots);
        LinuxDynamicStore store(roots);
        return json{{"netlinkSocket", ::socket(AF_NETLINK, SOCK_RAW, NETLINK_ROUTE) < 0 ? errno : 0},
                    {"counters", countersOf(counters)},
                    {"order", storeValue(store, "Setup:/Network/Global/IPv4")},
                    {"link", storeValue(store, "State:/Network/Interface/lo/Link")}};
    });
    if (seen.contains("skip")) GTEST_SKIP() << seen["skip"].get<std::string>();
    ASSERT_EQ(seen.at("netlinkSocket"), EACCES) << "the filter is in place";
    std::vector<std::string> names;
    for (const json& entry : seen.at("counters")) names.push_back(entry.at("name"));
    EXPECT_EQ(names, (std::vector<std::string>{"lo", "veth1", "veth0", "br0", "tun0", "tap0"}));
    EXPECT_EQ(find(seen.at("counters"), "veth0")->at("tx"), 3126);
    EXPECT_TRUE(seen.at("order").is_null());
    EXPECT_TRUE(seen.at("link").is_null());
}

// This machine, read twice in a row: the lists agree with /proc/net/dev.
TEST(LiveNetwork, CountersListTheInterfacesOfProcNetDevInIndexOrder) {
    LinuxInterfaceCounters counters{Roots{}};
    const auto records = counters.interfaceList();
    ASSERT_TRUE(records);
    std::ifstream file("/proc/net/dev");
    std::stringstream text;
    text << file.rdbuf();
    std::set<std::string> fromFile, fromDump;
    for (const NetDevLine& line : parseProcNetDev(text.str())) fromFile.insert(line.name);
    unsigned previous = 0;
    for (const InterfaceRecord& record : *records) {
        fromDump.insert(record.name);
        const unsigned index = if_nametoindex(record.name.c_str());
        EXPECT_GT(index, previous) << record.name;
        previous = index;
        EXPECT_EQ(record.flags & ~(kInterfaceUp | kInterfaceLoopback), 0u) << record.name;
        if (record.name == "lo") {
            EXPECT_TRUE(record.flags & kInterfaceLoopback);
        }
    }
    EXPECT_EQ(fromDump, fromFile);
}

TEST(LiveNetwork, StoreHasAServicePerNonLoopbackInterface) {
    LinuxDynamicStore store{Roots{}};
    const auto order = store.copyValue("Setup:/Network/Global/IPv4");
    ASSERT_TRUE(order);
    LinuxInterfaceCounters counters{Roots{}};
    std::size_t nonLoopback = 0;
    for (const InterfaceRecord& record : counters.interfaceList().value_or(std::vector<InterfaceRecord>{})) {
        if (record.flags & kInterfaceLoopback) continue;
        ++nonLoopback;
        EXPECT_TRUE(store.copyValue("Setup:/Network/Service/" + serviceIdFor(record.name) + "/Interface")) << record.name;
        EXPECT_TRUE(store.copyValue("State:/Network/Interface/" + record.name + "/Link")) << record.name;
    }
    EXPECT_EQ(order->at("ServiceOrder").size(), nonLoopback);
    // /proc/net/route prints the IPv4 main table; a default route there names the primary interface.
    std::ifstream routes("/proc/net/route");
    std::string line, best;
    long bestMetric = -1;
    while (std::getline(routes, line)) {
        std::istringstream fields(line);
        std::string name, destination, gateway, flags, refs, use, metric, mask;
        fields >> name >> destination >> gateway >> flags >> refs >> use >> metric >> mask;
        if (destination != "00000000" || mask != "00000000") continue;
        if (bestMetric < 0 || std::stol(metric) < bestMetric) best = name, bestMetric = std::stol(metric);
    }
    const auto global = store.copyValue("State:/Network/Global/IPv4");
    if (best.empty()) {
        EXPECT_FALSE(global);
    } else {
        ASSERT_TRUE(global);
        EXPECT_EQ(global->at("PrimaryInterface"), best);
        EXPECT_EQ(order->at("ServiceOrder").at(0), serviceIdFor(best));
    }
}

}  // namespace
}  // namespace vq::linux_platform
