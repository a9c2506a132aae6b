// Mounting and unmounting while the host runs on this machine. The host is
// started in a private mount namespace of its own, and every mount is made
// inside that namespace, so the machine's mount table is never touched: a
// small ext4 image on a loop device stays out of the volume list (a loop
// device is a disk image), and the same kind of image shows up as a volume
// once a udev record gives its device a USB bus and a label. Skipped where
// the machine allows no namespaces, loop devices or mounts.

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

#include "host_process.h"
#include "http_client.h"
#include "loop_mount.h"
#include "scratch_machine.h"

namespace vq::e2e {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using namespace std::chrono_literals;

constexpr const char* kUnshare = "/usr/bin/unshare";
constexpr std::size_t kImageBytes = 4 << 20;

// A failure that the machine's rules explain skips the test; any other fails it.
#define SKIP_OR_FAIL_ON(expression)                                     \
    if (auto failure_ = (expression)) {                                 \
        if (failure_->notPermitted()) GTEST_SKIP() << failure_->what;   \
        FAIL() << failure_->what;                                       \
    }

// An empty folder under /mnt, a volume root, removed afterwards.
class MountPoint {
public:
    MountPoint() {
        std::string pattern = "/mnt/velquette-test-XXXXXX";
        if (::mkdtemp(pattern.data())) path_ = pattern;
    }
    ~MountPoint() {
        if (!path_.empty()) ::rmdir(path_.c_str());
    }
    MountPoint(const MountPoint&) = delete;
    MountPoint& operator=(const MountPoint&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

std::optional<ino_t> namespaceInode(const std::string& pid) {
    struct stat info {};
    if (::stat(("/proc/" + pid + "/ns/mnt").c_str(), &info) != 0) return std::nullopt;
    return info.st_ino;
}

// The "major:minor" of a block device, from sysfs.
std::string deviceNumber(const std::string& name) {
    std::string text = readWholeFile("/sys/class/block/" + name + "/dev");
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

std::vector<std::string> mountPaths(const json& volumes) {
    std::vector<std::string> paths;
    for (const auto& volume : volumes) paths.push_back(volume.at(4).get<std::string>());
    return paths;
}

class HostMountTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "mounting needs root";
        if (::access(kUnshare, X_OK) != 0) GTEST_SKIP() << "no " << kUnshare << " (util-linux)";
        if (auto failure = probeMountNamespaces()) GTEST_SKIP() << "no private mount namespace: " << failure->what;
        if (::access("/dev/loop-control", R_OK | W_OK) != 0) GTEST_SKIP() << "no loop devices here";
        if (mountPoint_.path().empty()) GTEST_SKIP() << "cannot make a folder under /mnt";
        fs::create_directories(udevRoot() + "/data");

        host_.emplace(HostLaunch{std::nullopt,
                                 {},
                                 {"VELQUETTE_UDEV_ROOT=" + udevRoot(), "XDG_DATA_HOME=" + scratch_.path() + "/data"},
                                 {kUnshare, "--mount", "--propagation", "private"}});
        // Never mount anything into the namespace this test runs in.
        const auto ours = namespaceInode("self");
        const auto hosts = namespaceInode(std::to_string(host_->pid()));
        ASSERT_TRUE(ours && hosts);
        ASSERT_NE(*ours, *hosts) << "the host did not get a mount namespace of its own";
        auto space = MountNamespace::of(host_->pid());
        if (auto* failure = std::get_if<Failure>(&space)) FAIL() << failure->what;
        space_.emplace(std::move(std::get<MountNamespace>(space)));

        EXPECT_EQ(call("hasDiskSetupChanged"), false);
        baseline_ = call("diskUsage");
    }
    void TearDown() override {
        if (!host_) return;
        auto status = host_->stop(SIGTERM);
        EXPECT_TRUE(status.exitedWith(0)) << describe(status) << "\n" << host_->stderrText();
    }

    std::string udevRoot() const { return scratch_.path() + "/udev"; }
    json call(const std::string& name) { return callHost(host_->port(), name); }

    // Polls the flag the page polls, until it is set or the time is up.
    bool diskFlagRises(std::chrono::milliseconds timeout = 5s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            if (call("hasDiskSetupChanged") == true) return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

    // The flag rose for this change and for nothing after it.
    void expectOneDiskChange(const char* what) {
        EXPECT_TRUE(diskFlagRises()) << what;
        EXPECT_EQ(call("hasDiskSetupChanged"), false) << what;
        std::this_thread::sleep_for(200ms);
        EXPECT_EQ(call("hasDiskSetupChanged"), false) << what;
    }

    bool hostSees(const std::string& mountPoint) const {
        const auto points = mountPointsOf(std::to_string(host_->pid()));
        return std::find(points.begin(), points.end(), mountPoint) != points.end();
    }

    // Declared so that teardown runs in reverse: the host stops and its
    // namespace is let go before the folders are removed.
    TempFolder scratch_{"velquette-mount"};
    MountPoint mountPoint_;
    std::optional<HostProcess> host_;
    std::optional<MountNamespace> space_;
    json baseline_;
};

TEST_F(HostMountTest, ALoopMountedImageRaisesTheFlagOnceAndStaysOut) {
    const std::string image = scratch_.path() + "/image.ext4";
    SKIP_OR_FAIL_ON(makeExt4Image(image, "VQIMAGE", kImageBytes));
    auto attached = LoopDevice::attach(image);
    if (auto* failure = std::get_if<Failure>(&attached)) {
        if (failure->notPermitted()) GTEST_SKIP() << failure->what;
        FAIL() << failure->what;
    }
    const LoopDevice& loop = std::get<LoopDevice>(attached);

    SKIP_OR_FAIL_ON(space_->mount(loop.path(), mountPoint_.path(), "ext4"));
    Mounted mounted(*space_, mountPoint_.path());
    ASSERT_TRUE(hostSees(mountPoint_.path()));
    const auto ours = mountPointsOf("self");
    EXPECT_EQ(std::find(ours.begin(), ours.end(), mountPoint_.path()), ours.end())
        << "the mount leaked into the test's own namespace";

    expectOneDiskChange("mount");
    // Under /mnt it would be a volume, but a loop device is a disk image.
    const auto volumes = call("diskUsage");
    EXPECT_EQ(mountPaths(volumes), mountPaths(baseline_)) << volumes;

    ASSERT_EQ(mounted.unmount(), std::nullopt);
    EXPECT_FALSE(hostSees(mountPoint_.path()));
    expectOneDiskChange("unmount");
    EXPECT_EQ(mountPaths(call("diskUsage")), mountPaths(baseline_));
}

TEST_F(HostMountTest, ALoopDeviceOnAUsbBusShowsUpAsAVolumeUntilUnmounted) {
    const std::string image = scratch_.path() + "/stick.ext4";
    SKIP_OR_FAIL_ON(makeExt4Image(image, "VQTEST", kImageBytes));
    auto attached = LoopDevice::attach(image);
    if (auto* failure = std::get_if<Failure>(&attached)) {
        if (failure->notPermitted()) GTEST_SKIP() << failure->what;
        FAIL() << failure->what;
    }
    const LoopDevice& loop = std::get<LoopDevice>(attached);
    const std::string number = deviceNumber("loop" + std::to_string(loop.number()));
    ASSERT_FALSE(number.empty()) << "no sysfs entry for " << loop.path();
    // What udev records for a USB stick: the bus before the loop rule.
    std::ofstream(udevRoot() + "/data/b" + number) << "E:ID_BUS=usb\nE:ID_FS_TYPE=ext4\nE:ID_FS_LABEL=VQTEST\n";

    SKIP_OR_FAIL_ON(space_->mount(loop.path(), mountPoint_.path(), "ext4"));
    Mounted mounted(*space_, mountPoint_.path());
    expectOneDiskChange("mount");

    const auto volumes = call("diskUsage");
    auto expectedPaths = mountPaths(baseline_);
    expectedPaths.push_back(mountPoint_.path());
    EXPECT_EQ(mountPaths(volumes), expectedPaths) << volumes;
    const auto row = std::find_if(volumes.begin(), volumes.end(),
                                  [&](const json& v) { return v.at(4) == mountPoint_.path(); });
    ASSERT_TRUE(row != volumes.end()) << volumes;
    EXPECT_EQ((*row)[0], "VQTEST");
    ASSERT_TRUE((*row)[1].is_number_integer()) << *row;
    // A fresh 4 MiB ext4 keeps a little for its own structures.
    EXPECT_GE((*row)[1].get<int>(), 0);
    EXPECT_LT((*row)[1].get<int>(), 50);
    EXPECT_EQ((*row)[5], "/icons/volumes/VQTEST.png");
    auto icon = exchange(host_->port(), HttpRequest{"GET", "/icons/volumes/VQTEST.png"});
    EXPECT_EQ(icon.status, 200);
    EXPECT_EQ(icon.header("Content-Type"), "image/png");
    EXPECT_TRUE(icon.body.starts_with("\x89PNG"));

    ASSERT_EQ(mounted.unmount(), std::nullopt);
    expectOneDiskChange("unmount");
    EXPECT_EQ(mountPaths(call("diskUsage")), mountPaths(baseline_));
}

}  // namespace
}  // namespace vq::e2e
