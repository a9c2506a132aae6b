#include "host/fleet_rows.h"

#include <simdjson.h>
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
        if (std::none_of(queries.begin(), queries.end(), [&, &record = record](const FleetQuery& q) { return q.record == record; }))
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

void keepLabel(Series& series, std::string_view name, std::string_view text) {
    if (name == "instance") series.instance = text;
    else if (name == "nodename") series.nodename = text;
    else if (name == "label") series.label = text;
    else if (name == "chip") series.chip = text;
    else if (name == "sensor") series.sensor = text;
    else if (name == "mountpoint") series.mountpoint = text;
}

// {"metric": {LABEL: TEXT, ...}, "value": [TIME, "VALUE"]}
Series readSeries(simdjson::ondemand::object object) {
    Series series;
    for (auto field : object) {
        const std::string_view name = field.unescaped_key();
        if (name == "metric") {
            for (auto label : field.value().get_object()) keepLabel(series, label.unescaped_key(), label.value().get_string());
        } else if (name == "value") {
            int index = 0;
            for (auto item : field.value().get_array())
                if (index++ == 1) series.value = sampleValue(item.get_string());
        }
    }
    return series;
}

// What an /api/v1/query answer says besides its series.
struct Verdict {
    std::string status, error, resultType;
};

// Reads {"status", "error", "data": {"resultType", "result": [series...]}}
// as it is parsed, handing each series to `onSeries`. simdjson, because with
// 1,000 machines the answers come to about a megabyte a second, which a
// general JSON library parses in most of the 20 ms the host may spend on them.
// Throws simdjson::simdjson_error on what is not JSON of that shape.
Verdict readAnswer(simdjson::ondemand::parser& parser, std::string_view body,
                   const std::function<void(const Series&)>& onSeries) {
    Verdict verdict;
    const simdjson::padded_string padded(body);
    auto document = parser.iterate(padded);
    for (auto field : document.get_object()) {
        const std::string_view name = field.unescaped_key();
        if (name == "status") verdict.status = std::string_view(field.value().get_string());
        if (name == "error") verdict.error = std::string_view(field.value().get_string());
        if (name != "data") continue;
        for (auto part : field.value().get_object()) {
            const std::string_view partName = part.unescaped_key();
            if (partName == "resultType") verdict.resultType = std::string_view(part.value().get_string());
            if (partName == "result")
                for (auto item : part.value().get_array()) onSeries(readSeries(item.get_object()));
        }
    }
    return verdict;
}

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
    simdjson::ondemand::parser parser;
    for (std::size_t q = 0; q < queries.size(); ++q) {
        const auto known = std::find_if(std::begin(kFigures), std::end(kFigures),
                                        [&](const auto& entry) { return entry.first == queries[q].record; });
        if (known == std::end(kFigures)) continue;
        Verdict verdict;
        try {
            verdict = readAnswer(parser, bodies[q], [&](const Series& series) {
                if (!series.instance) return;
                auto [it, added] = byInstance.try_emplace(*series.instance, rows.size());
                if (added) rows.emplace_back().instance = *series.instance;
                apply(known->second, rows[it->second], series);
            });
        } catch (const simdjson::simdjson_error&) {
            return "Prometheus answered no JSON to " + queries[q].record;
        }
        if (verdict.status != "success")
            return oneLine("Prometheus refused " + queries[q].record + ": " +
                           (verdict.error.empty() ? "no reason given" : verdict.error));
        if (verdict.resultType != "vector") return "Prometheus answered no vector to " + queries[q].record;
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
