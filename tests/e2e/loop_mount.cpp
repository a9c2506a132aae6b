#include "loop_mount.h"

#include <fcntl.h>
#include <linux/loop.h>
#include <sched.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

extern char** environ;

namespace vq::e2e {
namespace {

Failure failure(int error, const std::string& what) {
    return Failure{error, what + ": " + std::strerror(error)};
}

// Runs `action` in a child that first joins the mount namespace `nsFd`.
// The child reports the step that failed and its errno through a pipe.
template <typename Action>
std::optional<Failure> inNamespace(int nsFd, const std::string& what, Action action) {
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) return failure(errno, "pipe");
    const pid_t child = ::fork();
    if (child < 0) {
        const int error = errno;
        ::close(report[0]);
        ::close(report[1]);
        return failure(error, "fork");
    }
    if (child == 0) {
        int result[2] = {0, 0};  // {step, errno}: step 1 joining, 2 the action
        if (::setns(nsFd, CLONE_NEWNS) != 0)
            result[0] = 1, result[1] = errno;
        else if (int error = action(); error != 0)
            result[0] = 2, result[1] = error;
        [[maybe_unused]] auto written = ::write(report[1], result, sizeof result);
        ::_exit(0);
    }
    ::close(report[1]);
    int result[2] = {0, 0};
    ssize_t got;
    do got = ::read(report[0], result, sizeof result);
    while (got < 0 && errno == EINTR);
    ::close(report[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (got != ssize_t(sizeof result)) return Failure{EIO, what + ": the helper process reported nothing"};
    if (result[0] == 1) return failure(result[1], "joining the host's mount namespace");
    if (result[0] == 2) return failure(result[1], what);
    return std::nullopt;
}

std::optional<std::string> findProgram(const std::string& name) {
    std::string dirs = std::getenv("PATH") ? std::getenv("PATH") : "";
    dirs += ":/usr/sbin:/sbin";
    std::stringstream list(dirs);
    for (std::string dir; std::getline(list, dir, ':');)
        if (!dir.empty() && ::access((dir + "/" + name).c_str(), X_OK) == 0) return dir + "/" + name;
    return std::nullopt;
}

std::string decodeOctalEscapes(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() &&
            std::isdigit(static_cast<unsigned char>(text[i + 1]))) {
            out += char(std::stoi(text.substr(i + 1, 3), nullptr, 8));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace

bool Failure::notPermitted() const {
    return error == EPERM || error == EACCES || error == ENOSYS || error == ENODEV || error == ENXIO ||
           error == ENOENT || error == EROFS;
}

std::optional<Failure> probeMountNamespaces() {
    const pid_t child = ::fork();
    if (child < 0) return failure(errno, "fork");
    if (child == 0) {
        if (::unshare(CLONE_NEWNS) != 0) ::_exit(errno);
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) ::_exit(errno);
        ::_exit(0);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status)) return Failure{EIO, "the namespace probe did not exit"};
    if (WEXITSTATUS(status) != 0) return failure(WEXITSTATUS(status), "a private mount namespace");
    return std::nullopt;
}

std::optional<Failure> makeExt4Image(const std::string& path, const std::string& label, std::size_t bytes) {
    auto mkfs = findProgram("mkfs.ext4");
    if (!mkfs) return Failure{ENOENT, "mkfs.ext4 is not installed (e2fsprogs)"};
    {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) return failure(errno, "creating " + path);
        const int rc = ::ftruncate(fd, off_t(bytes));
        const int error = errno;
        ::close(fd);
        if (rc != 0) return failure(error, "sizing " + path);
    }
    std::vector<std::string> args{*mkfs, "-q", "-F", "-L", label, path};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return failure(rc, "starting " + *mkfs);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return Failure{EIO, "mkfs.ext4 failed on " + path};
    return std::nullopt;
}

LoopDevice::LoopDevice(int fd, int number) : fd_(fd), number_(number), path_("/dev/loop" + std::to_string(number)) {}

LoopDevice::LoopDevice(LoopDevice&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), number_(other.number_), path_(std::move(other.path_)) {}

LoopDevice::~LoopDevice() {
    if (fd_ < 0) return;
    // Fails with EBUSY while something still holds the device; autoclear
    // then detaches it as soon as the last holder lets go.
    ::ioctl(fd_, LOOP_CLR_FD, 0);
    ::close(fd_);
}

std::variant<LoopDevice, Failure> LoopDevice::attach(const std::string& imagePath) {
    const int control = ::open("/dev/loop-control", O_RDWR | O_CLOEXEC);
    if (control < 0) return failure(errno, "opening /dev/loop-control");
    const int backing = ::open(imagePath.c_str(), O_RDWR | O_CLOEXEC);
    if (backing < 0) {
        const int error = errno;
        ::close(control);
        return failure(error, "opening " + imagePath);
    }
    Failure problem{EBUSY, "every free loop device was taken by someone else"};
    int attachedFd = -1;
    int attachedNumber = -1;
    // Another process may take the free device between asking and
    // configuring; ask again then.
    for (int attempt = 0; attempt < 20; ++attempt) {
        const int number = ::ioctl(control, LOOP_CTL_GET_FREE);
        if (number < 0) {
            problem = failure(errno, "finding a free loop device");
            break;
        }
        const std::string path = "/dev/loop" + std::to_string(number);
        const int device = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (device < 0) {
            problem = failure(errno, "opening " + path);
            break;
        }
        loop_config config{};
        config.fd = std::uint32_t(backing);
        config.info.lo_flags = LO_FLAGS_AUTOCLEAR;
        std::strncpy(reinterpret_cast<char*>(config.info.lo_file_name), imagePath.c_str(), LO_NAME_SIZE - 1);
        int rc = ::ioctl(device, LOOP_CONFIGURE, &config);
        if (rc != 0 && (errno == EINVAL || errno == ENOTTY)) {
            // Kernels before 5.8 have no LOOP_CONFIGURE.
            rc = ::ioctl(device, LOOP_SET_FD, backing);
            if (rc == 0 && ::ioctl(device, LOOP_SET_STATUS64, &config.info) != 0) {
                const int error = errno;
                ::ioctl(device, LOOP_CLR_FD, 0);
                errno = error;
                rc = -1;
            }
        }
        if (rc == 0) {
            attachedFd = device;
            attachedNumber = number;
            break;
        }
        const int error = errno;
        ::close(device);
        if (error != EBUSY) {
            problem = failure(error, "attaching " + imagePath + " to " + path);
            break;
        }
    }
    ::close(backing);
    ::close(control);
    if (attachedFd < 0) return problem;
    return LoopDevice(attachedFd, attachedNumber);
}

std::variant<MountNamespace, Failure> MountNamespace::of(pid_t pid) {
    const std::string path = "/proc/" + std::to_string(pid) + "/ns/mnt";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return failure(errno, "opening " + path);
    return MountNamespace(fd);
}

MountNamespace::MountNamespace(MountNamespace&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

MountNamespace::~MountNamespace() {
    if (fd_ >= 0) ::close(fd_);
}

std::optional<Failure> MountNamespace::mount(const std::string& device, const std::string& target,
                                             const std::string& type) const {
    return inNamespace(fd_, "mounting " + device + " on " + target, [&] {
        return ::mount(device.c_str(), target.c_str(), type.c_str(), MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) == 0
                   ? 0
                   : errno;
    });
}

std::optional<Failure> MountNamespace::unmount(const std::string& target) const {
    return inNamespace(fd_, "unmounting " + target, [&] {
        if (::umount2(target.c_str(), 0) == 0) return 0;
        // Something still uses it: take it out of the tree now, and let the
        // kernel finish when the last user is done.
        return ::umount2(target.c_str(), MNT_DETACH) == 0 ? 0 : errno;
    });
}

std::vector<std::string> mountPointsOf(const std::string& pid) {
    std::ifstream in("/proc/" + pid + "/mountinfo");
    std::vector<std::string> points;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string id, parent, device, root, mountPoint;
        if (fields >> id >> parent >> device >> root >> mountPoint) points.push_back(decodeOctalEscapes(mountPoint));
    }
    return points;
}

}  // namespace vq::e2e
