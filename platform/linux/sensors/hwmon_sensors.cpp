#include "platform/linux/sensors/hwmon_sensors.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

#include "platform/linux/common/file_reading.h"
#include "platform/linux/common/unique_fd.h"
#include "platform/linux/sensors/hwmon_names.h"

namespace vq::linux_platform {
namespace {

using hwmon::SensorKind;

// One tempN_input or fanN_input, found at the last scan and kept open: sysfs
// runs the driver's show() again on every read from offset 0, so a pread on a
// kept descriptor gives a fresh value without the open and close.
struct Channel {
    UniqueFd fd;
    std::string name;
    int group = 4;
    std::optional<std::string> smcKey;
    std::optional<int> critCelsius;  // tempN_crit, read once at the scan: a limit does not move
    // fanN_fault and fanN_alarm where the driver has them, kept open like the input.
    UniqueFd fault, alarm;
};

// A hwmon device as found under <sys>/class/hwmon.
struct Chip {
    std::string dir;  // <sys>/class/hwmon/hwmonN
    hwmon::ChipFacts facts;
    std::string deviceKey;  // the resolved device path, stable across boots, orders chips of one kind
};

std::optional<std::string> readTrimmed(const std::string& path) {
    auto text = readWholeFile(path);
    if (!text) return std::nullopt;
    return std::string(hwmon::trimmed(*text));
}

std::string resolvedPath(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    return resolved ? std::string(resolved.get()) : std::string();
}

// The chip's `name` sits in the hwmon folder, or in its device folder for
// drivers on the old registration call (applesmc); a chip without one cannot
// be told apart from any other and is skipped.
std::optional<Chip> describeChip(const std::string& dir) {
    auto name = readTrimmed(dir + "/name");
    if (!name) name = readTrimmed(dir + "/device/name");
    if (!name || name->empty()) return std::nullopt;
    Chip chip{dir, {*name, readTrimmed(dir + "/device/model").value_or(""), 0}, resolvedPath(dir + "/device")};
    if (chip.deviceKey.empty()) chip.deviceKey = resolvedPath(dir);
    return chip;
}

// Chips sharing a name and model (two drives of one model, two processor
// packages) are numbered in the order of their device paths.
void numberAlikeChips(std::vector<Chip>& chips) {
    std::sort(chips.begin(), chips.end(), [](const Chip& a, const Chip& b) { return a.deviceKey < b.deviceKey; });
    std::map<std::pair<std::string, std::string>, int> count, seen;
    for (const Chip& chip : chips) ++count[{chip.facts.name, chip.facts.model}];
    for (Chip& chip : chips) {
        const std::pair key{chip.facts.name, chip.facts.model};
        if (count[key] > 1) chip.facts.ordinal = ++seen[key];
    }
}

struct Attribute {
    std::string input;
    std::optional<std::string> labelPath;
    // tempN_crit of a temperature; fanN_fault and fanN_alarm of a fan.
    std::optional<std::string> critPath, faultPath, alarmPath;
};

// The chip's inputs by kind and index, from the hwmon folder first and then
// from its device folder, where kernels before 3.x and old drivers put them.
std::map<std::pair<SensorKind, int>, Attribute> findAttributes(const std::string& dir) {
    std::map<std::pair<SensorKind, int>, Attribute> found;
    for (const std::string& folder : {dir, dir + "/device"}) {
        const auto names = listDirectory(folder);
        if (!names) continue;
        for (const std::string& file : *names) {
            const auto input = hwmon::parseInputAttribute(file);
            if (!input || found.count({input->kind, input->index})) continue;
            const std::string stem = file.substr(0, file.size() - std::string_view("input").size());
            auto sibling = [&](const char* suffix) -> std::optional<std::string> {
                const std::string name = stem + suffix;
                if (std::find(names->begin(), names->end(), name) == names->end()) return std::nullopt;
                return folder + "/" + name;
            };
            const bool fan = input->kind == SensorKind::fan;
            found[{input->kind, input->index}] = Attribute{folder + "/" + file, sibling("label"),
                                                           fan ? std::nullopt : sibling("crit"),
                                                           fan ? sibling("fault") : std::nullopt,
                                                           fan ? sibling("alarm") : std::nullopt};
        }
    }
    return found;
}

std::string caseFolded(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// Unique names, then the answer's order: by group, then by name, case folded.
void finish(std::vector<Channel>& channels) {
    std::vector<std::string*> names;
    for (Channel& channel : channels) names.push_back(&channel.name);
    hwmon::makeNamesUnique(names);
    std::stable_sort(channels.begin(), channels.end(), [](const Channel& a, const Channel& b) {
        if (a.group != b.group) return a.group < b.group;
        return caseFolded(a.name) < caseFolded(b.name);
    });
}

enum class ReadStatus { ok, failed, gone };

// A fault or alarm mark reads "1" while set; a mark that cannot be read is not set.
bool markSet(const UniqueFd& fd) {
    char c = 0;
    return fd && ::pread(fd.get(), &c, 1, 0) == 1 && c == '1';
}

// ENODEV is what a kept descriptor answers once its device is unregistered;
// ENOENT and ESTALE cover a tree that changed under us. Other errors (EIO,
// ENODATA of a sleeping drive, EISDIR) are this reading's failure only.
ReadStatus readAttribute(int fd, std::string& text) {
    char buffer[64];
    for (;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, 0);
        if (n >= 0) {
            text.assign(buffer, static_cast<std::size_t>(n));
            return ReadStatus::ok;
        }
        if (errno == EINTR) continue;
        return errno == ENODEV || errno == ENOENT || errno == ESTALE ? ReadStatus::gone : ReadStatus::failed;
    }
}

class HwmonSensors : public HardwareSensors {
public:
    explicit HwmonSensors(std::string sysRoot) : classDir_(std::move(sysRoot) + "/class/hwmon") {}

    std::vector<TemperatureReading> temperatures() override {
        return read<TemperatureReading>(temperatures_, [](const Channel& c, const std::string& text) {
            const auto celsius = hwmon::parseCelsius(text);
            return celsius ? std::optional(TemperatureReading{c.name, c.group, *celsius, c.smcKey, c.critCelsius})
                           : std::nullopt;
        });
    }

    std::vector<FanReading> fans() override {
        return read<FanReading>(fans_, [](const Channel& c, const std::string& text) {
            const auto rpm = hwmon::parseRpm(text);
            if (!rpm) return std::optional<FanReading>();
            return std::optional(FanReading{c.name, *rpm, markSet(c.fault) || markSet(c.alarm)});
        });
    }

private:
    template <typename Reading, typename Parse>
    std::vector<Reading> read(const std::vector<Channel>& channels, Parse parse) {
        std::lock_guard lock(mutex_);
        if (entriesChanged()) rescan();
        std::vector<Reading> readings;
        std::string text;
        for (int attempt = 0; attempt < 2; ++attempt) {
            readings.clear();
            bool gone = false;
            for (const Channel& channel : channels) {
                const ReadStatus status = readAttribute(channel.fd.get(), text);
                gone |= status == ReadStatus::gone;
                if (status != ReadStatus::ok) continue;
                if (auto reading = parse(channel, text)) readings.push_back(std::move(*reading));
            }
            if (!gone) break;
            rescan();
        }
        return readings;
    }

    // The names under class/hwmon, compared with those of the last scan: a
    // chip that comes or goes adds or removes its link there. The directory's
    // mtime would be cheaper but is no signal: kernfs moves a directory's
    // timestamps only once someone has set its attributes, and the link count
    // counts subdirectories, not links. The directory stays open, so the
    // check costs an lseek and a getdents.
    bool entriesChanged() {
        if (!classDirHandle_) classDirHandle_.reset(::opendir(classDir_.c_str()));
        std::vector<std::string> entries;
        if (classDirHandle_) {
            ::rewinddir(classDirHandle_.get());
            while (const dirent* entry = ::readdir(classDirHandle_.get())) {
                const std::string_view name = entry->d_name;
                if (name != "." && name != "..") entries.emplace_back(name);
            }
            std::sort(entries.begin(), entries.end());
        }
        if (scanned_ && entries == entries_) return false;
        entries_ = std::move(entries);
        return true;
    }

    void rescan() {
        scanned_ = true;
        temperatures_.clear();
        fans_.clear();
        std::vector<Chip> chips;
        for (const std::string& entry : entries_)
            if (auto chip = describeChip(classDir_ + "/" + entry)) chips.push_back(std::move(*chip));
        numberAlikeChips(chips);
        for (const Chip& chip : chips) {
            const int group = hwmon::chipGroup(chip.facts.name);
            for (const auto& [key, attribute] : findAttributes(chip.dir)) {
                UniqueFd fd(::open(attribute.input.c_str(), O_RDONLY | O_CLOEXEC));
                if (!fd) continue;
                std::optional<std::string> label;
                if (attribute.labelPath) label = readWholeFile(*attribute.labelPath);
                if (key.first == SensorKind::temperature) {
                    auto named = hwmon::temperatureName(chip.facts, key.second, label);
                    const auto crit = attribute.critPath ? readWholeFile(*attribute.critPath) : std::nullopt;
                    temperatures_.push_back({std::move(fd), std::move(named.name), group, std::move(named.smcKey),
                                             crit ? hwmon::parseCelsius(*crit) : std::nullopt, {}, {}});
                } else {
                    auto open = [](const std::optional<std::string>& path) {
                        return UniqueFd(path ? ::open(path->c_str(), O_RDONLY | O_CLOEXEC) : -1);
                    };
                    fans_.push_back({std::move(fd), hwmon::fanName(chip.facts, key.second, label), group, {}, {},
                                     open(attribute.faultPath), open(attribute.alarmPath)});
                }
            }
        }
        finish(temperatures_);
        finish(fans_);
    }

    const std::string classDir_;
    std::mutex mutex_;
    std::unique_ptr<DIR, int (*)(DIR*)> classDirHandle_{nullptr, &::closedir};
    bool scanned_ = false;
    std::vector<std::string> entries_;
    std::vector<Channel> temperatures_, fans_;
};

}  // namespace

std::shared_ptr<HardwareSensors> makeHwmonSensors(std::string sysRoot) {
    return std::make_shared<HwmonSensors>(std::move(sysRoot));
}

}  // namespace vq::linux_platform
