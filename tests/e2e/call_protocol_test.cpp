// The bridge protocol from request body to answer, against a plug-in object
// on a simulated two-processor machine.

#include "host/call_protocol.h"

#include <gtest/gtest.h>

#include "bridge/Velquette.h"
#include "platform/sim/sim_machine.h"

namespace vq::host {
namespace {

using nlohmann::json;

const json kTwoCoreMachine = json::parse(R"({
  "model": "MacBookPro3,1",
  "architecture": "intel",
  "clock": [1700093839],
  "bootTime": {"sec": 1700000000, "usec": 0},
  "loadAverage": {"ldavg": [32768, 16384, 65536], "fscale": 65536},
  "taskCounts": {"tasks": 57, "threads": 213},
  "processorTicks": [
    [[1000, 1000, 1000, 0], [1000, 1000, 1000, 0]],
    [[1207, 1106, 1687, 0], [1100, 1106, 1794, 0]]
  ]
})");

// The first cpuUsage on that machine. Shares are computed the miner's way,
// in single precision: delta / total * 100.
json firstSample() {
    auto share = [](int ticks) { return double(float(ticks) / 1000.0f * 100.0f); };
    return json::array({json::array({10, 15, 0, 75, 25}),
                        json::array({json::array({31, share(106), share(207), share(0)}),
                                     json::array({20, share(106), share(100), share(0)})})});
}

class CallProtocolTest : public ::testing::Test {
protected:
    CallProtocolTest() : machine_(loadSimMachine(kTwoCoreMachine)), object_(makeSimPlatform(machine_)) {}

    // The answer's JSON, checked to be one line.
    static json body(const Reply& reply) {
        EXPECT_EQ(reply.body.find('\n'), std::string::npos) << reply.body;
        return json::parse(reply.body);
    }

    // A refusal: 400 and {"error": "<one line>"} and nothing else.
    static std::string refusal(const Reply& reply) {
        EXPECT_EQ(reply.status, 400u) << reply.body;
        auto answer = body(reply);
        EXPECT_TRUE(answer.is_object() && answer.size() == 1 && answer.contains("error")) << reply.body;
        EXPECT_TRUE(answer.value("error", json()).is_string());
        return answer.value("error", "");
    }

    std::shared_ptr<SimMachine> machine_;
    Velquette object_;
};

TEST_F(CallProtocolTest, ACallAnswersItsResult) {
    auto reply = answerCall(object_, R"({"method": "uptime", "args": []})");
    EXPECT_EQ(reply.status, 200u);
    EXPECT_EQ(body(reply), json({{"result", "1d 2h 3m"}}));
    // "args" may be left out for a call without arguments.
    EXPECT_EQ(body(answerCall(object_, R"({"method":"load"})")), json({{"result", "0.50, 0.25, 1.00"}}));
    // A method that answers nothing answers null.
    EXPECT_EQ(body(answerCall(object_, R"({"method":"setShouldMonitorSMARTTemps","args":[1]})")),
              json({{"result", nullptr}}));
}

TEST_F(CallProtocolTest, FloatSharesCrossAsTheDoubleOfTheirFloat) {
    // Compared exactly: the text must carry every bit of each double.
    auto usage = body(answerCall(object_, R"({"method":"cpuUsage"})")).at("result");
    EXPECT_EQ(usage, firstSample());
    for (const auto& n : usage.at(0)) EXPECT_TRUE(n.is_number_integer()) << usage;
    for (const auto& core : usage.at(1)) EXPECT_TRUE(core.at(0).is_number_integer()) << usage;
}

TEST_F(CallProtocolTest, MalformedCallsAreRefusedWithAOneLineReason) {
    const char* bodies[] = {
        "",
        "{",
        "{\"method\": \"uptime\",}",
        "\"uptime\"",
        "[]",
        "null",
        "{}",
        R"({"method": 7})",
        R"({"method": null})",
        R"({"method": "uptime", "args": {}})",
        R"({"method": "uptime", "args": "x"})",
        R"({"method": "uptime", "arguments": []})",
        "{\"method\": \"upt\xff\"}",
        R"({"method": "uptime"} trailing)",
    };
    for (const char* text : bodies) EXPECT_FALSE(refusal(answerCall(object_, text)).empty()) << text;
}

TEST_F(CallProtocolTest, OnlyReachableNamesWithFittingArgumentsRun) {
    const char* bodies[] = {
        R"({"method": "bogus"})",
        R"({"method": ""})",
        R"({"method": "CPUUSAGE"})",
        // Life-cycle and handler methods are never reachable.
        R"({"method": "windowScriptObjectAvailable"})",
        R"({"method": "initWithWebView"})",
        R"({"method": "workspaceChange"})",
        R"({"method": "moduleInstalledNotification"})",
        R"({"method": "installNotifiers"})",
        R"({"method": "networkChangeCallback"})",
        // Wrong count and wrong type.
        R"({"method": "uptime", "args": [1]})",
        R"({"method": "setShouldMonitorSMARTTemps"})",
        R"({"method": "setShouldMonitorSMARTTemps", "args": [1, 2]})",
        R"({"method": "setShouldMonitorSMARTTemps", "args": ["1"]})",
        R"({"method": "setShouldMonitorSMARTTemps", "args": [null]})",
        R"({"method": "setShouldMonitorSMARTTemps", "args": [[1]]})",
    };
    for (const char* text : bodies) refusal(answerCall(object_, text));
    // Nothing of it reached the object: no sample was taken, no flag moved.
    EXPECT_FALSE(object_.isSMARTMonitoringEnabled());
    EXPECT_EQ(body(answerCall(object_, R"({"method":"hasNetworkSetupChanged"})")), json({{"result", true}}));
}

TEST_F(CallProtocolTest, ABatchAnswersEachCallInOrder) {
    auto reply = answerBatch(object_, R"([{"method":"uptime"},{"method":"hasNetworkSetupChanged","args":[]},
                                          {"method":"hasNetworkSetupChanged"},{"method":"processinfo"}])");
    EXPECT_EQ(reply.status, 200u);
    EXPECT_EQ(body(reply), json::parse(R"([{"result":"1d 2h 3m"},{"result":true},{"result":false},
                                           {"result":"57 tasks, 213 threads"}])"));
    EXPECT_EQ(body(answerBatch(object_, "[]")), json::array());
}

TEST_F(CallProtocolTest, ABatchWithOneBadCallChangesNothing) {
    const auto readsBefore = machine_->tickReads();
    auto reason = refusal(answerBatch(object_, R"([{"method":"setShouldMonitorSMARTTemps","args":[1]},
                                                   {"method":"cpuUsage"},{"method":"hasNetworkSetupChanged"},
                                                   {"method":"bogus"}])"));
    EXPECT_NE(reason.find("call 3"), std::string::npos) << reason;
    refusal(answerBatch(object_, R"([{"method":"cpuUsage"},{"method":"uptime","args":[1]}])"));
    refusal(answerBatch(object_, R"([{"method":"cpuUsage"}, 5])"));

    EXPECT_EQ(machine_->tickReads(), readsBefore);
    EXPECT_FALSE(object_.isSMARTMonitoringEnabled());
    // The flags and the first sample are still there for the next good call.
    EXPECT_EQ(body(answerBatch(object_, R"([{"method":"hasNetworkSetupChanged"},{"method":"cpuUsage"}])")),
              json::array({{{"result", true}}, {{"result", firstSample()}}}));
}

TEST_F(CallProtocolTest, ABatchMustBeAList) {
    refusal(answerBatch(object_, R"({"method":"uptime"})"));
    refusal(answerBatch(object_, "not json"));
    refusal(answerBatch(object_, R"([["uptime", []]])"));
}

}  // namespace
}  // namespace vq::host
