#pragma once
// Prometheus' text exposition format (version 0.0.4): families of samples
// written as "# HELP", "# TYPE" and one line per series.
//
// The writer keeps the format's rules that a scraper does not forgive:
// label values and HELP text are escaped, names are checked, and values use
// Go's spellings for the special floats.

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vq::metrics {

enum class MetricType { Counter, Gauge, Untyped };

using Label = std::pair<std::string_view, std::string_view>;

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

// Writes families straight into one buffer that is kept from one page to
// the next, so that a page costs no allocation once the buffer has grown.
//
// A family's header is written with its first sample: a family without
// samples leaves nothing. A family whose name is not a valid metric name
// takes no samples; nor does a sample with an invalid or repeated label
// name. Each family must be begun once and its samples given together, and
// each series once: the callers' sources (kernel tables keyed by name or
// number, one folder per device) guarantee that, and the page's tests check
// it.
class ExpositionWriter {
public:
    // Empties the buffer for a new page, keeping its capacity.
    void start() { out_.clear(); }
    // The name and the HELP text are each the concatenation of their parts.
    void family(std::initializer_list<std::string_view> name, std::initializer_list<std::string_view> help,
                MetricType type);
    void family(std::string_view name, std::string_view help, MetricType type) { family({name}, {help}, type); }
    void sample(std::initializer_list<Label> labels, double value) { sample(labels.begin(), labels.size(), value); }
    void sample(const std::vector<Label>& labels, double value) { sample(labels.data(), labels.size(), value); }
    void sample(double value) { sample(nullptr, 0, value); }

    const std::string& text() const { return out_; }
    // Samples refused for an invalid name.
    std::size_t rejectedSamples() const { return rejected_; }

private:
    void sample(const Label* labels, std::size_t count, double value);

    std::string out_;
    std::string name_, help_;
    MetricType type_ = MetricType::Untyped;
    bool nameValid_ = false;
    bool headerWritten_ = false;
    std::size_t rejected_ = 0;
};

}  // namespace vq::metrics
