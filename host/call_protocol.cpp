#include "host/call_protocol.h"

#include <exception>
#include <optional>
#include <variant>
#include <vector>

#include "bridge/Velquette.h"
#include "bridge/script_table.h"
#include "host/icon_urls.h"

namespace vq::host {
namespace {

struct ScriptCall {
    std::string name;
    Value args;
};

// Strings from the machine (process names, volume labels) are not always
// valid UTF-8; they go out with replacement characters rather than failing
// the whole answer.
std::string oneLine(const Value& value) {
    return value.dump(-1, ' ', false, Value::error_handler_t::replace);
}

// A call object's shape, then whether the plug-in accepts it. Either the
// call, ready to run, or why it is refused.
std::variant<ScriptCall, std::string> checkedCall(const Value& request) {
    if (!request.is_object()) return std::string("a call must be a JSON object");
    for (const auto& [key, ignored] : request.items())
        if (key != "method" && key != "args") return "unexpected key \"" + key + "\" in call";

    auto method = request.find("method");
    if (method == request.end()) return std::string("missing \"method\"");
    if (!method->is_string()) return std::string("\"method\" must be a string");

    ScriptCall call{method->get<std::string>(), Value::array()};
    if (auto args = request.find("args"); args != request.end()) {
        if (!args->is_array()) return std::string("\"args\" must be an array");
        call.args = *args;
    }
    if (auto reason = checkScriptCall(call.name, call.args)) return *reason;
    return call;
}

std::optional<Value> parsed(std::string_view body) {
    auto value = Value::parse(body, nullptr, /*allow_exceptions=*/false);
    if (value.is_discarded()) return std::nullopt;
    return value;
}

// Icon files are named by path inside the plug-in; the page gets the URL
// under which the host serves them instead.
Value resultOf(Velquette& object, const ScriptCall& call) {
    Value result = invokeScriptCall(object, call.name, call.args);
    rewriteIconPaths(result, iconCachesOf(object));
    return Value{{"result", std::move(result)}};
}

}  // namespace

Reply errorReply(unsigned status, std::string_view message) {
    return Reply{status, oneLine(Value{{"error", std::string(message)}})};
}

Reply answerCall(Velquette& object, std::string_view requestBody) {
    auto request = parsed(requestBody);
    if (!request) return errorReply(400, "request body is not valid JSON");
    auto call = checkedCall(*request);
    if (auto* reason = std::get_if<std::string>(&call)) return errorReply(400, *reason);
    try {
        return Reply{200, oneLine(resultOf(object, std::get<ScriptCall>(call)))};
    } catch (const std::exception& e) {
        return errorReply(500, std::string("call failed: ") + e.what());
    }
}

Reply answerBatch(Velquette& object, std::string_view requestBody) {
    auto request = parsed(requestBody);
    if (!request) return errorReply(400, "request body is not valid JSON");
    if (!request->is_array()) return errorReply(400, "a batch must be a JSON array of calls");

    std::vector<ScriptCall> calls;
    calls.reserve(request->size());
    for (std::size_t i = 0; i < request->size(); ++i) {
        auto call = checkedCall((*request)[i]);
        if (auto* reason = std::get_if<std::string>(&call))
            return errorReply(400, "call " + std::to_string(i) + ": " + *reason);
        calls.push_back(std::move(std::get<ScriptCall>(call)));
    }

    Value results = Value::array();
    try {
        for (const auto& call : calls) results.push_back(resultOf(object, call));
    } catch (const std::exception& e) {
        // Calls before this one have already run; say so rather than
        // pretending the batch was refused whole.
        return errorReply(500, "call " + std::to_string(results.size()) + " failed after " +
                                   std::to_string(results.size()) + " ran: " + e.what());
    }
    return Reply{200, oneLine(results)};
}

}  // namespace vq::host
