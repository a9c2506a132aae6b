#pragma once
// Test support: a transport that records every request the SMC function
// module sends before passing it on, and a fixture that installs it as the
// process's transport with both connection handles reset.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/sim_smc.h"
#include "platform/smc_transport.h"
#include "smc/smc.h"

namespace vq::test {

struct RecordedCall {
    IOConnect connect;
    std::uint32_t selector;
    SMCParamBlock request;
};

class RecordingTransport final : public SmcTransport {
public:
    explicit RecordingTransport(std::shared_ptr<SmcTransport> inner) : inner_(std::move(inner)) {}

    SmcServiceLookup matchService(std::string_view className) override { return inner_->matchService(className); }
    IOReturn open(IOConnect& connect) override { return inner_->open(connect); }
    IOReturn callStructMethod(IOConnect connect, std::uint32_t selector, const SMCParamBlock& in,
                              SMCParamBlock& out) override {
        calls.push_back({connect, selector, in});
        return inner_->callStructMethod(connect, selector, in, out);
    }
    IOReturn close(IOConnect connect) override { return inner_->close(connect); }

    std::vector<std::uint8_t> commands() const {
        std::vector<std::uint8_t> codes;
        for (const auto& call : calls) codes.push_back(call.request.command);
        return codes;
    }

    std::vector<RecordedCall> calls;

private:
    std::shared_ptr<SmcTransport> inner_;
};

inline SMCParamBlock zeroBlock() {
    SMCParamBlock block;
    std::memset(&block, 0, sizeof block);
    return block;
}

inline bool sameBytes(const SMCParamBlock& a, const SMCParamBlock& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Installs a transport for one test and puts the previous one back after.
class SmcFixture : public ::testing::Test {
protected:
    void install(std::shared_ptr<SmcTransport> transport) {
        recorder = std::make_shared<RecordingTransport>(std::move(transport));
        auto previous = installProcessSmcTransport(recorder);
        if (!installed_) previous_ = std::move(previous);
        installed_ = true;
        conn = 0;
        conn2 = 0;
    }
    void SetUp() override {
        sim = std::make_shared<SimSmc>();
        install(sim);
    }
    void TearDown() override {
        installProcessSmcTransport(previous_);
        conn = 0;
        conn2 = 0;
    }
    void openDefault() { ASSERT_EQ(smc_init(), 0u); }

    std::shared_ptr<SimSmc> sim;
    std::shared_ptr<RecordingTransport> recorder;

private:
    std::shared_ptr<SmcTransport> previous_;
    bool installed_ = false;
};

inline std::vector<std::uint8_t> hexBytes(const std::string& hex) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

}  // namespace vq::test
