// The text-format writer, the parsers of the /metrics readers, and the
// families they make, on table cases. The readers meet fixture trees beside
// node_exporter in prometheus_test.cpp.

#include <gtest/gtest.h>
#include <linux/if_link.h>
#include <linux/rtnetlink.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "exposition_check.h"
#include "metrics/exposition.h"
#include "metrics/node_collector.h"
#include "metrics/node_families.h"
#include "platform/linux/common/kept_file.h"

namespace vq::metrics {
namespace {

namespace lm = linux_platform::metrics;

TEST(Exposition, EscapesLabelValuesAndHelpAndSpellsValuesAsPrometheusReadsThem) {
    const std::vector<std::pair<std::string, std::string>> labels = {
        {"plain", "plain"}, {R"(a"b)", R"(a\"b)"}, {R"(a\b)", R"(a\\b)"}, {"a\nb", R"(a\nb)"},
        {"caf\xc3\xa9", "caf\xc3\xa9"}, {"bad\xff\xfe!", "bad\xef\xbf\xbd!"}, {"\xed\xa0\x80", "\xef\xbf\xbd"}};
    for (const auto& [raw, escaped] : labels) EXPECT_EQ(escapeLabelValue(raw), escaped) << raw;
    EXPECT_EQ(escapeHelp("a \"b\" \\ c\nd"), R"(a "b" \\ c\nd)");

    const std::vector<std::pair<double, std::string>> values = {{0, "0"}, {0.5, "0.5"}, {123456789012, "123456789012"},
        {1e21, "1e+21"}, {INFINITY, "+Inf"}, {-INFINITY, "-Inf"}, {NAN, "NaN"}};
    for (const auto& [value, text] : values) EXPECT_EQ(formatValue(value), text);
}

TEST(Exposition, WritesEachFamilyWithItsFirstSampleAndRefusesInvalidNames) {
    ExpositionWriter out;
    out.start();
    out.family({"a", "_total"}, {"A", "."}, MetricType::Counter);
    out.sample({{"x", "1"}, {"y", "2"}}, 1);
    out.sample({{"x", "3"}}, 3);
    out.family("b", "B.", MetricType::Gauge);
    out.sample(2);
    out.family("empty", "", MetricType::Gauge);
    out.family("bad-name", "", MetricType::Gauge);
    out.sample(1);
    out.family("c", "", MetricType::Gauge);
    out.sample({{"__reserved", "1"}}, 1);
    out.sample({{"z", "1"}, {"z", "2"}}, 1);
    EXPECT_EQ(out.rejectedSamples(), 3u);
    const std::string page = "# HELP a_total A.\n# TYPE a_total counter\na_total{x=\"1\",y=\"2\"} 1\na_total{x=\"3\"} 3\n"
                             "# HELP b B.\n# TYPE b gauge\nb 2\n";
    EXPECT_EQ(out.text(), page);
    out.start();  // a new page starts empty
    out.family("b", "B.", MetricType::Gauge);
    out.sample(2);
    EXPECT_EQ(out.text(), page.substr(page.find("# HELP b")));
}

TEST(ProcParsers, ReadMeminfoVmstatAndLoadavgLines) {
    const auto meminfo = lm::parseMeminfoFields(
        "MemTotal:       16318480 kB\nActive(anon):     12 kB\nHugePages_Total:       2\nBroken: x kB\nOdd: 1 MB\n");
    ASSERT_EQ(meminfo.size(), 3u);
    EXPECT_EQ(meminfo[0].key, "MemTotal");
    EXPECT_TRUE(meminfo[1].inKiB);
    EXPECT_FALSE(meminfo[2].inKiB);

    const auto vmstat = lm::parseVmstatCounters("nr_free_pages 5\npgpgin 7\npswpout 8\npgmajfault 9\noom_kill 1\npgfree 3\n");
    std::vector<std::string> names;
    for (const auto& counter : vmstat) names.push_back(counter.name);
    EXPECT_EQ(names, (std::vector<std::string>{"pgpgin", "pswpout", "pgmajfault", "oom_kill"}));

    const auto load = lm::parseLoadavg("0.52 1.25 2.00 1/345 6789\n");
    ASSERT_TRUE(load);
    EXPECT_DOUBLE_EQ(load->fifteen, 2.0);
    EXPECT_FALSE(lm::parseLoadavg("0.52 x 2.00\n"));
}

TEST(NetdevParsers, ReadProcNetDevAndNetlinkStatsWithProcNetDevMeanings) {
    const auto devices = lm::parseNetDevCounters(
        "Inter-|   Receive\n face |bytes\n  eth0: 100 2 3 4 0 0 0 0 200 5 6 7 0 0 0 0\n  bad: 1 2\n");
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0], (lm::NetDevice{"eth0", {100, 2, 3, 4}, {200, 5, 6, 7}}));

    rtnl_link_stats64 stats{};
    stats.rx_bytes = 100, stats.rx_packets = 2, stats.rx_errors = 3, stats.rx_dropped = 4, stats.rx_missed_errors = 10;
    stats.tx_bytes = 200, stats.tx_packets = 5, stats.tx_errors = 6, stats.tx_dropped = 7;
    auto bytes = linux_platform::NetlinkMessageBuilder(RTM_NEWLINK, 0, 1)
                     .append(ifinfomsg{})
                     .stringAttribute(IFLA_IFNAME, "wlan0")
                     .attribute(IFLA_STATS64, stats)
                     .bytes();
    const auto link = lm::parseLinkCounters(linux_platform::NetlinkBytes(bytes).subspan(sizeof(nlmsghdr)));
    ASSERT_TRUE(link);
    EXPECT_EQ(*link, (lm::NetDevice{"wlan0", {100, 2, 3, 14}, {200, 5, 6, 7}}));
}

TEST(HwmonNaming, FormsChipLabelsAndSensorNamesAsNodeExporterDoes) {
    const std::vector<std::tuple<std::optional<std::string_view>, std::optional<std::string_view>, std::string>> chips = {
        {"/sys/devices/platform/coretemp.0", "coretemp\n", "platform_coretemp_0"},
        {"/sys/devices/pci0000:00/0000:00:18.3", "k10temp\n", "pci0000:00_0000:00:18_3"},
        {"/sys/devices/virtual/thermal/Thermal-Zone0/", std::nullopt, "thermal_thermal_zone0"},
        {"/sys/devices/platform/---", "acpitz\n", "acpitz"},
        {std::nullopt, "  My Chip!\n", "my_chip"},
        {std::nullopt, std::nullopt, ""}};
    for (const auto& [device, name, label] : chips) EXPECT_EQ(lm::hwmonChipLabel(device, name), label) << label;

    const std::vector<std::pair<std::string, std::string>> files = {{"temp1_input", "temp/1/input"},
        {"fan12_label", "fan/12/label"}, {"temp01_max", "temp/1/max"}, {"pwm1", "pwm/1/"},
        {"beep_enable", "beep_enable/0/"}, {"power1_average_interval", "power/1/average_interval"},
        {"temp1x", "-"}, {"name", "-"}, {"uevent", "-"}, {"temp_input", "-"}};
    for (const auto& [file, parts] : files) {
        const auto parsed = lm::parseSensorFileName(file);
        EXPECT_EQ(parsed ? parsed->type + "/" + parsed->number + "/" + parsed->property : "-", parts) << file;
    }
}

TEST(FileSystems, LeaveOutTheMountsAndTypesDebiansNodeExporterLeavesOut) {
    for (auto point : {"/dev", "/dev/shm", "/proc", "/run/user/1000", "/sys/fs/cgroup", "/media/usb", "/mnt",
                       "/var/lib/docker/overlay2/x"})
        EXPECT_TRUE(lm::isExcludedMountPoint(point)) << point;
    for (auto point : {"/", "/home", "/devices", "/running", "/var/lib/docker", "/boot/efi"})
        EXPECT_FALSE(lm::isExcludedMountPoint(point)) << point;
    for (auto type : {"proc", "cgroup2", "overlay", "squashfs", "tracefs"}) EXPECT_TRUE(lm::isExcludedFileSystemType(type));
    for (auto type : {"ext4", "btrfs", "vfat", "tmpfs", "nfs4"}) EXPECT_FALSE(lm::isExcludedFileSystemType(type));
}

// A kept file reads its whole text from the start each time, however it
// changed in between, and one that could not be read is opened again.
TEST(KeptFile, ReadsTheWholeTextAfreshAndReopensAFileThatCameBack) {
    const std::string path = testing::TempDir() + "/kept_file_test";
    std::filesystem::remove_all(path);
    linux_platform::KeptFile file(path);
    std::string text = "stale";
    EXPECT_FALSE(file.readInto(text));
    EXPECT_EQ(text, "");
    std::filesystem::create_directory(path);  // a path that opens but cannot be read
    EXPECT_FALSE(file.readInto(text));
    std::filesystem::remove(path);
    const std::string big(10000, 'x');
    for (const std::string& content : {std::string("first, longer\n"), std::string("second\n"), big, std::string()}) {
        std::ofstream(path, std::ios::trunc) << content;  // rewritten in place: the same open file
        EXPECT_TRUE(file.readInto(text));
        EXPECT_EQ(text, content);
    }
    std::filesystem::remove(path);
}

// The sample lines of a page, without HELP and TYPE.
std::string samples(const ExpositionWriter& out) {
    std::string lines;
    std::istringstream text(out.text());
    for (std::string line; std::getline(text, line);)
        if (!line.starts_with("#")) lines += line + "\n";
    return lines;
}

TEST(Families, NameUnitsAndLabelsAsNodeExporter) {
    ExpositionWriter out;
    writeMemory(out, {{"Active(anon)", 2, true}, {"HugePages_Total", 3, false}});
    EXPECT_EQ(samples(out), "node_memory_Active_anon_bytes 2048\nnode_memory_HugePages_Total 3\n");

    out.start();
    linux_platform::CpuLine cpu{3, {}};
    cpu.ticks[linux_platform::kSteal] = 250;
    writeCpu(out, {cpu}, 100);
    EXPECT_EQ(std::count(out.text().begin(), out.text().end(), '\n'), 10);
    EXPECT_TRUE(samples(out).ends_with("node_cpu_seconds_total{cpu=\"3\",mode=\"steal\"} 2.5\n"));

    // A second chip of the same label repeats none of the first one's series.
    out.start();
    lm::HwmonChip chip{"platform_x", std::nullopt,
                       {{"temp1", {{"input", "41500"}, {"label", "Tdie"}}}, {"temp2", {{"", "30000"}, {"input", "1"}}},
                        {"temp3", {{"input", "n/a"}}}, {"fan1", {{"input", "900"}}}, {"in0", {{"input", "1"}}}}};
    lm::HwmonChip twin{"platform_x", "x", {{"temp1", {{"input", "50000"}}}, {"temp4", {{"input", "20000"}}}}};
    writeHwmon(out, {chip, twin});
    EXPECT_EQ(samples(out), "node_hwmon_chip_names{chip=\"platform_x\",chip_name=\"x\"} 1\n"
                            "node_hwmon_sensor_label{chip=\"platform_x\",label=\"Tdie\",sensor=\"temp1\"} 1\n"
                            "node_hwmon_temp_celsius{chip=\"platform_x\",sensor=\"temp1\"} 41.5\n"
                            "node_hwmon_temp_celsius{chip=\"platform_x\",sensor=\"temp2\"} 30\n"
                            "node_hwmon_temp_celsius{chip=\"platform_x\",sensor=\"temp4\"} 20\n"
                            "node_hwmon_fan_rpm{chip=\"platform_x\",sensor=\"fan1\"} 900\n");

    out.start();
    writePowerSupplies(out, {{"BAT0", {{"energy_now", "45000000"}, {"status", "Charging"}, {"health", ""}}}});
    EXPECT_EQ(samples(out), "node_power_supply_energy_watthour{power_supply=\"BAT0\"} 45\n"
                            "node_power_supply_info{power_supply=\"BAT0\",status=\"Charging\"} 1\n");
}

// The limits that bind the host come out of a scrape of a limited tree, and a tree without limits has none.
TEST(Families, CgroupLimitsOnlyWhereTheyBind) {
    const auto scrape = [](const std::string& tree) {
        const std::string root = VELQUETTE_FIXTURES "/linux/" + tree;
        std::string lines;
        std::istringstream text(scrapeNodeMetrics({root + "/proc", root + "/sys", "/nonexistent", "/nonexistent"}));
        for (std::string line; std::getline(text, line);)
            if (line.starts_with("velquette_cgroup_") || line.starts_with("velquette_scrape_collector_success{collector=\"cgroup"))
                lines += line + "\n";
        return lines;
    };
    EXPECT_EQ(scrape("cgroup-v2"), "velquette_cgroup_memory_limit_bytes 2147483648\n"
                                   "velquette_cgroup_memory_used_bytes 805306368\n"
                                   "velquette_cgroup_cpu_quota 1.5\n"
                                   "velquette_scrape_collector_success{collector=\"cgroup\"} 1\n");
    EXPECT_EQ(scrape("cgroup-v2-unlimited"), "velquette_scrape_collector_success{collector=\"cgroup\"} 1\n");
}

// Each GPU's figures by PCI address, in the units Prometheus prefers; a GPU asleep has no series.
TEST(Families, GpuFiguresByPciAddress) {
    const auto scrape = [](const std::string& tree) {
        const std::string root = VELQUETTE_FIXTURES "/linux/" + tree;
        std::string lines;
        std::istringstream text(scrapeNodeMetrics({root + "/proc", root + "/sys", root + "/udev", "/nonexistent"}));
        for (std::string line; std::getline(text, line);)
            if (line.starts_with("velquette_gpu_")) lines += line + "\n";
        return lines;
    };
    EXPECT_EQ(scrape("gpu-amd-discrete"), "velquette_gpu_busy_ratio{gpu=\"0000:03:00.0\"} 0.37\n"
                                          "velquette_gpu_memory_used_bytes{gpu=\"0000:03:00.0\"} 1288490188\n"
                                          "velquette_gpu_memory_total_bytes{gpu=\"0000:03:00.0\"} 8573157376\n"
                                          "velquette_gpu_temperature_celsius{gpu=\"0000:03:00.0\"} 52\n"
                                          "velquette_gpu_power_watts{gpu=\"0000:03:00.0\"} 48\n"
                                          "velquette_gpu_clock_hertz{gpu=\"0000:03:00.0\"} 2.45e+09\n");
    EXPECT_EQ(scrape("gpu-suspended"), "");
}

}  // namespace
}  // namespace vq::metrics
