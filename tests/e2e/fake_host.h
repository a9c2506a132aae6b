#pragma once
// A stand-in for the host that serves the real page but answers /batch as a
// test scripts it: the first N refreshes find no host (the connection is
// dropped unanswered), later ones get a fixed answer, and after M answers the
// host "goes away" again. It records every call the page makes, so tests can
// check how the page polls and how it behaves when the host disappears and
// comes back.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vq::e2e {

struct FakeHostScript {
    int unreachableFirst = 0;      // refreshes that find no host
    int answered = 1 << 30;        // refreshes answered after those
    std::string batchAnswer;       // JSON body of each answer
};

class FakeHost {
public:
    FakeHost(std::string webRoot, FakeHostScript script);
    ~FakeHost();
    FakeHost(const FakeHost&) = delete;
    FakeHost& operator=(const FakeHost&) = delete;

    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

    struct Call {
        std::string method;  // HTTP method
        std::string path;
        std::string body;
    };
    // Every POST the page made, in arrival order.
    std::vector<Call> posts() const;

private:
    void acceptLoop();
    void serve(int fd);

    std::string webRoot_;
    FakeHostScript script_;
    int listenFd_ = -1;
    int stopPipe_[2] = {-1, -1};
    std::uint16_t port_ = 0;
    std::atomic<int> batches_{0};
    mutable std::mutex mutex_;
    std::vector<Call> posts_;
    std::vector<std::thread> connections_;
    std::thread acceptor_;
};

}  // namespace vq::e2e
