// The change notifiers on the real kernel. Each case runs in a child process
// with namespaces of its own, so that it can change links and mounts without
// touching the machine; without the privilege for that it is skipped.
#include <gtest/gtest.h>
#include <glib.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "platform/linux/dbus_notification_center.h"
#include "platform/linux/mountinfo_notifier.h"
#include "platform/linux/netlink_change_notifier.h"

namespace vq::linux_platform {
namespace {

constexpr int kNoPrivilege = 77;

// Runs `body` in a forked child and answers its exit status.
int inChild(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(body());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

// Iterates the thread-default context until `done` or two seconds pass.
bool spinUntil(const bool& done) {
    const gint64 deadline = g_get_monotonic_time() + 2 * G_USEC_PER_SEC;
    while (!done && g_get_monotonic_time() < deadline) g_main_context_iteration(nullptr, FALSE), g_usleep(1000);
    return done;
}

bool setLoopbackUp(bool up) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strcpy(request.ifr_name, "lo");
    bool ok = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(up ? (request.ifr_flags | IFF_UP) : (request.ifr_flags & ~IFF_UP));
    ok = ok && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    ::close(fd);
    return ok;
}

TEST(NetlinkChangeNotifier, ReportsALinkChangeAndStopsWhenCancelled) {
    const int status = inChild([] {
        if (::unshare(CLONE_NEWNET) != 0) return kNoPrivilege;
        int changes = 0;
        bool changed = false;
        NetlinkChangeNotifier notifier;
        Subscription subscription = notifier.watchNetworkChanges([&] { ++changes, changed = true; });
        if (!setLoopbackUp(true)) return 2;
        if (!spinUntil(changed)) return 3;
        subscription.reset();
        const int before = changes;
        setLoopbackUp(false);
        bool never = false;
        spinUntil(never);  // runs the loop for the full two seconds
        return changes == before ? 0 : 4;
    });
    if (status == kNoPrivilege) GTEST_SKIP() << "no privilege for a network namespace";
    EXPECT_EQ(status, 0);
}

TEST(MountinfoNotifier, ReportsMountAndUnmount) {
    const int status = inChild([] {
        if (::unshare(CLONE_NEWNS) != 0) return kNoPrivilege;
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return kNoPrivilege;
        char dir[] = "/tmp/velquette-mount-XXXXXX";
        if (!::mkdtemp(dir)) return 2;
        int changes = 0;
        bool changed = false;
        MountinfoNotifier notifier("/proc");
        Subscription subscription = notifier.watchMounts([&] { ++changes, changed = true; });
        if (!subscription) return 3;
        if (::mount("tmpfs", dir, "tmpfs", 0, "size=1m") != 0) return kNoPrivilege;
        const bool mounted = spinUntil(changed);
        changed = false;
        ::umount(dir);
        const bool unmounted = spinUntil(changed);
        ::rmdir(dir);
        return mounted && unmounted ? 0 : 4;
    });
    if (status == kNoPrivilege) GTEST_SKIP() << "no privilege for a mount namespace";
    EXPECT_EQ(status, 0);
}

TEST(MountinfoNotifier, MissingProcGivesAnEmptySubscription) {
    MountinfoNotifier notifier("/nonexistent-proc");
    EXPECT_FALSE(notifier.watchMounts([] {}));
}

TEST(DBusNotificationCenter, DeliversANamedNotificationOverTheSessionBus) {
    DBusNotificationCenter center;
    if (!center.connected()) GTEST_SKIP() << "no D-Bus session bus";
    bool arrived = false, other = false;
    Subscription subscription = center.observe("ParquellIntelModuleAvailable", [&] { arrived = true; });
    Subscription unrelated = center.observe("SomethingElse", [&] { other = true; });
    ASSERT_TRUE(center.post("ParquellIntelModuleAvailable"));
    EXPECT_TRUE(spinUntil(arrived));
    EXPECT_FALSE(other);

    arrived = false;
    subscription.reset();
    ASSERT_TRUE(center.post("ParquellIntelModuleAvailable"));
    bool never = false;
    spinUntil(never);
    EXPECT_FALSE(arrived);
}

TEST(DBusNotificationCenter, WithoutABusNothingIsObservedOrPosted) {
    DBusNotificationCenter center(nullptr);
    EXPECT_FALSE(center.connected());
    EXPECT_FALSE(center.observe("ParquellIntelModuleAvailable", [] {}));
    EXPECT_FALSE(center.post("ParquellIntelModuleAvailable"));
}

}  // namespace
}  // namespace vq::linux_platform
