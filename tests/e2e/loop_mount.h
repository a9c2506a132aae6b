#pragma once
// Real mounts for end-to-end tests, kept away from the machine's own mount
// table: a small file system image on a loop device, mounted inside the
// private mount namespace of the host under test. Each piece undoes itself
// when it goes out of scope, whatever happened in between.

#include <sys/types.h>

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace vq::e2e {

// Why something could not be done: an errno value and a description.
struct Failure {
    int error = 0;
    std::string what;
    // The machine does not allow it (no privilege, no loop driver, no
    // namespaces): the test is skipped rather than failed.
    bool notPermitted() const;
};

// Whether this process may create a private mount namespace at all.
std::optional<Failure> probeMountNamespaces();

// Makes a file of `bytes` bytes holding an empty ext4 file system with that
// label, with mkfs.ext4.
std::optional<Failure> makeExt4Image(const std::string& path, const std::string& label, std::size_t bytes);

// A loop device backed by an image file. It is set to clear itself once it
// is neither open nor mounted, and is also cleared explicitly on destruction.
class LoopDevice {
public:
    static std::variant<LoopDevice, Failure> attach(const std::string& imagePath);
    LoopDevice(LoopDevice&& other) noexcept;
    LoopDevice& operator=(LoopDevice&&) = delete;
    ~LoopDevice();

    const std::string& path() const { return path_; }  // /dev/loopN
    int number() const { return number_; }             // the N, also its minor number

private:
    LoopDevice(int fd, int number);
    int fd_ = -1;
    int number_ = -1;
    std::string path_;
};

// A handle on another process's mount namespace that keeps the namespace
// alive after that process ends, so mounts can still be undone.
class MountNamespace {
public:
    static std::variant<MountNamespace, Failure> of(pid_t pid);
    MountNamespace(MountNamespace&& other) noexcept;
    MountNamespace& operator=(MountNamespace&&) = delete;
    ~MountNamespace();

    // Mounts or unmounts in that namespace, from a short-lived child.
    std::optional<Failure> mount(const std::string& device, const std::string& target,
                                 const std::string& type) const;
    std::optional<Failure> unmount(const std::string& target) const;

private:
    explicit MountNamespace(int fd) : fd_(fd) {}
    int fd_ = -1;
};

// A device mounted on a target in a namespace; unmounted on destruction
// unless already unmounted.
class Mounted {
public:
    Mounted(const MountNamespace& space, std::string target) : space_(&space), target_(std::move(target)) {}
    Mounted(const Mounted&) = delete;
    Mounted& operator=(const Mounted&) = delete;
    ~Mounted() {
        if (space_) space_->unmount(target_);
    }
    std::optional<Failure> unmount() {
        auto failure = space_ ? space_->unmount(target_) : std::nullopt;
        space_ = nullptr;
        return failure;
    }

private:
    const MountNamespace* space_;
    std::string target_;
};

// The mount points listed in /proc/<pid>/mountinfo (octal escapes decoded).
std::vector<std::string> mountPointsOf(const std::string& pid);

}  // namespace vq::e2e
