// libFuzzer targets, one per parser of input from outside the process. The program runs the target it is
// named after (tests/fuzz/run links build-fuzz/fuzz/<target> to it). Sanitizer reports, uncaught exceptions
// and leaks are the faults.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "bridge/Velquette.h"
#include "host/call_protocol.h"
#include "installer/linux/archive_unpacker.h"
#include "platform/linux/common/text_fields.h"
#include "platform/linux/drives/ata_commands.h"
#include "platform/linux/drives/block_devices.h"
#include "platform/linux/drives/udev_database.h"
#include "platform/linux/memory/meminfo.h"
#include "platform/linux/memory/vmstat.h"
#include "platform/linux/netlink/rtnetlink_messages.h"
#include "platform/linux/network/net_dev.h"
#include "platform/linux/network/net_device_facts.h"
#include "platform/linux/power/power_supply.h"
#include "platform/linux/processes/proc_processes.h"
#include "platform/linux/processor/proc_stat.h"
#include "platform/linux/sensors/hwmon_names.h"
#include "platform/linux/storage/mountinfo.h"
#include "platform/sim/sim_machine.h"
#include "sensors/VQTSmartController.h"
#include "smc/smc_printer.h"

namespace {

using namespace vq::linux_platform;
namespace fs = std::filesystem;
using Bytes = std::span<const std::uint8_t>;
using Text = std::string_view;
const std::string scratch = fs::temp_directory_path() / ("velquette-fuzz-" + std::to_string(::getpid()));

// A plug-in object on the everything-machine, made once (calls may leave state behind, as a page's calls do).
vq::Velquette& bridgeObject() {
    static vq::Velquette object = [] {
        auto machine = vq::loadSimMachine(nlohmann::json::parse(std::ifstream(VQ_MACHINE_FILE)));
        machine->home = scratch + "-home";
        fs::create_directories(*machine->home + "/Library/Application Support");
        std::atexit([] { fs::remove_all(scratch + "-home"); });
        return vq::Velquette(vq::makeSimPlatform(machine));
    }();
    return object;
}

// Supplies as "file:value" lines (grep -H . * in a supply folder), a blank line between supplies.
void powerSupplies(Text text) {
    std::vector<SupplyAttributes> supplies(1);
    for (Text line : splitLines(text)) {
        const auto colon = line.find(':');
        if (line.empty()) supplies.emplace_back();
        else if (colon != line.npos) supplies.back()[std::string(line.substr(0, colon))] = line.substr(colon + 1);
    }
    combinedBattery(supplies);
}

void archive(Bytes bytes) {
    std::ofstream(scratch, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::ssize(bytes));
    vq::installer::unpackArchive(scratch, scratch + "-unpacked", {1 << 20, 64});
    std::error_code ignored;  // a member whose mode keeps it from removal is no fault of the unpacker
    fs::remove_all(scratch + "-unpacked", ignored), fs::remove(scratch, ignored);
}

void netlink(Bytes bytes) {
    std::uint32_t sequence = 0;  // the first message's, so that a recorded dump parses whole
    if (bytes.size() >= 12) std::memcpy(&sequence, &bytes[8], sizeof sequence);
    parseLinkDump(std::as_bytes(bytes), sequence), parseAddressDump(std::as_bytes(bytes), sequence);
    if (auto routes = parseRouteDump(std::as_bytes(bytes), sequence)) defaultRouteInterface(*routes);
}

// Identify data, SMART data (512 bytes each, zero-padded), then sense data.
void smart(Bytes bytes) {
    vq::AtaBlock identify{}, data{};
    std::memcpy(identify.data(), bytes.data(), std::min<std::size_t>(512, bytes.size()));
    if (bytes.size() > 512) std::memcpy(data.data(), &bytes[512], std::min<std::size_t>(512, bytes.size() - 512));
    vq::VQTSmartController::VerifyIdentifyData(identify), smartEnabled(identify), vq::smartTemperature(data);
    const auto sense = bytes.size() > 1024 ? bytes.subspan(1024) : Bytes{};
    ataRegistersFromSense(sense), returnStatusOutcome({true, std::uint8_t(sense.empty() ? 2 : sense[0]), sense});
}

// A file name, a value or a label of hwmon.
void hwmonValue(Text text) {
    hwmon::parseInputAttribute(text), hwmon::parseCelsius(text), hwmon::parseRpm(text);
    for (const char* chip : {"applesmc", "coretemp", "nvme", "amdgpu"})
        hwmon::temperatureName({chip, "", 1}, 2, hwmon::trimmed(text)), hwmon::fanName({chip, "", 0}, 1, text);
}

using Target = std::function<void(Bytes)>;
Target text(std::function<void(Text)> parse) {
    return [parse](Bytes b) { parse({reinterpret_cast<const char*>(b.data()), b.size()}); };
}

const std::map<std::string, Target, std::less<>> kTargets = {
    {"bridge", text([](Text t) { vq::host::answerBatch(bridgeObject(), t), vq::host::answerCall(bridgeObject(), t); })},
    {"machine", text([](Text t) {
         try {
             if (auto json = nlohmann::json::parse(t, nullptr, false); !json.is_discarded()) vq::loadSimMachine(json);
         } catch (const std::runtime_error&) {  // the loader's refusal, naming the key
         }
     })},
    {"stat", text([](Text t) { parseProcStat(t), parseProcessStat(t); })},
    {"meminfo", text([](Text t) { parseMeminfo(t); })},
    {"vmstat", text([](Text t) { parseVmstat(t); })},
    {"mountinfo", text([](Text t) { parseMountinfo(t), decodeMountinfoEscapes(t); })},
    {"net_dev", text([](Text t) {
         parseProcNetDev(t), parsePppoeSessions(t), parseSysfsHex(t), parseSysfsDecimal(t); })},
    {"udev", text([](Text t) { parseUdevDatabase(t), decodeUdevHexEscapes(t), parseDeviceNumber(t); })},
    {"hwmon", text(hwmonValue)},
    {"power_supply", text(powerSupplies)},
    {"netlink", netlink},
    {"smart", smart},
    {"smc_value", text([](Text t) { vq::parseWriteValue(t); })},
    {"archive", archive},
};

const Target* chosen = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char*** argv) {
    const auto it = kTargets.find(fs::path((*argv)[0]).filename().string());
    if (it == kTargets.end()) {
        std::fprintf(stderr, "run this program under the name of a target, such as \"mountinfo\"\n");
        std::exit(2);
    }
    chosen = &it->second;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    (*chosen)(Bytes(data, size));
    return 0;
}
