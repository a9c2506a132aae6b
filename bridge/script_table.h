#pragma once
// The names the page may call on the plug-in object, with their argument
// checks. A call is checked whole before it runs, so a rejected call never
// changes the object's state.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "miners/data_set.h"

namespace vq {

class Velquette;

// Every reachable name: the script-visible table, then the default names.
const std::vector<std::string>& reachableScriptNames();

// nullopt when `name` is reachable and `args` (a JSON array) fits its
// parameters; otherwise a one-line reason.
std::optional<std::string> checkScriptCall(std::string_view name, const Value& args);

// Runs a call that checkScriptCall accepted and answers its converted result
// (null for methods that answer nothing).
Value invokeScriptCall(Velquette& object, std::string_view name, const Value& args);

}  // namespace vq
