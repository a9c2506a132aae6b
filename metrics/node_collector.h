#pragma once
// The /metrics page: every reading made afresh from the machine's roots for
// each scrape and written in the text format. A scraper shares nothing with
// the plug-in object, so a scrape changes nothing the page sees; between
// scrapes it keeps only what saves work without changing an answer: the
// /proc files open (read again from their start), the mount table until the
// kernel says it changed, the disk beneath "/" for that table, and the
// buffers the page is parsed and written in.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "metrics/exposition.h"
#include "platform/linux/common/kept_file.h"
#include "platform/linux/common/roots.h"
#include "platform/linux/metrics/filesystem_metrics.h"
#include "platform/linux/storage/mountinfo.h"
#include "platform/gpus.h"

namespace vq::metrics {

constexpr const char* kExpositionContentType = "text/plain; version=0.0.4; charset=utf-8";

class NodeScraper {
public:
    explicit NodeScraper(linux_platform::Roots roots);

    // The page's text, valid until the next scrape. `hostFamilies` writes
    // the families the host adds from its own state (the alerts).
    const std::string& scrape(const std::function<void(ExpositionWriter&)>& hostFamilies = {});

private:
    // Re-reads the mount table when it changed; false when it cannot be read.
    bool refreshMounts();

    linux_platform::Roots roots_;
    linux_platform::KeptFile stat_, loadavg_, meminfo_, vmstat_, mountinfo_;
    std::string text_;  // the last file read
    std::optional<std::vector<linux_platform::MountinfoEntry>> mounts_;
    std::vector<linux_platform::metrics::FileSystemUsage> fileSystems_;  // the kept mounts, without their space
    struct Disk {
        std::string device, model;
    };
    std::optional<Disk> startupDisk_;
    std::shared_ptr<Gpus> gpus_;
    ExpositionWriter writer_;
};

// One scrape by a scraper of its own (tests, tools).
std::string scrapeNodeMetrics(const linux_platform::Roots& roots);

}  // namespace vq::metrics
