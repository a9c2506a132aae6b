#include "platform/linux/sensors/sensor_module_loader.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>

#include "platform/linux/common/unique_fd.h"
#include "platform/sensor_module_abi.h"

namespace vq::linux_platform {
namespace {

using CreateFunction = decltype(&vq_sensor_module_create);
using FanValuesFunction = decltype(&vq_sensor_module_fan_values);
using DestroyFunction = decltype(&vq_sensor_module_destroy);
using Fans = std::vector<std::pair<std::string, std::string>>;

// A dlopen handle, closed when the bundle and every instance made from it
// are gone.
//
// The file is loaded through "/proc/self/fd/N" of the descriptor whose file
// passed the checks: a second open of the path could find a file swapped in
// after the checks. The dynamic loader remembers a library under the name it
// was opened by and hands the same library back for that name later, so the
// descriptor stays open while the library is loaded: no other module can be
// opened on the same number meanwhile and be taken for this one. Without
// /proc the load fails, and says so in the log.
class Library {
public:
    Library(void* handle, UniqueFd file, std::string name)
        : handle_(handle), file_(std::move(file)), name_(std::move(name)) {}
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    ~Library() {
        ::dlclose(handle_);
        // A library that cannot be unloaded (one with unique symbols, or one
        // that another name still holds) keeps answering to this name: its
        // number must then never be reused, so the descriptor is kept open.
        if (void* still = ::dlopen(name_.c_str(), RTLD_NOW | RTLD_NOLOAD)) {
            ::dlclose(still);
            file_.release();
        }
    }

    template <typename Function>
    Function symbol(const char* name) const {
        return reinterpret_cast<Function>(::dlsym(handle_, name));
    }

private:
    void* handle_;
    UniqueFd file_;
    std::string name_;
};

// The sink handed to the module's fan call. It never throws into the
// module's frames: a fan that cannot be kept spoils the whole answer.
struct CollectedFans {
    Fans fans;
    bool failed = false;
};

void collectFan(void* context, const char* name, const char* value) noexcept {
    auto& collected = *static_cast<CollectedFans*>(context);
    if (!name || !value) {
        collected.failed = true;
        return;
    }
    try {
        collected.fans.emplace_back(name, value);
    } catch (...) {
        collected.failed = true;
    }
}

class ModuleInstance : public SensorModuleInstance {
public:
    ModuleInstance(std::shared_ptr<Library> library, void* instance, FanValuesFunction fanCall,
                   DestroyFunction destroy)
        : library_(std::move(library)), instance_(instance), fanValues_(fanCall), destroy_(destroy) {}
    ModuleInstance(const ModuleInstance&) = delete;
    ModuleInstance& operator=(const ModuleInstance&) = delete;
    ~ModuleInstance() override {
        // A module must not throw here; if it does, the instance is gone all
        // the same and there is nobody to tell.
        try {
            destroy_(instance_);
        } catch (...) {
        }
    }

    std::optional<Fans> fanValues() override {
        CollectedFans collected;
        try {
            if (fanValues_(instance_, collectFan, &collected) != 0) return std::nullopt;
        } catch (...) {
            // Foreign code that throws through its C entry point: this one
            // answer fails, the module stays in place.
            return std::nullopt;
        }
        if (collected.failed) return std::nullopt;
        return std::move(collected.fans);
    }

private:
    std::shared_ptr<Library> library_;  // declared first: unloaded after destroy_ ran
    void* instance_;
    FanValuesFunction fanValues_;
    DestroyFunction destroy_;
};

class ModuleBundle : public SensorModuleBundle {
public:
    ModuleBundle(std::shared_ptr<Library> library, std::string bundlePath)
        : library_(std::move(library)),
          bundlePath_(std::move(bundlePath)),
          create_(library_->symbol<CreateFunction>("vq_sensor_module_create")),
          fanValues_(library_->symbol<FanValuesFunction>("vq_sensor_module_fan_values")),
          destroy_(library_->symbol<DestroyFunction>("vq_sensor_module_destroy")) {}

    bool hasPrincipalClass() override { return create_ && fanValues_ && destroy_; }

    std::unique_ptr<SensorModuleInstance> createInstance() override {
        if (!hasPrincipalClass()) return nullptr;
        void* instance = nullptr;
        try {
            instance = create_(bundlePath_.c_str());
        } catch (...) {
            return nullptr;
        }
        if (!instance) return nullptr;
        return std::make_unique<ModuleInstance>(library_, instance, fanValues_, destroy_);
    }

private:
    std::shared_ptr<Library> library_;
    std::string bundlePath_;
    CreateFunction create_;
    FanValuesFunction fanValues_;
    DestroyFunction destroy_;
};

// Why a folder or file may not be trusted with code: someone other than the
// user or root owns it, or someone else may write to it.
std::optional<std::string> untrusted(const struct stat& info) {
    if (info.st_uid != ::geteuid() && info.st_uid != 0)
        return "is owned by uid " + std::to_string(info.st_uid) + ", neither the user nor root";
    if (info.st_mode & (S_IWGRP | S_IWOTH)) return "is writable by group or others";
    return std::nullopt;
}

class DlopenModuleLoader : public SensorModuleLoader {
public:
    explicit DlopenModuleLoader(std::shared_ptr<SystemLog> log) : log_(std::move(log)) {}

    bool fileExists(const std::string& bundlePath) override {
        struct stat info {};
        return ::stat(bundlePath.c_str(), &info) == 0;
    }

    std::shared_ptr<SensorModuleBundle> openBundle(const std::string& bundlePath) override {
        // The folder is opened once and the module file is opened relative to
        // it, so both checks apply to what is finally loaded even if the paths
        // change meanwhile. A symlinked bundle folder is followed: its target
        // is what gets checked.
        UniqueFd folder(::open(bundlePath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        struct stat info {};
        if (!folder || ::fstat(folder.get(), &info) != 0)
            return refuse(bundlePath, std::string("cannot be opened as a folder: ") + std::strerror(errno));
        if (auto why = untrusted(info)) return refuse(bundlePath, *why);

        const std::string modulePath = bundlePath + "/" VQ_SENSOR_MODULE_FILE;
        // O_NONBLOCK keeps a FIFO planted there from blocking the open.
        UniqueFd file(
            ::openat(folder.get(), VQ_SENSOR_MODULE_FILE, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (!file) {
            if (errno == ELOOP) return refuse(modulePath, "is a symbolic link");
            if (errno == ENOENT) return refuse(modulePath, "is missing");
            return refuse(modulePath, std::string("cannot be opened: ") + std::strerror(errno));
        }
        if (::fstat(file.get(), &info) != 0)
            return refuse(modulePath, std::string("cannot be read: ") + std::strerror(errno));
        if (!S_ISREG(info.st_mode)) return refuse(modulePath, "is not a regular file");
        if (auto why = untrusted(info)) return refuse(modulePath, *why);

        std::string name = "/proc/self/fd/" + std::to_string(file.get());
        void* handle = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* error = ::dlerror();
            writeLog("Sensor module " + modulePath + " failed to load: " + (error ? error : "unknown error"));
            return nullptr;
        }
        auto library = std::make_shared<Library>(handle, std::move(file), std::move(name));
        return std::make_shared<ModuleBundle>(std::move(library), bundlePath);
    }

private:
    std::shared_ptr<SensorModuleBundle> refuse(const std::string& path, const std::string& why) {
        writeLog("Sensor module refused: " + path + " " + why);
        return nullptr;
    }
    void writeLog(const std::string& line) {
        if (log_) log_->log(line);
    }

    std::shared_ptr<SystemLog> log_;
};

}  // namespace

std::shared_ptr<SensorModuleLoader> makeSensorModuleLoader(std::shared_ptr<SystemLog> log) {
    return std::make_shared<DlopenModuleLoader>(std::move(log));
}

}  // namespace vq::linux_platform
