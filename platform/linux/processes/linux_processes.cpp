#include "platform/linux/processes/linux_processes.h"

#include <gio/gio.h>
#include <unistd.h>

#include "platform/linux/processes/application_icons.h"
#include "platform/linux/processes/desktop_applications.h"
#include "platform/linux/processes/proc_processes.h"

namespace vq::linux_platform {
namespace {

class LinuxProcesses : public Processes {
public:
    LinuxProcesses(const std::string& procRoot, std::vector<std::string> dataDirectories)
        : table_(procRoot), dataDirectories_(dataDirectories), applications_(std::move(dataDirectories)) {}

    std::optional<std::string> processName(std::int32_t pid) override {
        auto identity = table_.identity(pid);
        if (!identity) return std::nullopt;
        return chooseProcessName(identity->comm, identity->exePath, identity->argv);
    }

    std::optional<ProcessApplication> applicationOf(std::int32_t pid) override {
        auto identity = table_.identity(pid);
        if (!identity) return std::nullopt;
        const std::string cgroup = table_.readProcessFile(pid, "cgroup").value_or("");
        const auto flatpakInfo = table_.readProcessFile(pid, "root/.flatpak-info");
        const DesktopEntry* entry =
            applications_.applicationOf(*identity, cgroup, flatpakInfo ? std::optional<std::string_view>(*flatpakInfo)
                                                                       : std::nullopt);
        if (!entry) return std::nullopt;
        return ProcessApplication{entry->id, entry->path};
    }

    std::optional<std::string> applicationName(const ProcessApplication& application) override {
        const DesktopEntry* entry = applications_.byId(application.bundleId);
        if (!entry || entry->name.empty()) return std::nullopt;
        return entry->name;
    }

    std::optional<std::string> applicationIconPng(const ProcessApplication& application) override {
        const DesktopEntry* entry = applications_.byId(application.bundleId);
        if (!entry || entry->icon.empty()) return std::nullopt;
        // GIO reads the Icon key as desktops do: a file path or themed names.
        g_autoptr(GIcon) icon = g_icon_new_for_string(entry->icon.c_str(), nullptr);
        return renderApplicationIcon(icon, dataDirectories_);
    }

    bool sampleProcesses(ProcessSample& sample) override { return table_.sample(sample); }

    std::int32_t selfPid() override { return static_cast<std::int32_t>(::getpid()); }

private:
    ProcTable table_;
    std::vector<std::string> dataDirectories_;
    DesktopApplications applications_;
};

}  // namespace

std::vector<std::string> xdgDataDirectories(const std::string& dataHome, const char* dataDirsVariable) {
    std::vector<std::string> directories;
    if (!dataHome.empty()) directories.push_back(dataHome);
    const std::string_view list = dataDirsVariable && *dataDirsVariable ? dataDirsVariable : "/usr/local/share:/usr/share";
    std::size_t start = 0;
    while (start <= list.size()) {
        const auto end = std::min(list.find(':', start), list.size());
        const std::string_view item = list.substr(start, end - start);
        // The XDG rules ignore relative entries.
        if (item.starts_with('/')) directories.emplace_back(item);
        start = end + 1;
    }
    return directories;
}

std::shared_ptr<Processes> makeLinuxProcesses(const std::string& procRoot, std::vector<std::string> dataDirectories) {
    return std::make_shared<LinuxProcesses>(procRoot, std::move(dataDirectories));
}

}  // namespace vq::linux_platform
