// GPUs on fixture trees shaped like real machines (amdgpu discrete and APU, i915, xe, a card in runtime suspend,
// two GPUs), amdgpu's smoothing, and Intel's load from the DRM clients' fdinfo counters.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "platform/linux/gpu/linux_gpus.h"

namespace vq::linux_platform {
namespace {

namespace fs = std::filesystem;

// A copy of a fixture tree that a test may change, read without NVML on a clock the test moves.
struct Machine {
    explicit Machine(const std::string& tree)
        : path(fs::temp_directory_path() / ("vq-gpu-" + std::to_string(::getpid()))),
          gpus({path + "/proc", path + "/sys", path + "/udev", "/nonexistent"}, [] { return (NvmlLibrary*)nullptr; },
               [this] { return now; }) {
        fs::remove_all(path);
        if (const std::string from = VELQUETTE_FIXTURES "/linux/" + tree; fs::exists(from))
            fs::copy(from, path, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    }
    ~Machine() { fs::remove_all(path); }
    void write(const std::string& file, const std::string& text) const { std::ofstream(path + "/" + file) << text; }
    std::string path;
    double now = 100;
    LinuxGpus gpus;
};

// One line per GPU; unknown figures read "-".
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

// The first sample of each machine. Intel's load needs a second; NVIDIA's figures come from NVML, absent here.
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
        // By PCI address whatever the card numbers; connectors and the firmware frame buffer are no GPUs.
        {"gpu-two", "0000:00:02.0 Intel GPU - - - - - 1100.0\n"
                    "0000:01:00.0 GA107M [GeForce RTX 3050 Mobile] - - - - - -\n"},
        {"no-such-tree", ""},
    };
    for (const auto& [tree, expected] : cases) EXPECT_EQ(describe(Machine(tree).gpus.sample()), expected) << tree;
}

TEST(Gpu, AmdBusyIsTheMeanOfTheLastThreeReadings) {
    Machine machine("gpu-amd-discrete");
    // A failed read (EOPNOTSUPP on APUs, here an unreadable value) is unknown and leaves the mean alone.
    const std::pair<const char*, std::optional<double>> steps[] = {
        {"90\n", 90}, {"0\n", 45}, {"30\n", 40}, {"60\n", 30}, {"busy\n", std::nullopt}, {"0\n", 30}};
    for (const auto& [text, expected] : steps) {
        machine.write("sys/devices/pci0000:00/0000:00:01.1/0000:03:00.0/gpu_busy_percent", text);
        EXPECT_EQ(machine.gpus.sample().at(0).busyPercent, expected) << text;
    }
}

std::string client(const std::string& pdev, int id, const std::string& counters) {
    return "pos:\t0\ndrm-driver:\tdrv\ndrm-client-id:\t" + std::to_string(id) + "\ndrm-pdev:\t" + pdev + "\n" + counters;
}

// Two fdinfo collections one second apart: the busiest engine's share, summed over clients seen in both.
TEST(Gpu, BusyShareFromClientCounters) {
    const std::string i915 = "0000:00:02.0", xe = "0000:03:00.0";
    const std::vector<std::string> before = {
        client(i915, 1, "drm-engine-render:\t1000000000 ns\ndrm-engine-capacity-video:\t2\ndrm-engine-video:\t0 ns\n"),
        client(i915, 2, "drm-engine-render:\t0 ns\n"),
        client(xe, 5, "drm-cycles-rcs:\t100\ndrm-total-cycles-rcs:\t1000\n"),
        client(xe, 6, "drm-memory-vram:\t12 KiB\ndrm-engine-gfx:\t0 ns\ndrm-engine-odd:\t0 us\n"),
        "pos:\t0\nflags:\t02\n"};
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        // Render 0.3 s + 0.2 s; video 1 s of two engines' 2 s: 50 % either way.
        {{client(i915, 1, "drm-engine-render:\t1300000000 ns\ndrm-engine-capacity-video:\t2\ndrm-engine-video:\t1000000000 ns\n"),
          client(i915, 2, "drm-engine-render:\t200000000 ns\n")},
         R"({"0000:00:02.0":50.0})"},
        // xe counts GPU cycles against the GPU's clock; a counter in microseconds is no time in ns.
        {{client(xe, 5, "drm-cycles-rcs:\t400\ndrm-total-cycles-rcs:\t1600\n"),
          client(xe, 6, "drm-engine-gfx:\t250000000 ns\ndrm-engine-odd:\t2000000000 us\n")},
         R"({"0000:03:00.0":50.0})"},
        // Clients add up to at most 100; a client seen once tells nothing yet, a counter that went back nothing.
        {{client(i915, 1, "drm-engine-render:\t2000000000 ns\n"), client(i915, 2, "drm-engine-render:\t900000000 ns\n")},
         R"({"0000:00:02.0":100.0})"},
        {{client(i915, 9, "drm-engine-render:\t5000000000 ns\n")}, "{}"},
        {{client(i915, 1, "drm-engine-render:\t10 ns\n")}, R"({"0000:00:02.0":0.0})"},
    };
    const auto collect = [](const std::vector<std::string>& texts) {
        DrmClients clients;
        for (const auto& text : texts)
            if (auto c = parseDrmFdinfo(text)) clients[{c->pdev, c->id}] = *c;
        return clients;
    };
    for (const auto& [after, expected] : cases)
        EXPECT_EQ(nlohmann::json(drmBusyPercent(collect(before), collect(after), 1.0)).dump(), expected) << expected;
}

// The walk finds each client once through the /dev/dri descriptors, over the time between samples.
TEST(Gpu, IntelBusyFromTheProcessesClients) {
    Machine machine("gpu-i915-laptop");
    EXPECT_EQ(machine.gpus.sample().at(0).busyPercent, std::nullopt) << "one sample tells no load";
    const auto counters = [](int id, long long render, long long video) {
        return client("0000:00:02.0", id, "drm-engine-render:\t" + std::to_string(render) +
                                              " ns\ndrm-engine-capacity-video:\t2\ndrm-engine-video:\t" +
                                              std::to_string(video) + " ns\n");
    };
    // Render: 0.8 s of the shell's client (open twice, counted once) and 0.1 s of the other's in 2 s, 45 %;
    // video: 2 s of two engines' 4 s, 50 %.
    machine.write("proc/2211/fdinfo/7", counters(12, 9288864723 + 800'000'000, 0));
    machine.write("proc/2211/fdinfo/9", counters(12, 9288864723 + 800'000'000, 0));
    machine.write("proc/2300/fdinfo/4", counters(3, 200'000'000, 4'000'000'000LL));
    machine.now += 2;
    EXPECT_EQ(machine.gpus.sample().at(0).busyPercent, 50.0);
}

}  // namespace
}  // namespace vq::linux_platform
