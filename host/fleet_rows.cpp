#include "host/fleet_rows.h"

#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <charconv>
#include <functional>
#include <cmath>
#include <optional>
#include <stdexcept>
#include <unordered_map>

namespace vq::host {

// fleet_queries.yml, built into the host by CMake.
extern const char kFleetQueriesYaml[];

namespace {

// The figures each query gives, by its record name.
enum class Figure { up, name, cpu, memory, hottest, fullest, receive, transmit, loadPerCore };
constexpr std::pair<std::string_view, Figure> kFigures[] = {
    {"fleet:up", Figure::up}, {"fleet:name", Figure::name}, {"fleet:cpu_percent", Figure::cpu},
    {"fleet:memory_percent", Figure::memory}, {"fleet:hottest_celsius", Figure::hottest},
    {"fleet:fullest_percent", Figure::fullest}, {"fleet:receive_bytes_per_second", Figure::receive},
    {"fleet:transmit_bytes_per_second", Figure::transmit}, {"fleet:load_per_core", Figure::loadPerCore}};

std::vector<FleetQuery> loadQueries() {
    std::vector<FleetQuery> queries;
    for (const auto& group : YAML::Load(kFleetQueriesYaml)["groups"])
        for (const auto& rule : group["rules"])
            queries.push_back({rule["record"].as<std::string>(), rule["expr"].as<std::string>()});
    for (const auto& [record, figure] : kFigures)
        if (std::none_of(queries.begin(), queries.end(), [&](const FleetQuery& q) { return q.record == record; }))
            throw std::runtime_error("fleet_queries.yml lacks " + std::string(record));
    return queries;
}

struct Row {
    std::string instance;
    std::optional<std::string> name, hottestLabel, fullestMount;
    std::optional<bool> up;
    std::optional<double> cpu, memory, hottest, fullest, receive, transmit, loadPerCore;
};

// Prometheus sends sample values as strings: "12.5", "NaN", "+Inf".
std::optional<double> sampleValue(std::string_view text) {
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

// To 1/parts: dividing the rounded whole number gives the double nearest the
// decimal, so the page gets "12.3", not "12.300000000000001".
std::optional<double> rounded(std::optional<double> value, double parts) {
    if (value) return std::round(*value * parts) / parts;
    return value;
}

// The labels of one series that the rows use; absent ones are nullopt.
struct Series {
    std::optional<std::string> instance, nodename, label, chip, sensor, mountpoint;
    std::optional<double> value;
};

// A sensor without a label of its own is named by its chip and sensor.
std::optional<std::string> sensorName(const Series& series) {
    if (series.label && !series.label->empty()) return series.label;
    if (!series.chip && !series.sensor) return std::nullopt;
    return series.chip.value_or("") + (series.chip && series.sensor ? " " : "") + series.sensor.value_or("");
}

void apply(Figure figure, Row& row, const Series& series) {
    const auto& value = series.value;
    switch (figure) {
        case Figure::up: row.up = value ? std::optional<bool>(*value == 1) : std::nullopt; break;
        case Figure::name:
            // Two names for one instance (renamed, then down): the same one every time.
            if (series.nodename && (!row.name || *series.nodename < *row.name)) row.name = series.nodename;
            break;
        case Figure::cpu: row.cpu = rounded(value, 10); break;
        case Figure::memory: row.memory = rounded(value, 10); break;
        case Figure::hottest:
            row.hottest = rounded(value, 10);
            row.hottestLabel = sensorName(series);
            break;
        case Figure::fullest:
            row.fullest = rounded(value, 10);
            row.fullestMount = series.mountpoint;
            break;
        case Figure::receive: row.receive = rounded(value, 1); break;
        case Figure::transmit: row.transmit = rounded(value, 1); break;
        case Figure::loadPerCore: row.loadPerCore = rounded(value, 100); break;
    }
}

// Reads an /api/v1/query answer as it is parsed, keeping only what the rows
// use: with 1,000 machines, a whole document of JSON values would cost the
// host more than building the rows does.
//   {"status": ..., "error": ..., "data": {"resultType": ..., "result": [
//     {"metric": {LABEL: TEXT, ...}, "value": [TIME, "VALUE"]}, ...]}}
class AnswerReader : public nlohmann::json_sax<Value> {
public:
    explicit AnswerReader(std::function<void(const Series&)> onSeries) : onSeries_(std::move(onSeries)) {}

    std::string status, error, resultType;

    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t&) override { return true; }
    bool binary(binary_t&) override { return true; }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

    bool string(string_t& text) override {
        if (depth_ == 1 && key_ == "status") status = text;
        else if (depth_ == 1 && key_ == "error") error = text;
        else if (depth_ == 2 && in_[2] == Part::data && key_ == "resultType") resultType = text;
        else if (depth_ == 5 && in_[5] == Part::metric) keepLabel(text);
        else if (depth_ == 5 && in_[5] == Part::value) series_.value = sampleValue(text);
        return true;
    }
    bool key(string_t& name) override {
        key_ = name;
        return true;
    }
    bool start_object(std::size_t) override { return enter(); }
    bool start_array(std::size_t) override { return enter(); }
    bool end_object() override { return leave(); }
    bool end_array() override { return leave(); }

private:
    enum class Part { other, data, result, series, metric, value };

    // What the container just opened holds, from where it sits.
    bool enter() {
        if (++depth_ >= int(std::size(in_))) return true;
        const Part outer = in_[depth_ - 1];
        Part part = Part::other;
        if (depth_ == 2 && key_ == "data") part = Part::data;
        else if (depth_ == 3 && outer == Part::data && key_ == "result") part = Part::result;
        else if (depth_ == 4 && outer == Part::result) part = Part::series;
        else if (depth_ == 5 && outer == Part::series && key_ == "metric") part = Part::metric;
        else if (depth_ == 5 && outer == Part::series && key_ == "value") part = Part::value;
        in_[depth_] = part;
        if (part == Part::series) series_ = {};
        return true;
    }
    bool leave() {
        if (depth_ < int(std::size(in_)) && in_[depth_] == Part::series) onSeries_(series_);
        --depth_;
        return true;
    }
    void keepLabel(const std::string& text) {
        if (key_ == "instance") series_.instance = text;
        else if (key_ == "nodename") series_.nodename = text;
        else if (key_ == "label") series_.label = text;
        else if (key_ == "chip") series_.chip = text;
        else if (key_ == "sensor") series_.sensor = text;
        else if (key_ == "mountpoint") series_.mountpoint = text;
    }

    std::function<void(const Series&)> onSeries_;
    int depth_ = 0;
    Part in_[6] = {};
    std::string key_;
    Series series_;
};

template <typename T>
Value orNull(const std::optional<T>& value) {
    return value ? Value(*value) : Value();
}

// Down first, then the busiest; a machine without a CPU figure after those with one.
bool comesFirst(const Row& a, const Row& b) {
    const bool aDown = a.up == false, bDown = b.up == false;
    if (aDown != bDown) return aDown;
    if (a.cpu.has_value() != b.cpu.has_value()) return a.cpu.has_value();
    if (a.cpu && *a.cpu != *b.cpu) return *a.cpu > *b.cpu;
    if (a.name != b.name) return a.name.value_or("") < b.name.value_or("");
    return a.instance < b.instance;
}

std::string oneLine(std::string text) {
    std::replace_if(text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    if (text.size() > 200) text = text.substr(0, 200) + "…";
    return text;
}

}  // namespace

const std::vector<FleetQuery>& fleetQueries() {
    static const std::vector<FleetQuery> queries = loadQueries();
    return queries;
}

std::variant<Value, std::string> buildFleetRows(std::span<const std::string_view> bodies) {
    const auto& queries = fleetQueries();
    if (bodies.size() != queries.size()) return std::string("one answer per fleet query is needed");
    std::vector<Row> rows;
    std::unordered_map<std::string, std::size_t> byInstance;
    for (std::size_t q = 0; q < queries.size(); ++q) {
        const auto known = std::find_if(std::begin(kFigures), std::end(kFigures),
                                        [&](const auto& entry) { return entry.first == queries[q].record; });
        if (known == std::end(kFigures)) continue;
        AnswerReader reader([&](const Series& series) {
            if (!series.instance) return;
            auto [it, added] = byInstance.try_emplace(*series.instance, rows.size());
            if (added) rows.emplace_back().instance = *series.instance;
            apply(known->second, rows[it->second], series);
        });
        if (!Value::sax_parse(bodies[q], &reader)) return "Prometheus answered no JSON to " + queries[q].record;
        if (reader.status != "success")
            return oneLine("Prometheus refused " + queries[q].record + ": " +
                           (reader.error.empty() ? "no reason given" : reader.error));
        if (reader.resultType != "vector") return "Prometheus answered no vector to " + queries[q].record;
    }
    std::sort(rows.begin(), rows.end(), comesFirst);
    Value out = Value::array();
    for (const auto& row : rows)
        out.push_back(Value::array({row.instance, orNull(row.name), orNull(row.up), orNull(row.cpu),
                                    orNull(row.memory), orNull(row.hottestLabel), orNull(row.hottest),
                                    orNull(row.fullestMount), orNull(row.fullest), orNull(row.receive),
                                    orNull(row.transmit), orNull(row.loadPerCore)}));
    return out;
}

}  // namespace vq::host
