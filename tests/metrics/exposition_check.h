#pragma once
// A reader of the text format for the tests, strict where Prometheus'
// own check is lenient: every family must be one uninterrupted group after
// its single TYPE line, and no series may appear twice.

#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vq::metrics::check {

using LabelSet = std::map<std::string, std::string>;

struct Family {
    std::string type;
    std::string help;
    std::map<LabelSet, double> series;
};

using Exposition = std::map<std::string, Family>;

struct FormatError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The families of `text`; throws FormatError naming the first line that
// breaks a rule.
Exposition parseExposition(std::string_view text);

// The label names of each series of a family, e.g. {{"chip","sensor"}}.
std::set<std::set<std::string>> labelNameSets(const Family& family);

}  // namespace vq::metrics::check
