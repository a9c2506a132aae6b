#pragma once
// Prometheus' text exposition format (version 0.0.4): families of samples
// written as "# HELP", "# TYPE" and one line per series.
//
// The writer keeps the format's rules that a scraper does not forgive:
// each family is one uninterrupted group under one TYPE line, a series (name
// and label set) appears once, label values and HELP text are escaped, and
// values use Go's spellings for the special floats.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vq::metrics {

enum class MetricType { Counter, Gauge, Untyped };

using Labels = std::vector<std::pair<std::string, std::string>>;

struct Sample {
    Labels labels;
    double value = 0;
};

struct MetricFamily {
    std::string name;
    std::string help;
    MetricType type = MetricType::Gauge;
    std::vector<Sample> samples;
};

// The text with every run of bytes that is not UTF-8 replaced by U+FFFD:
// Prometheus refuses a whole scrape for one such label value.
std::string validUtf8(std::string_view text);
// Made valid UTF-8, then backslash, double quote and line feed escaped, as a
// label value must be.
std::string escapeLabelValue(std::string_view value);
// Made valid UTF-8, then backslash and line feed escaped, as HELP text must be.
std::string escapeHelp(std::string_view help);
// Shortest text that reads back as the same double; "+Inf", "-Inf", "NaN".
std::string formatValue(double value);

// Whether a name may be a metric name ([a-zA-Z_:][a-zA-Z0-9_:]*) or a label
// name ([a-zA-Z_][a-zA-Z0-9_]*, not starting with "__").
bool isValidMetricName(std::string_view name);
bool isValidLabelName(std::string_view name);

// Adds families one at a time and merges those of the same name, so that
// collectors may add to a family in any order and it still comes out as one
// group. A sample whose label set is already in its family is dropped (the
// first one stays), as is a family or label with an invalid name; their
// count is kept so that a caller can see that data was refused.
class ExpositionBuilder {
public:
    void add(MetricFamily family);
    // The text of every family in the order each was first added; families
    // without samples are left out.
    std::string text() const;
    std::size_t rejectedSamples() const { return rejected_; }

private:
    std::vector<MetricFamily> families_;
    std::size_t rejected_ = 0;
};

}  // namespace vq::metrics
