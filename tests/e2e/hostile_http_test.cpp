// Malformed and hostile HTTP against the real host. Each request hides a call that switches the disk's
// temperature on where a server that misreads the request's framing would run it: only well-formed calls may
// change that state. A normal client is answered promptly while idle and stalled connections are held open.

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "e2e.h"

namespace vq::e2e {
namespace {

using namespace std::chrono;

struct Connection {
    explicit Connection(std::uint16_t port) : fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address)) throw std::runtime_error("connect");
    }
    ~Connection() { ::close(fd); }
    void send(const std::string& bytes) const { ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
    int fd;
};

struct HostileHttpTest : ::testing::Test {
    void TearDown() override { EXPECT_EQ(host.stop(), 0) << host.stderrText(); }
    bool diskTemperatureShown() const {
        const json temps = host.call("temps", {1});
        return !temps.empty() && temps[0][0] == "HD: Workhorse";
    }
    // A call's request line and headers; a blank line ends them.
    std::string call(const std::string& headers, const std::string& line = "POST /call") const {
        return line + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(host.port) +
               "\r\nContent-Type: application/json\r\n" + headers + "\r\n";
    }
    static std::string length(std::size_t n) { return "Content-Length: " + std::to_string(n) + "\r\n"; }

    // Started with a soft limit of 64 open files, far below the connections held open below.
    Host host{{VQ_FIXTURES_DIR "/machines/smart-disk0.json", {}, {}, {"prlimit", "--nofile=64:4096", "--"}}};
    const std::string set = R"({"method":"setShouldMonitorSMARTTemps","args":[1]})", up = R"({"method":"uptime"})";
};

TEST_F(HostileHttpTest, OnlyWellFormedCallsChangeState) {
    // The state-changing call as the next request on the same connection.
    const std::string next = call(length(set.size()) + "Connection: close\r\n") + set;
    const std::string chunked = "Transfer-Encoding: chunked\r\n", chunks = "13\r\n" + up + "\r\n0\r\n\r\n";
    std::string manyHeaders;
    for (int i = 0; i < 100000; ++i) manyHeaders += "X-Many: a\r\n";
    const std::tuple<const char*, std::string, int> cases[] = {
        {"well-formed: the call runs, so a change is seen", call(length(set.size())) + set, 200},
        {"a length, then chunked", call(length(up.size()) + chunked) + chunks + next, 400},
        {"chunked, then a length", call(chunked + length(up.size())) + chunks + next, 400},
        {"an empty length and an identity coding", call(length(0) + "Transfer-Encoding: identity\r\n") + next, 400},
        {"two lengths", call(length(up.size()) + length(up.size() + next.size())) + up + next, 400},
        {"the same length twice", call(length(up.size()) + length(up.size())) + up + next, 400},
        {"a signed length", call("Content-Length: +" + std::to_string(up.size()) + "\r\n") + up + next, 400},
        {"a length that takes in the next request", call(length(up.size() + next.size())) + up + next, 400},
        {"a length that ends inside the body", call(length(5)) + up + next, 400},
        {"a second, plain Content-Type", call("Content-Type: text/plain\r\n" + length(set.size())) + set, 415},
        {"a header of 1 MiB", call("X-Padding: " + std::string(1 << 20, 'a') + "\r\n" + length(set.size())) + set, 0},
        {"100000 headers", call(manyHeaders + length(set.size())) + set, 0},
        {"a body past the limit", call(length(70000)) + set + std::string(70000 - set.size(), ' '), 413},
        {"an unknown method", call(length(set.size()), "SET /call") + set, 405},
        {"a target naming another server", call(length(set.size()), "POST http://attacker.example/call") + set, 421},
        {"a request line with a fourth word", call(length(0), "POST /call HTTP/1.1 x") + next, 400},
    };
    for (const auto& [what, bytes, status] : cases) {
        EXPECT_EQ(host.raw(bytes).status, status) << what;
        EXPECT_EQ(diskTemperatureShown(), status == 200) << what;
        host.call("setShouldMonitorSMARTTemps", {0});
    }
}

TEST_F(HostileHttpTest, AnswersANormalClientWhileConnectionsIdleOrStall) {
    std::vector<std::unique_ptr<Connection>> held;
    const auto opening = steady_clock::now();
    for (int i = 0; i < 220; ++i) {
        held.push_back(std::make_unique<Connection>(host.port));
        if (i % 10 == 0) held.back()->send(call(length(set.size())) + set.substr(0, 20));  // a body that stalls
    }
    // A connection the listen backlog has no room for waits a second for its SYN to be sent again.
    EXPECT_LT(steady_clock::now() - opening, 3s);
    for (int i = 0; i < 5; ++i) {
        const auto start = steady_clock::now();
        EXPECT_EQ(host.post("/batch", R"([{"method":"cpuUsage"},{"method":"temps","args":[1]}])").status, 200);
        EXPECT_LT(steady_clock::now() - start, 1s);
    }
    EXPECT_FALSE(diskTemperatureShown());
    held.clear();
    EXPECT_FALSE(diskTemperatureShown());
}

}  // namespace
}  // namespace vq::e2e
