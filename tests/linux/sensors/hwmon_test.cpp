// hwmon temperatures and fans: the attribute parsers, the naming and grouping
// rules, whole fixture trees of several machines, a tree that changes between
// two calls, and the running machine.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "platform/linux/sensors/hwmon_names.h"
#include "platform/linux/sensors/hwmon_sensors.h"

namespace vq::linux_platform {
namespace {

namespace fs = std::filesystem;
using namespace hwmon;
using Lines = std::vector<std::string>;
constexpr std::nullopt_t no = std::nullopt;
const std::string kLinux = VELQUETTE_FIXTURES "/linux";

// "name|group|°C" with "|key" on readings that carry an SMC key and "|crit N" on those with a limit;
// "name|rpm" for fans, with "|failed" on those the kernel marks.
Lines lines(const std::vector<TemperatureReading>& temps) {
    Lines out;
    for (const auto& t : temps)
        out.push_back(t.name + "|" + std::to_string(t.group) + "|" + std::to_string(t.celsius) +
                      (t.smcKey ? "|" + *t.smcKey : "") + (t.critCelsius ? "|crit " + std::to_string(*t.critCelsius) : ""));
    return out;
}
Lines lines(const std::vector<FanReading>& fans) {
    Lines out;
    for (const auto& f : fans) out.push_back(f.name + "|" + std::to_string(f.rpm) + (f.failed ? "|failed" : ""));
    return out;
}

TEST(HwmonParsing, AttributeNamesAndValues) {
    const std::pair<const char*, std::optional<std::pair<SensorKind, int>>> attributes[] = {
        {"temp1_input", std::pair{SensorKind::temperature, 1}}, {"temp13_input", std::pair{SensorKind::temperature, 13}},
        {"fan7_input", std::pair{SensorKind::fan, 7}}, {"temp1_label", no}, {"temp_input", no},
        {"tempx_input", no}, {"temp-1_input", no}, {"in0_input", no}, {"fan1_input_old", no}, {"pwm1", no}};
    for (const auto& [file, expected] : attributes) {
        const auto parsed = parseInputAttribute(file);
        EXPECT_EQ(parsed ? std::optional(std::pair{parsed->kind, parsed->index}) : no, expected) << file;
    }
    // Millidegrees truncate toward zero; −40 °C and 149.999 °C are the plausible limits.
    const std::pair<const char*, std::optional<int>> celsius[] = {
        {"45000\n", 45}, {"61250", 61}, {"52999", 52}, {"-1500", -1}, {"-40000", -40}, {"-40001", no},
        {"149999", 149}, {"150000", no}, {"255000", no}, {"", no}, {"12abc", no}, {"4.5", no}};
    for (const auto& [text, expected] : celsius) EXPECT_EQ(parseCelsius(text), expected) << text;
    const std::pair<const char*, std::optional<int>> rpm[] = {
        {"2531\n", 2531}, {"0", 0}, {"20000", 20000}, {"20001", no}, {"-5", no}, {"garbage", no}};
    for (const auto& [text, expected] : rpm) EXPECT_EQ(parseRpm(text), expected) << text;
}

TEST(HwmonNames, TemperatureAndFanNamesAndGroups) {
    struct Case {
        ChipFacts chip;
        int index;
        std::optional<std::string_view> label;
        const char* name;
    };
    const Case temperatures[] = {
        {{"coretemp", "", 0}, 1, "Package id 0", "CPU Package"},
        {{"coretemp", "", 0}, 1, "Physical id 0", "CPU Package"},
        {{"coretemp", "", 0}, 5, "Core 3", "CPU Core 3"},
        {{"coretemp", "", 2}, 2, "Core 0", "CPU #2 Core 0"},
        {{"k10temp", "", 0}, 1, "Tctl", "CPU Tctl"},
        {{"k10temp", "", 0}, 2, "Tdie", "CPU Tdie"},
        {{"zenpower", "", 0}, 3, "Tccd1", "CPU CCD 1"},
        {{"k10temp", "", 0}, 1, no, "CPU"},
        {{"cpu_thermal", "", 0}, 1, no, "CPU"},
        {{"bigcore0_thermal", "", 0}, 1, no, "CPU"},
        {{"amdgpu", "", 0}, 1, "edge", "GPU Edge"},
        {{"amdgpu", "", 0}, 3, "mem", "GPU Memory"},
        {{"amdgpu", "", 2}, 2, "junction", "GPU #2 Junction"},
        {{"nouveau", "", 0}, 1, no, "GPU"},
        {{"nvme", "Samsung SSD 980 1TB", 0}, 1, "Composite", "Samsung SSD 980 1TB"},
        {{"nvme", "Samsung SSD 980 1TB", 0}, 2, "Sensor 1", "Samsung SSD 980 1TB Sensor 1"},
        {{"nvme", "Samsung SSD 980 1TB", 2}, 1, "Composite", "Samsung SSD 980 1TB #2"},
        {{"nvme", "", 0}, 1, "Composite", "NVMe"},
        {{"drivetemp", "ST4000DM004-2CV1", 0}, 1, no, "ST4000DM004-2CV1"},
        {{"drivetemp", "", 1}, 1, no, "Drive #1"},
        {{"acpitz", "", 0}, 1, no, "ACPI Zone 1"},
        {{"pch_skylake", "", 0}, 1, no, "Chipset"},
        {{"iwlwifi_1", "", 0}, 1, no, "Wi-Fi"},
        {{"BAT1", "", 0}, 1, no, "Battery"},
        {{"thinkpad", "", 0}, 1, no, "ThinkPad 1"},
        {{"nct6798", "", 0}, 1, "SYSTIN", "SYSTIN"},
        {{"nct6798", "", 2}, 1, "SYSTIN", "SYSTIN #2"},
        {{"dell_smm", "", 0}, 3, "  ", "dell_smm 3"},
        {{"it8728", "", 0}, 2, no, "it8728 2"},
        {{"applesmc", "", 0}, 7, no, "applesmc 7"}};
    for (const auto& [chip, index, label, name] : temperatures) {
        const auto named = temperatureName(chip, index, label);
        EXPECT_EQ(named.name, name) << chip.name << " " << index;
        EXPECT_EQ(named.smcKey, no) << chip.name << " " << index;
    }
    const auto smc = temperatureName({"applesmc", "", 0}, 3, "TC0P\n");
    EXPECT_EQ(std::pair(smc.name, smc.smcKey), std::pair(std::string("TC0P"), std::optional<std::string>("TC0P")));

    const Case fans[] = {
        {{"applesmc", "", 0}, 1, "Master  \n", "Master"},
        {{"dell_smm", "", 0}, 1, "Processor Fan", "Processor Fan"},
        {{"thinkpad", "", 0}, 2, no, "Fan 2"},
        {{"nct6798", "", 0}, 2, no, "System Fan 2"},
        {{"it87", "", 2}, 1, no, "System Fan 1 #2"},
        {{"amdgpu", "", 0}, 1, no, "GPU Fan"},
        {{"amdgpu", "", 1}, 2, no, "GPU #1 Fan 2"},
        {{"asus", "", 0}, 3, no, "asus Fan 3"}};
    for (const auto& [chip, index, label, name] : fans) EXPECT_EQ(fanName(chip, index, label), name) << name;

    const std::pair<const char*, int> groups[] = {
        {"coretemp", 1}, {"k10temp", 1}, {"zenpower", 1}, {"cpu_thermal", 1}, {"x86_pkg_temp", 1},
        {"amdgpu", 2},   {"radeon", 2},  {"BAT0", 2},     {"nvme", 3},        {"drivetemp", 3},
        {"acpitz", 4},   {"pch_cannonlake", 4}, {"iwlwifi_1", 4}, {"nct6798", 4}, {"applesmc", 4}, {"dell_smm", 4}};
    for (const auto& [chip, group] : groups) EXPECT_EQ(chipGroup(chip), group) << chip;

    std::string names[] = {"Other", "Other", "Other 2", "Other"};
    makeNamesUnique({&names[0], &names[1], &names[2], &names[3]});
    EXPECT_EQ(std::set<std::string>(std::begin(names), std::end(names)).size(), 4u);
    EXPECT_EQ(names[1], "Other 2");
}

// Each tree's whole answer, in the answer's order (group, then name case folded).
TEST(HwmonSensors, FixtureTrees) {
    const std::tuple<const char*, Lines, Lines> trees[] = {
        {"hwmon-intel-laptop",
         {"CPU Core 0|1|51", "CPU Core 1|1|52", "CPU Core 2|1|49", "CPU Core 3|1|50", "CPU Package|1|53|crit 100",
          "Battery|2|30", "Samsung SSD 970 EVO Plus 1TB|3|38|crit 84", "Samsung SSD 970 EVO Plus 1TB Sensor 1|3|38",
          "Samsung SSD 970 EVO Plus 1TB Sensor 2|3|43", "ACPI Zone 1|4|50", "ACPI Zone 2|4|27", "Chipset|4|48",
          "ThinkPad 1|4|52", "ThinkPad 2|4|0", "ThinkPad 3|4|45", "ThinkPad 4|4|40", "Wi-Fi|4|41"},
         {"Fan 1|2531", "Fan 2|0"}},
        // Two drives of one model: #1 is the one in the lower PCI slot, although it registered second.
        // Fan 1's alarm reads 0, fan 2's alarm and fan 7's fault 1; fan 3 stands still without a mark.
        {"hwmon-amd-desktop",
         {"CPU CCD 1|1|55", "CPU CCD 2|1|50", "CPU Tctl|1|61", "GPU Edge|2|45", "GPU Junction|2|47",
          "GPU Memory|2|62", "ST4000DM004-2CV1|3|34", "WD_BLACK SN850X 2000GB #1|3|44",
          "WD_BLACK SN850X 2000GB #1 Sensor 1|3|44", "WD_BLACK SN850X 2000GB #1 Sensor 2|3|61",
          "WD_BLACK SN850X 2000GB #2|3|41", "WD_BLACK SN850X 2000GB #2 Sensor 1|3|41",
          "WD_BLACK SN850X 2000GB #2 Sensor 2|3|52", "AUXTIN2|4|149", "CPUTIN|4|40", "PCH_CHIP_TEMP|4|0",
          "PECI Agent 0|4|61", "SYSTIN|4|32"},
         {"GPU Fan|1150", "System Fan 1|812", "System Fan 2|1045|failed", "System Fan 3|0",
          "System Fan 7|20000|failed"}},
        {"hwmon-pi", {"CPU|1|47"}, {}},
        // applesmc keeps its attributes in the device folder; its labels are SMC keys.
        {"hwmon-intel-mac",
         {"CPU Core 0|1|56", "CPU Core 1|1|57", "CPU Package|1|57", "TB0T|4|30|TB0T", "TC0D|4|55|TC0D",
          "TC0P|4|52|TC0P", "Th0H|4|45|Th0H", "Ts0P|4|31|Ts0P"},
         {"Exhaust|2000", "Master|1998"}},
        // An input that cannot be read, empty and garbled inputs, a missing label, a repeated label, a
        // chip without a name file, a class entry whose chip is gone, and a chip with nothing to read.
        {"hwmon-broken", {"CPU|4|54", "dell_smm 3|4|33", "Other|4|38", "Other 2|4|39"}, {"dell_smm Fan 2|2900"}},
        {"does-not-exist", {}, {}}};
    for (const auto& [tree, temps, fans] : trees) {
        auto sensors = makeHwmonSensors(kLinux + "/" + tree);
        EXPECT_EQ(lines(sensors->temperatures()), temps) << tree;
        EXPECT_EQ(lines(sensors->fans()), fans) << tree;
        EXPECT_EQ(lines(sensors->temperatures()), temps) << tree << ", second call";
    }
}

void writeFile(const fs::path& path, const std::string& text) { std::ofstream(path) << text; }

// Values are read afresh on every call; chips that leave or arrive between
// two calls are dropped or picked up.
TEST(HwmonSensors, TreeChangingBetweenCalls) {
    const fs::path sys = fs::temp_directory_path() / ("hwmon-test-" + std::to_string(::getpid()));
    fs::remove_all(sys);
    fs::copy(kLinux + "/hwmon-amd-desktop", sys, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    auto sensors = makeHwmonSensors(sys.string());
    const auto count = [&](const std::string& prefix) {
        int n = 0;
        for (const auto& line : lines(sensors->temperatures())) n += line.rfind(prefix, 0) == 0;
        return n;
    };
    ASSERT_EQ(count("ST4000DM004-2CV1|3|34"), 1);
    ASSERT_EQ(count("WD_BLACK SN850X 2000GB #2|"), 1);

    writeFile(sys / "class/hwmon/hwmon2/temp1_input", "70999\n");
    EXPECT_EQ(count("CPU Tctl|1|70"), 1);

    const fs::path drive = sys / "class/hwmon/hwmon5", nvme = sys / "class/hwmon/hwmon0";
    const fs::path driveTarget = fs::read_symlink(drive), nvmeTarget = fs::read_symlink(nvme);
    fs::remove(drive);
    fs::remove(nvme);
    EXPECT_EQ(count("ST4000DM004-2CV1"), 0);
    // The remaining drive of that model no longer needs a number.
    EXPECT_EQ(count("WD_BLACK SN850X 2000GB|3|44"), 1);
    EXPECT_EQ(count("WD_BLACK SN850X 2000GB #"), 0);
    EXPECT_EQ(lines(sensors->fans()).size(), 5u);

    // The returning drive registers under another number, as after a replug.
    fs::create_symlink(driveTarget, sys / "class/hwmon/hwmon9");
    fs::create_symlink(nvmeTarget, sys / "class/hwmon/hwmon0");
    EXPECT_EQ(count("ST4000DM004-2CV1|3|34"), 1);
    EXPECT_EQ(count("WD_BLACK SN850X 2000GB #"), 6);
    fs::remove_all(sys);
}

TEST(HwmonSensors, RunningMachine) {
    std::error_code error;
    if (fs::is_empty("/sys/class/hwmon", error) || error) GTEST_SKIP() << "this machine has no hwmon chips";
    auto sensors = makeHwmonSensors("/sys");
    std::set<std::string> names;
    for (const auto& t : sensors->temperatures()) {
        EXPECT_TRUE(names.insert(t.name).second) << t.name;
        EXPECT_TRUE(t.group >= 1 && t.group <= 4 && t.celsius >= -40 && t.celsius < 150) << t.name;
    }
    names.clear();
    for (const auto& f : sensors->fans()) {
        EXPECT_TRUE(names.insert(f.name).second) << f.name;
        EXPECT_TRUE(f.rpm >= 0 && f.rpm <= 20000) << f.name;
    }
}

}  // namespace
}  // namespace vq::linux_platform
