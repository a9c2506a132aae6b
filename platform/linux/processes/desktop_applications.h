#pragma once
// Which application a process belongs to, found the way desktops find it:
// the systemd unit its launcher put it in, Flatpak and Snap metadata, then
// the desktop entries whose Exec or TryExec names its executable, or whose
// StartupWMClass is its name. Desktop entries are read with GLib's key-file
// parser from the "applications" folders of the data directories given,
// first folder first. (GDesktopAppInfo would drop every entry whose program
// is not on this process's PATH, though the launcher's PATH decides what ran.)

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/processes/proc_processes.h"

namespace vq::linux_platform {

// Desktop-file ids (without ".desktop") named by the systemd units in a
// /proc/PID/cgroup text, most likely first: app[-<launcher>]-<id>-<random>.scope,
// app[-<launcher>]-<id>[@<random>].service (ids escaped as in unit names), and
// snap.<snap>.<app>.* as "<snap>_<app>".
std::vector<std::string> applicationIdsFromCgroup(std::string_view cgroup);

// The application id of a /.flatpak-info key file; nullopt when it has none.
std::optional<std::string> flatpakApplicationId(std::string_view flatpakInfo);

// Whether a desktop entry's program (its Exec's program after "env" and
// its variables, or its TryExec) names this process's executable. A program
// given with a folder must be the executable's path or argv[0]; a bare name
// must be their file name.
bool programNamesProcess(std::string_view program, std::string_view exePath, std::string_view argv0);

struct DesktopEntry {
    std::string id;
    std::string path;
    std::string name;                   // localized for the current locale
    std::string icon;                   // as written: a themed name or a file
    std::vector<std::string> programs;  // the Exec program and the TryExec, as written
    std::string wmClass;
};

class DesktopApplications {
public:
    explicit DesktopApplications(std::vector<std::string> dataDirectories);

    // The entry of a process, or null when it belongs to no application.
    const DesktopEntry* applicationOf(const ProcessIdentity& process, std::string_view cgroup,
                                      std::optional<std::string_view> flatpakInfo);
    const DesktopEntry* byId(std::string_view id);

private:
    // Reads the entries again when an applications folder changed.
    void refresh();

    std::vector<std::string> folders_;
    std::vector<std::int64_t> stamps_;
    bool loaded_ = false;
    std::vector<DesktopEntry> entries_;  // sorted by id
};

}  // namespace vq::linux_platform
