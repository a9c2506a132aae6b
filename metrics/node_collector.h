#pragma once
// One scrape: every reading of the /metrics page made afresh from the
// machine's roots and written in the text format. It keeps no state between
// scrapes and shares none with the plug-in object, so a scrape changes
// nothing the page sees.

#include <string>
#include <vector>

#include "metrics/exposition.h"

#include "platform/linux/common/roots.h"

namespace vq::metrics {

constexpr const char* kExpositionContentType = "text/plain; version=0.0.4; charset=utf-8";

// `extra`: families the host adds from its own state (the alerts).
std::string scrapeNodeMetrics(const linux_platform::Roots& roots, std::vector<MetricFamily> extra = {});

}  // namespace vq::metrics
