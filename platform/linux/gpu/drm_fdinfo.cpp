#include "platform/linux/gpu/drm_fdinfo.h"

#include <unistd.h>

#include <algorithm>

#include "platform/linux/common/file_reading.h"
#include "platform/linux/common/text_fields.h"

namespace vq::linux_platform {
namespace {

DrmEngineCounter& engineNamed(DrmClient& client, std::string_view engine) {
    for (auto& counter : client.engines)
        if (counter.engine == engine) return counter;
    DrmEngineCounter counter;
    counter.engine = engine;
    return client.engines.emplace_back(std::move(counter));
}

bool isNumber(std::string_view name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::optional<DrmClient> parseDrmFdinfo(std::string_view text) {
    DrmClient client;
    bool hasId = false;
    while (!text.empty()) {
        const std::string_view line = takeLine(text);
        const auto colon = line.find(':');
        if (colon == std::string_view::npos || !line.starts_with("drm-")) continue;
        const std::string_view key = line.substr(0, colon);
        const auto fields = splitFields(line.substr(colon + 1));
        if (fields.empty()) continue;
        if (key == "drm-pdev") {
            client.pdev = std::string(fields[0]);
            continue;
        }
        const auto number = parseInteger<std::uint64_t>(fields[0]);
        if (!number) continue;
        if (key == "drm-client-id") {
            client.id = *number;
            hasId = true;
        } else if (key.starts_with("drm-engine-capacity-")) {
            engineNamed(client, key.substr(20)).capacity = std::max<std::uint64_t>(1, *number);
        } else if (key.starts_with("drm-engine-")) {
            // Only nanoseconds are time; a counter in another unit says nothing of it.
            if (fields.size() == 2 && fields[1] == "ns") engineNamed(client, key.substr(11)).busy = *number;
        } else if (key.starts_with("drm-total-cycles-")) {
            engineNamed(client, key.substr(17)).total = *number;
        } else if (key.starts_with("drm-cycles-")) {
            engineNamed(client, key.substr(11)).busy = *number;
        }
    }
    if (!hasId || client.pdev.empty()) return std::nullopt;
    return client;
}

std::map<std::string, double> drmBusyPercent(const DrmClients& before, const DrmClients& after, double elapsedSeconds) {
    // card → engine → summed share of that engine's time
    std::map<std::string, std::map<std::string, double>> shares;
    for (const auto& [key, client] : after) {
        const auto earlier = before.find(key);
        if (earlier == before.end()) continue;
        auto& engines = shares[client.pdev];
        for (const auto& counter : client.engines) {
            auto& share = engines[counter.engine];
            const auto old = std::find_if(earlier->second.engines.begin(), earlier->second.engines.end(),
                                          [&](const DrmEngineCounter& c) { return c.engine == counter.engine; });
            if (old == earlier->second.engines.end() || counter.busy < old->busy) continue;
            const double worked = double(counter.busy - old->busy);
            if (counter.total && old->total) {
                if (*counter.total > *old->total) share += worked / double(*counter.total - *old->total);
            } else if (elapsedSeconds > 0) {
                share += worked / (elapsedSeconds * 1e9 * double(counter.capacity));
            }
        }
    }
    std::map<std::string, double> busy;
    for (const auto& [card, engines] : shares) {
        double busiest = 0;
        for (const auto& [engine, share] : engines) busiest = std::max(busiest, share);
        busy[card] = std::min(100.0, busiest * 100.0);
    }
    return busy;
}

DrmClients readDrmClients(const std::string& procRoot) {
    DrmClients clients;
    const auto entries = listDirectory(procRoot);
    if (!entries) return clients;
    std::string content;
    char target[64];
    for (const std::string& pid : *entries) {
        if (!isNumber(pid)) continue;
        const std::string processFolder = procRoot + "/" + pid;
        // Other users' descriptors cannot be listed: those processes do not count.
        const auto descriptors = listDirectory(processFolder + "/fd");
        if (!descriptors) continue;
        for (const std::string& fd : *descriptors) {
            const ssize_t n = ::readlink((processFolder + "/fd/" + fd).c_str(), target, sizeof target);
            if (n <= 0 || !std::string_view(target, std::size_t(n)).starts_with("/dev/dri/")) continue;
            if (!readWholeFileInto(processFolder + "/fdinfo/" + fd, content)) continue;
            if (auto client = parseDrmFdinfo(content)) {
                auto key = std::make_pair(client->pdev, client->id);
                clients.try_emplace(std::move(key), std::move(*client));
            }
        }
    }
    return clients;
}

}  // namespace vq::linux_platform
