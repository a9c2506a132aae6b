// GPUs on fixture trees shaped like real machines: which DRM entries are cards, the figures of amdgpu, i915 and
// xe cards, a card in runtime suspend, two GPUs; amdgpu's smoothing and Intel's load from the DRM clients'
// counters.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "platform/linux/gpu/drm_fdinfo.h"
#include "platform/linux/gpu/linux_gpus.h"

namespace vq::linux_platform {
namespace {

namespace fs = std::filesystem;
const std::string kLinux = VELQUETTE_FIXTURES "/linux/";

Roots rootsOf(const std::string& tree) { return Roots{tree + "/proc", tree + "/sys", tree + "/udev", "/nonexistent"}; }

// The readings as one line per GPU; unknown figures read "-".
std::string describe(const std::vector<GpuReading>& gpus) {
    std::string text;
    for (const auto& g : gpus) {
        text += g.pciAddress + " " + g.name + (g.asleep ? " asleep" : "");
        const auto add = [&](const auto& v) { text += " " + (v ? nlohmann::json(*v).dump() : std::string("-")); };
        add(g.busyPercent), add(g.vramUsedBytes), add(g.vramTotalBytes), add(g.celsius), add(g.watts), add(g.megahertz);
        text += "\n";
    }
    return text;
}

// A copy of a fixture tree that a test may change; symbolic links stay links.
struct TreeCopy {
    explicit TreeCopy(const std::string& tree) : path(fs::temp_directory_path() / ("vq-gpu-" + std::to_string(::getpid()))) {
        fs::remove_all(path);
        fs::copy(kLinux + tree, path, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    }
    ~TreeCopy() { fs::remove_all(path); }
    void write(const std::string& file, const std::string& text) const { std::ofstream(path + "/" + file) << text; }
    std::string path;
};

LinuxGpus withoutNvml(const std::string& tree) {
    return LinuxGpus(rootsOf(tree), [] { return static_cast<NvmlLibrary*>(nullptr); });
}

TEST(Gpu, WhatCountsAsACard) {
    for (const auto& [name, card] : std::initializer_list<std::pair<const char*, bool>>{
             {"card0", true}, {"card12", true}, {"card0-DP-1", false}, {"card1-eDP-1", false},
             {"renderD128", false}, {"card", false}, {"version", false}})
        EXPECT_EQ(isDrmCardName(name), card) << name;
    for (const auto& [text, vendor] : std::initializer_list<std::pair<const char*, GpuVendor>>{
             {"0x1002\n", GpuVendor::Amd}, {"0x8086\n", GpuVendor::Intel}, {"0x10DE\n", GpuVendor::Nvidia},
             {"0x1af4\n", GpuVendor::Other}, {"", GpuVendor::Other}})
        EXPECT_EQ(parseGpuVendor(text), vendor) << text;
    for (const auto& [text, asleep] : std::initializer_list<std::pair<const char*, bool>>{
             {"suspended\n", true}, {"suspending\n", true}, {"active\n", false}, {"resuming\n", false},
             {"unsupported\n", false}})
        EXPECT_EQ(isRuntimeSuspended(text), asleep) << text;
}

// The first sample of each machine. Intel's load needs a second one; NVIDIA's figures come from NVML, absent here.
TEST(Gpu, ReadingsOfEachMachine) {
    const std::pair<const char*, const char*> cases[] = {
        {"gpu-amd-discrete",
         "0000:03:00.0 Navi 23 [Radeon RX 6600/6600 XT/6600M] 37.0 1288490188 8573157376 52.0 48.0 2450.0\n"},
        // No working busy file: the rest still shows. power1_input where there is no average.
        {"gpu-amd-apu", "0000:05:00.0 AMD GPU - 301989888 536870912 45.0 9.123 400.0\n"},
        {"gpu-i915-laptop", "0000:00:02.0 Alder Lake-P GT2 [Iris Xe Graphics] - - - - - 350.0\n"},
        // The package temperature (temp2); no power input.
        {"gpu-xe-card", "0000:03:00.0 Battlemage G21 [Arc B580] - - - 48.0 - 2050.0\n"},
        // Every file holds a figure, and none is read.
        {"gpu-suspended", "0000:03:00.0 Navi 33 [Radeon RX 7600M XT] asleep - - - - - -\n"},
        // By PCI address whatever the card numbers; the firmware frame buffer is no GPU.
        {"gpu-two", "0000:00:02.0 Intel GPU - - - - - 1100.0\n"
                    "0000:01:00.0 GA107M [GeForce RTX 3050 Mobile] - - - - - -\n"},
        {"no-such-tree", ""},
    };
    for (const auto& [tree, expected] : cases) EXPECT_EQ(describe(withoutNvml(kLinux + tree).sample()), expected) << tree;
}

TEST(Gpu, AmdBusyIsTheMeanOfTheLastThreeReadings) {
    TreeCopy tree("gpu-amd-discrete");
    LinuxGpus gpus = withoutNvml(tree.path);
    const std::string busy = "sys/devices/pci0000:00/0000:00:01.1/0000:03:00.0/gpu_busy_percent";
    // A failed read (EOPNOTSUPP on APUs, here an unreadable value) is unknown and leaves the mean alone.
    const std::pair<const char*, std::optional<double>> steps[] = {
        {"90\n", 90}, {"0\n", 45}, {"30\n", 40}, {"60\n", 30}, {"busy\n", std::nullopt}, {"0\n", 30}};
    for (const auto& [text, expected] : steps) {
        tree.write(busy, text);
        EXPECT_EQ(gpus.sample().at(0).busyPercent, expected) << text;
    }
}

TEST(Gpu, FdinfoOfEachDriver) {
    const std::pair<const char*, const char*> cases[] = {
        {"drm-driver:\ti915\ndrm-client-id:\t12\ndrm-pdev:\t0000:00:02.0\ndrm-engine-render:\t9288 ns\n"
         "drm-engine-capacity-video:\t2\ndrm-engine-video:\t17 ns\n",
         "0000:00:02.0#12 render 9288/1 video 17/2"},
        {"drm-driver:\txe\ndrm-client-id:\t5\ndrm-pdev:\t0000:03:00.0\ndrm-cycles-rcs:\t100\ndrm-total-cycles-rcs:\t900\n",
         "0000:03:00.0#5 rcs 100/1 of 900"},
        // Memory lines and counters in other units are not engine time.
        {"drm-driver:\tamdgpu\ndrm-client-id:\t7\ndrm-pdev:\t0000:03:00.0\ndrm-memory-vram:\t12 KiB\n"
         "drm-engine-gfx:\t55 ns\ndrm-engine-odd:\t9 us\n",
         "0000:03:00.0#7 gfx 55/1"},
        {"pos:\t0\nflags:\t02\n", "none"},
        {"drm-driver:\ti915\ndrm-pdev:\t0000:00:02.0\ndrm-engine-render:\t9288 ns\n", "none"},
    };
    for (const auto& [text, expected] : cases) {
        const auto client = parseDrmFdinfo(text);
        std::string shown = client ? client->pdev + "#" + std::to_string(client->id) : "none";
        for (const auto& e : client ? client->engines : std::vector<DrmEngineCounter>{})
            shown += " " + e.engine + " " + std::to_string(e.busy) + "/" + std::to_string(e.capacity) +
                     (e.total ? " of " + std::to_string(*e.total) : "");
        EXPECT_EQ(shown, expected) << text;
    }
}

DrmEngineCounter engine(const char* name, std::uint64_t busy, std::optional<std::uint64_t> total = {},
                        std::uint64_t capacity = 1) {
    return {name, busy, total, capacity};
}

TEST(Gpu, BusyShareFromTwoCollections) {
    const auto clients = [](std::initializer_list<DrmClient> list) {
        DrmClients map;
        for (const auto& c : list) map[{c.pdev, c.id}] = c;
        return map;
    };
    const std::string igpu = "0000:00:02.0", xe = "0000:03:00.0";
    const DrmClients before = clients({{igpu, 1, {engine("render", 1'000'000'000), engine("video", 0, std::nullopt, 2)}},
                                       {igpu, 2, {engine("render", 0)}},
                                       {xe, 5, {engine("rcs", 100, 1000)}}});
    const std::pair<DrmClients, const char*> cases[] = {
        // Render: 0.3 s + 0.2 s of 1 s; video 1 s of two engines' 2 s. The busiest engine counts.
        {clients({{igpu, 1, {engine("render", 1'300'000'000), engine("video", 1'000'000'000, std::nullopt, 2)}},
                  {igpu, 2, {engine("render", 200'000'000)}}}),
         R"({"0000:00:02.0":50.0})"},
        // xe counts in GPU cycles against the GPU's clock.
        {clients({{xe, 5, {engine("rcs", 400, 1600)}}}), R"({"0000:03:00.0":50.0})"},
        // Clients of one card add up, to at most 100.
        {clients({{igpu, 1, {engine("render", 2'000'000'000)}}, {igpu, 2, {engine("render", 900'000'000)}}}),
         R"({"0000:00:02.0":100.0})"},
        // A client seen once tells nothing yet; a counter that went back (the id reused) adds nothing.
        {clients({{igpu, 9, {engine("render", 5'000'000'000)}}}), "{}"},
        {clients({{igpu, 1, {engine("render", 10)}}}), R"({"0000:00:02.0":0.0})"},
    };
    for (const auto& [after, expected] : cases)
        EXPECT_EQ(nlohmann::json(drmBusyPercent(before, after, 1.0)).dump(), expected) << expected;
}

// The walk finds each client once, through the /dev/dri descriptors, and the load covers the time between samples.
TEST(Gpu, IntelBusyFromTheProcessesClients) {
    TreeCopy tree("gpu-i915-laptop");
    double now = 50;
    LinuxGpus gpus(rootsOf(tree.path), [] { return static_cast<NvmlLibrary*>(nullptr); }, [&] { return now; });
    EXPECT_EQ(gpus.sample().at(0).busyPercent, std::nullopt) << "one sample tells no load";
    const auto fdinfo = [](int client, long long render, long long video) {
        return "drm-client-id:\t" + std::to_string(client) + "\ndrm-pdev:\t0000:00:02.0\ndrm-engine-render:\t" +
               std::to_string(render) + " ns\ndrm-engine-capacity-video:\t2\ndrm-engine-video:\t" +
               std::to_string(video) + " ns\n";
    };
    // Render: 0.8 s of the shell's client (open twice, counted once) and 0.1 s of the other's in 2 s, 45 %;
    // video: 2 s of two engines' 4 s, 50 %. The busiest engine counts.
    tree.write("proc/2211/fdinfo/7", fdinfo(12, 9288864723 + 800'000'000, 0));
    tree.write("proc/2211/fdinfo/9", fdinfo(12, 9288864723 + 800'000'000, 0));
    tree.write("proc/2300/fdinfo/4", fdinfo(3, 100'000'000 + 100'000'000, 4'000'000'000LL));
    now += 2;
    EXPECT_EQ(gpus.sample().at(0).busyPercent, 50.0);
}

}  // namespace
}  // namespace vq::linux_platform
