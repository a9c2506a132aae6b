// The Machines section's cost to the host with 1,000 machines, against a
// stand-in answer of Prometheus of that size (each query's answer as
// Prometheus 2.42 writes it, with the labels it keeps):
//   FleetRows   parsing the nine answers and building the sorted rows, once
//               per round of queries (at most once a second);
//   FleetCall   one `fleet` call: the cached rows copied out and written as
//               the JSON of the page's answer, once per page refresh;
//   FleetFloor  the same answers through simdjson's whole-document parser,
//               keeping nothing: what reading them at all costs;
//   FleetDom    the same answers as nlohmann JSON values (the project's
//               general JSON library), for comparison.
// Target: FleetRows + FleetCall at most 20 ms of CPU.
#include <benchmark/benchmark.h>
#include <simdjson.h>

#include <string>
#include <vector>

#include "host/fleet_rows.h"

namespace {

using vq::Value;

std::string instance(int i) { return "10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250) + ":9100"; }

// Prometheus' answer to one query: a sample per instance, with the labels that query keeps.
std::string answer(const std::string& record, int machines) {
    Value result = Value::array();
    for (int i = 0; i < machines; ++i) {
        Value metric = {{"instance", instance(i)}};
        std::string value = std::to_string(i % 97) + ".12345678901234";  // 16 digits, as Prometheus writes
        if (record == "fleet:up") value = i % 50 == 0 ? "0" : "1";
        if (record == "fleet:name") metric["nodename"] = "node-" + std::to_string(i) + ".rack" + std::to_string(i / 40);
        if (record == "fleet:hottest_celsius") {
            metric.update({{"job", "node"}, {"chip", "platform_coretemp_0"}, {"sensor", "temp1"}, {"label", "Package id 0"}});
            metric["__name__"] = "node_hwmon_temp_celsius";
        }
        if (record == "fleet:fullest_percent")
            metric.update({{"job", "node"}, {"device", "/dev/nvme0n1p2"}, {"fstype", "ext4"}, {"mountpoint", "/var/lib/data"}});
        result.push_back({{"metric", metric}, {"value", {1765000000.123, value}}});
    }
    return Value{{"status", "success"}, {"data", {{"resultType", "vector"}, {"result", result}}}}.dump();
}

struct StandIn {
    explicit StandIn(int machines) {
        for (const auto& query : vq::host::fleetQueries()) bodies.push_back(answer(query.record, machines));
        views.assign(bodies.begin(), bodies.end());
        for (const auto& body : bodies) bytes += body.size();
    }
    std::vector<std::string> bodies;
    std::vector<std::string_view> views;
    std::size_t bytes = 0;
};

void FleetRows(benchmark::State& state) {
    const StandIn standIn(int(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(vq::host::buildFleetRows(standIn.views));
    state.counters["answer_kB"] = double(standIn.bytes) / 1000;
}

void FleetCall(benchmark::State& state) {
    const StandIn standIn(int(state.range(0)));
    const Value rows = std::get<Value>(vq::host::buildFleetRows(standIn.views));
    for (auto _ : state) {
        Value copy = rows;
        benchmark::DoNotOptimize(Value::array({Value{{"result", std::move(copy)}}}).dump());
    }
}

void FleetFloor(benchmark::State& state) {
    const StandIn standIn(int(state.range(0)));
    std::vector<simdjson::padded_string> padded(standIn.bodies.begin(), standIn.bodies.end());
    simdjson::dom::parser parser;
    for (auto _ : state)
        for (const auto& body : padded) benchmark::DoNotOptimize(parser.parse(body).error());
}

void FleetDom(benchmark::State& state) {
    const StandIn standIn(int(state.range(0)));
    for (auto _ : state)
        for (auto body : standIn.views) benchmark::DoNotOptimize(Value::parse(body));
}

BENCHMARK(FleetRows)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(FleetCall)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(FleetFloor)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(FleetDom)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
