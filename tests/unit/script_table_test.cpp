#include <gtest/gtest.h>

#include "bridge/Velquette.h"
#include "bridge/script_table.h"
#include "platform/sim/sim_machine.h"

namespace vq {
namespace {

TEST(ScriptTable, ReachesTheScriptNamesAndTheDefaultNamesOnly) {
    const auto& names = reachableScriptNames();
    for (const char* name : {"cpuUsage", "uptime", "load", "processinfo", "setNeedsSMARTUpdate",
                             "setShouldMonitorSMARTTemps", "hasDiskSetupChanged", "hasNetworkSetupChanged",
                             "installIntelModule", "wasIntelModuleInstalled"}) {
        EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
        const Value args = std::string(name) == "setShouldMonitorSMARTTemps" ? Value::array({1}) : Value::array();
        EXPECT_EQ(checkScriptCall(name, args), std::nullopt) << name;
    }
    // Life-cycle methods, handlers and members are never reachable.
    for (const char* name : {"workspaceChange", "moduleInstalledNotification", "windowScriptObjectAvailable",
                             "initWithWebView", "cpuDataMiner", "updateList", "", "cpuusage"}) {
        EXPECT_NE(checkScriptCall(name, Value::array()), std::nullopt) << name;
    }
}

TEST(ScriptTable, RejectsArgumentsThatDoNotFit) {
    struct Case {
        const char* name;
        Value args;
    } rejected[] = {
        {"cpuUsage", Value::array({1})},
        {"cpuUsage", Value::object()},
        {"setShouldMonitorSMARTTemps", Value::array()},
        {"setShouldMonitorSMARTTemps", Value::array({1, 2})},
        {"setShouldMonitorSMARTTemps", Value::array({"1"})},
        {"setShouldMonitorSMARTTemps", Value::array({1.5})},
        {"setShouldMonitorSMARTTemps", Value::array({true})},
        {"setShouldMonitorSMARTTemps", Value::array({nullptr})},
        {"setShouldMonitorSMARTTemps", Value::array({2147483648LL})},
        {"setShouldMonitorSMARTTemps", Value::array({-2147483649LL})},
    };
    for (const auto& c : rejected) {
        auto reason = checkScriptCall(c.name, c.args);
        ASSERT_NE(reason, std::nullopt) << c.name << " " << c.args.dump();
        EXPECT_EQ(reason->find('\n'), std::string::npos);
        EXPECT_NE(reason->find(c.name), std::string::npos) << *reason;
    }
    EXPECT_EQ(checkScriptCall("setShouldMonitorSMARTTemps", Value::array({-2147483648LL})), std::nullopt);
    EXPECT_EQ(checkScriptCall("setShouldMonitorSMARTTemps", Value::array({2147483647})), std::nullopt);
}

TEST(ScriptTable, ConvertsResultsForThePage) {
    auto machine = std::make_shared<SimMachine>();
    machine->tickSamples = {{{0, 0, 0, 0}}, {{1, 0, 3, 0}}};
    machine->taskCounts = TaskCounts{1, 2};
    Velquette object(makeSimPlatform(machine));

    EXPECT_EQ(invokeScriptCall(object, "hasNetworkSetupChanged", Value::array()), Value(true));
    EXPECT_EQ(invokeScriptCall(object, "hasNetworkSetupChanged", Value::array()), Value(false));
    EXPECT_EQ(invokeScriptCall(object, "processinfo", Value::array()), Value("1 tasks, 2 threads"));
    EXPECT_EQ(invokeScriptCall(object, "uptime", Value::array()), Value(""));  // no boot time
    EXPECT_TRUE(invokeScriptCall(object, "installIntelModule", Value::array()).is_null());
    EXPECT_TRUE(invokeScriptCall(object, "setShouldMonitorSMARTTemps", Value::array({1})).is_null());
    EXPECT_TRUE(object.isSMARTMonitoringEnabled());

    const Value usage = invokeScriptCall(object, "cpuUsage", Value::array());
    EXPECT_TRUE(usage[0][0].is_number_integer());
    EXPECT_TRUE(usage[1][0][0].is_number_integer());
    EXPECT_TRUE(usage[1][0][2].is_number_float());
    EXPECT_EQ(usage[1][0][2].get<double>(), 25.0);
}

}  // namespace
}  // namespace vq
