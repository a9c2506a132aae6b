#pragma once
// The Machines section's rows, built from Prometheus' answers to the fleet
// queries (fleet_queries.yml). Pure: no I/O, so it is tested and measured
// on made-up answers.

#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "miners/data_set.h"

namespace vq::host {

// One fixed query: the record name of fleet_queries.yml and its expression.
struct FleetQuery {
    std::string record;
    std::string expression;
};

// The queries of fleet_queries.yml, in file order. Throws std::runtime_error
// when the file built into the host lacks one the rows need.
const std::vector<FleetQuery>& fleetQueries();

// The rows from the bodies of /api/v1/query answers, one per fleetQueries()
// entry in that order: one row per instance,
//   [instance, name, up, cpuPercent, memoryPercent, hottestLabel,
//    hottestCelsius, fullestMount, fullestPercent, receiveBytesPerSecond,
//    transmitBytesPerSecond, loadPerCore]
// with null for a figure Prometheus lacks; machines that are down first,
// then the busiest first. Or a one-line reason when an answer is not a
// successful vector.
std::variant<Value, std::string> buildFleetRows(std::span<const std::string_view> bodies);

}  // namespace vq::host
