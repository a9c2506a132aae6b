#include "bridge/script_table.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <limits>
#include <tuple>
#include <type_traits>
#include <utility>

#include "bridge/Velquette.h"

namespace vq {
namespace {

// How one parameter type is taken from a JSON argument.
template <typename T>
struct Argument;

template <>
struct Argument<int> {
    static constexpr const char* kind = "an integer";
    static bool accepts(const Value& v) {
        if (v.is_number_integer()) {
            if (v.is_number_unsigned()) return v.get<std::uint64_t>() <= std::numeric_limits<std::int32_t>::max();
            const auto n = v.get<std::int64_t>();
            return n >= std::numeric_limits<std::int32_t>::min() && n <= std::numeric_limits<std::int32_t>::max();
        }
        return false;
    }
    static int get(const Value& v) { return static_cast<int>(v.get<std::int64_t>()); }
};

template <>
struct Argument<std::string> {
    static constexpr const char* kind = "a string";
    static bool accepts(const Value& v) { return v.is_string(); }
    static std::string get(const Value& v) { return v.get<std::string>(); }
};

// A parameter whose value is ignored: any JSON value is taken.
template <>
struct Argument<Value> {
    static constexpr const char* kind = "any value";
    static bool accepts(const Value&) { return true; }
    static const Value& get(const Value& v) { return v; }
};

struct ScriptMethod {
    std::string_view name;
    std::function<std::optional<std::string>(const Value& args)> check;
    std::function<Value(Velquette&, const Value& args)> call;
};

template <typename R, typename... Params>
ScriptMethod scriptMethod(std::string_view name, R (Velquette::*method)(Params...)) {
    ScriptMethod row;
    row.name = name;
    row.check = [name](const Value& args) -> std::optional<std::string> {
        if (!args.is_array()) return "arguments of " + std::string(name) + " must be an array";
        if (args.size() != sizeof...(Params))
            return std::string(name) + " takes " + std::to_string(sizeof...(Params)) + " argument(s), got " +
                   std::to_string(args.size());
        using Check = bool (*)(const Value&);
        constexpr std::array<Check, sizeof...(Params)> accepts{&Argument<std::remove_cvref_t<Params>>::accepts...};
        constexpr std::array<const char*, sizeof...(Params)> kinds{Argument<std::remove_cvref_t<Params>>::kind...};
        for (std::size_t i = 0; i < accepts.size(); ++i) {
            if (!accepts[i](args[i]))
                return std::string(name) + ": argument " + std::to_string(i + 1) + " must be " + kinds[i];
        }
        return std::nullopt;
    };
    row.call = [method](Velquette& object, const Value& args) -> Value {
        return [&]<std::size_t... I>(std::index_sequence<I...>) -> Value {
            if constexpr (std::is_void_v<R>) {
                (object.*method)(Argument<std::remove_cvref_t<Params>>::get(args[I])...);
                return nullptr;
            } else {
                return Value((object.*method)(Argument<std::remove_cvref_t<Params>>::get(args[I])...));
            }
        }(std::index_sequence_for<Params...>{});
    };
    return row;
}

// One row per reachable name: the script-visible table first, then the
// methods the page reaches under their default names.
const std::vector<ScriptMethod>& table() {
    static const std::vector<ScriptMethod> rows = {
        scriptMethod("cpuUsage", &Velquette::cpuUsage),
        scriptMethod("memoryUsage", &Velquette::memoryUsage),
        scriptMethod("diskUsage", &Velquette::diskUsage),
        scriptMethod("network", &Velquette::network),
        scriptMethod("getAppPath", &Velquette::getAppPath),
        scriptMethod("getselfpid", &Velquette::getselfpid),
        scriptMethod("getPsName", &Velquette::getPsName),
        scriptMethod("temps", &Velquette::temps),
        scriptMethod("fans", &Velquette::fans),
        scriptMethod("battery", &Velquette::battery),
        scriptMethod("isLaptop", &Velquette::isLaptop),
        scriptMethod("isIntel", &Velquette::isIntel),
        scriptMethod("needsIntelBundle", &Velquette::needsIntelBundle),
        scriptMethod("copyTextToClipboard", &Velquette::copyTextToClipboard),
        scriptMethod("uptime", &Velquette::uptime),
        scriptMethod("load", &Velquette::load),
        scriptMethod("processinfo", &Velquette::processinfo),
        scriptMethod("setNeedsSMARTUpdate", &Velquette::setNeedsSMARTUpdate),
        scriptMethod("setShouldMonitorSMARTTemps", &Velquette::setShouldMonitorSMARTTemps),

        scriptMethod("hasDiskSetupChanged", &Velquette::hasDiskSetupChanged),
        scriptMethod("hasNetworkSetupChanged", &Velquette::hasNetworkSetupChanged),
        scriptMethod("installIntelModule", &Velquette::installIntelModule),
        scriptMethod("wasIntelModuleInstalled", &Velquette::wasIntelModuleInstalled),
        // Our own addition, for the page's Processes section.
        scriptMethod("topProcesses", &Velquette::topProcesses),
        scriptMethod("getPsUnit", &Velquette::getPsUnit),
        // And for the limits of a container or a limited slice.
        scriptMethod("limits", &Velquette::limits),
        // And for the GPU section.
        scriptMethod("gpus", &Velquette::gpus),
        // And for the page's settings.
        scriptMethod("isAutostartEnabled", &Velquette::isAutostartEnabled),
        scriptMethod("setAutostart", &Velquette::setAutostart),
        // And for the module notice.
        scriptMethod("hasSMC", &Velquette::hasSMC),
        // And for the Machines section and its setting.
        scriptMethod("fleet", &Velquette::fleet),
        scriptMethod("prometheusUrl", &Velquette::prometheusUrl),
        scriptMethod("setPrometheusUrl", &Velquette::setPrometheusUrl),
        // And for the alerts.
        scriptMethod("alerts", &Velquette::firingAlerts),
        scriptMethod("alertRule", &Velquette::alertRule),
        scriptMethod("setAlertRule", &Velquette::setAlertRule),
    };
    return rows;
}

const ScriptMethod* find(std::string_view name) {
    const auto& rows = table();
    auto it = std::find_if(rows.begin(), rows.end(), [&](const ScriptMethod& row) { return row.name == name; });
    return it == rows.end() ? nullptr : &*it;
}

}  // namespace

const std::vector<std::string>& reachableScriptNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> out;
        for (const auto& row : table()) out.emplace_back(row.name);
        return out;
    }();
    return names;
}

std::optional<std::string> checkScriptCall(std::string_view name, const Value& args) {
    const ScriptMethod* row = find(name);
    if (!row) return "no such method: " + std::string(name);
    return row->check(args);
}

Value invokeScriptCall(Velquette& object, std::string_view name, const Value& args) {
    const ScriptMethod* row = find(name);
    if (!row) return nullptr;
    return row->call(object, args);
}

}  // namespace vq
