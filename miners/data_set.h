#pragma once
#include <nlohmann/json.hpp>

namespace vq {

// A data set as the page receives it: display-ready strings, numbers, truth
// values and nested arrays (and, for a few miners, dictionaries). A miner
// without data answers a null value. Single-precision shares are stored as the
// double of that float, which is what the page's script engine gets.
using Value = nlohmann::json;

}  // namespace vq
