// The real velquette binary over HTTP on a simulated desk machine with
// memory figures, four volumes (one of them a disk image) and network
// interfaces: the answers of memoryUsage, diskUsage and network, the icon
// URLs that stand in for icon files, and what the icon route refuses.

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "host_process.h"
#include "http_client.h"
#include "scratch_machine.h"

namespace vq::e2e {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const std::string kDeskMachine = VQ_E2E_FIXTURES_DIR "/desk-with-volumes-and-network.json";
const std::string kPngSignature("\x89PNG\r\n\x1a\n", 8);

// A share the memory miner's way: single precision, sent as a double.
double share(unsigned part, unsigned total) { return double(100.0f * (float(part) / float(total))); }

class HostOnDeskMachineTest : public ::testing::Test {
protected:
    void SetUp() override { host_.emplace(HostLaunch{machine_.machineFile(), {}}); }
    void TearDown() override {
        if (!host_) return;
        auto status = host_->stop(SIGTERM);
        EXPECT_TRUE(status.exitedWith(0)) << describe(status) << "\n" << host_->stderrText();
    }

    json call(const std::string& name) { return callHost(host_->port(), name); }
    HttpResponse get(const std::string& target, Headers headers = {}) {
        return exchange(host_->port(), HttpRequest{"GET", target, std::move(headers)});
    }

    ScratchMachine machine_{kDeskMachine};
    std::optional<HostProcess> host_;
};

TEST_F(HostOnDeskMachineTest, MemoryUsageHasTheTwelveFigures) {
    // Pages / 256 = megabytes: free 512, active 2048, inactive 1024, wired
    // 1290; used = active + wired = 3338 of 4874.
    auto usage = call("memoryUsage");
    ASSERT_TRUE(usage.is_array() && usage.size() == 12u) << usage;
    EXPECT_EQ(usage[0], "512mb");
    EXPECT_EQ(usage[1], "3.26gb");
    EXPECT_EQ(usage[2], "2.00gb");
    EXPECT_EQ(usage[3], "1.00gb");
    EXPECT_EQ(usage[4], "1.26gb");
    EXPECT_EQ(usage[6], "606,682");
    EXPECT_EQ(usage[7], "1.7mil");
    EXPECT_EQ(usage[8], "1.50gb");
    EXPECT_EQ(usage[9], "2.0gb");
    for (std::size_t i : {5u, 10u, 11u}) ASSERT_TRUE(usage[i].is_number_float()) << usage;
    EXPECT_DOUBLE_EQ(usage[5].get<double>(), share(3338, 4874));
    EXPECT_DOUBLE_EQ(usage[10].get<double>(), share(1290, 4874));
    EXPECT_DOUBLE_EQ(usage[11].get<double>(), share(2048, 4874));
}

TEST_F(HostOnDeskMachineTest, DiskUsageListsTheVolumesWithIconUrls) {
    auto volumes = call("diskUsage");
    // The disk image (disk2, a "Virtual Interface" in the registry) is left out.
    EXPECT_EQ(volumes, json::parse(R"([
        ["Main Disk", 75, "192.00GB", "64.00GB", "/", "/icons/volumes/Main%20Disk.png"],
        ["Backup Disk", 62, "640.00GB", "384.00GB", "/Volumes/Backup Disk", "/icons/volumes/Backup%20Disk.png"],
        ["Données", 25, "4.00GB", "12.00GB", "/Volumes/Données", "/icons/volumes/Donn%C3%A9es.png"]
    ])"));
    EXPECT_EQ(call("hasDiskSetupChanged"), false);

    // Each URL serves the file the plug-in wrote into its volume icon cache.
    for (const auto& [url, file] : {std::pair{"/icons/volumes/Main%20Disk.png", "Main Disk.png"},
                                    std::pair{"/icons/volumes/Backup%20Disk.png", "Backup Disk.png"},
                                    std::pair{"/icons/volumes/Donn%C3%A9es.png", "Données.png"}}) {
        const std::string onDisk = readWholeFile(machine_.volumeIconCache() + "/" + file);
        ASSERT_TRUE(onDisk.starts_with(kPngSignature)) << file;
        auto response = get(url);
        EXPECT_EQ(response.status, 200) << url;
        EXPECT_EQ(response.header("Content-Type"), "image/png") << url;
        EXPECT_EQ(response.header("X-Content-Type-Options"), "nosniff") << url;
        EXPECT_EQ(response.body, onDisk) << url;
        // The page's own origin may load it.
        auto fromPage = get(url, {{"Origin", "http://127.0.0.1:" + std::to_string(host_->port())}});
        EXPECT_EQ(fromPage.status, 200) << url;
    }
    auto head = exchange(host_->port(), HttpRequest{"HEAD", "/icons/volumes/Backup%20Disk.png"});
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(head.header("Content-Type"), "image/png");
}

TEST_F(HostOnDeskMachineTest, TheIconRouteServesNothingElse) {
    ASSERT_EQ(call("diskUsage").size(), 3u);  // the icons are written
    // Bait beside and above the caches, and links out of the volume cache.
    const fs::path brackwell = fs::path(machine_.supportFolder()) / "Brackwell";
    const std::string picture = readWholeFile(machine_.volumeIconCache() + "/Backup Disk.png");
    std::ofstream(brackwell / "secret.png", std::ios::binary) << picture;
    std::ofstream(fs::path(machine_.home()) / "secret.png", std::ios::binary) << picture;
    fs::create_symlink(brackwell / "secret.png", fs::path(machine_.volumeIconCache()) / "link.png");
    fs::create_symlink("/etc/passwd", fs::path(machine_.volumeIconCache()) / "passwd.png");
    std::ofstream(fs::path(machine_.volumeIconCache()) / "text.png") << "plain text, not a picture";

    for (const char* target :
         {"/icons/volumes/secret.png", "/icons/volumes/..%2Fsecret.png", "/icons/volumes/%2E%2E%2Fsecret.png",
          "/icons/volumes/../secret.png", "/icons/volumes/..%2F..%2F..%2F..%2Fsecret.png",
          "/icons/volumes/..%2F..%2F..%2Fmachine.json", "/icons/volumes/link.png", "/icons/volumes/passwd.png",
          "/icons/volumes/text.png", "/icons/volumes/.velquette-written-icons", "/icons/volumes//Backup%20Disk.png",
          "/icons/volumes/Backup%2520Disk.png", "/icons/volumes/Backup%20Disk.png%00", "/icons/volumes/Backup%2",
          "/icons/processes/Backup%20Disk.png", "/icons/Backup%20Disk.png", "/icons/volumes/", "/icons/",
          "/icons/volumes/Backup Disk.tiff", "/icons/volumes/%2Fetc%2Fpasswd", "/icons/volumes/Missing.png",
          "/icons/other/Backup%20Disk.png"}) {
        auto response = get(target);
        // 404 from the icon route, or 400 where libsoup already refuses the
        // request line.
        EXPECT_GE(response.status, 400) << target;
        EXPECT_LT(response.status, 500) << target;
        EXPECT_NE(response.header("Content-Type"), "image/png") << target;
        EXPECT_EQ(response.body.find("PNG"), std::string::npos) << target;
        EXPECT_EQ(response.body.find("root:"), std::string::npos) << target;
    }

    // The same screening as every other request.
    const std::string port = std::to_string(host_->port());
    const std::string url = "/icons/volumes/Backup%20Disk.png";
    EXPECT_EQ(get(url, {{"Host", "attacker.example:" + port}}).status, 421);
    EXPECT_EQ(get(url, {{"Origin", "http://attacker.example"}}).status, 403);
    auto post = exchange(host_->port(), HttpRequest{"POST", url, {{"Content-Type", "application/json"}}, "{}"});
    EXPECT_EQ(post.status, 405);
    EXPECT_EQ(post.header("Allow"), "GET, HEAD");
    EXPECT_EQ(get(url).status, 200);
}

TEST_F(HostOnDeskMachineTest, NetworkRowsAppearAfterTheSetupFlag) {
    // No rebuild has run yet, so no interface is known.
    EXPECT_EQ(call("network"), json::array());
    EXPECT_EQ(call("hasNetworkSetupChanged"), true);
    EXPECT_EQ(call("hasNetworkSetupChanged"), false);

    // The rebuild: en0 and en1 in the kernel's order; en2's link is down,
    // en3 is down and lo0 is the loopback. The first rates are 0.
    EXPECT_EQ(call("network"), json::parse(R"([
        ["en0", "Ethernet", "192.0.2.20", "0kb/s", "0kb/s", "154mb", "20mb"],
        ["en1", "Wi-Fi", "198.51.100.7", "0kb/s", "0kb/s", "5.00gb", "300mb"]
    ])"));
    // Every sample adds 100 KiB in and 10 KiB out on en0 and 1 MiB in on
    // en1; the simulated clock stands still, so samples count as 0.5 s apart.
    const auto rates = json::parse(R"([
        ["en0", "Ethernet", "192.0.2.20", "200kb/s", "20kb/s", "154mb", "20mb"],
        ["en1", "Wi-Fi", "198.51.100.7", "2mb/s", "0kb/s", "5.00gb", "300mb"]
    ])");
    EXPECT_EQ(call("network"), rates);
    EXPECT_EQ(call("network"), rates);
}

}  // namespace
}  // namespace vq::e2e
