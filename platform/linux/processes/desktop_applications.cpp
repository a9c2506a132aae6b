#include "platform/linux/processes/desktop_applications.h"

#include <glib.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <functional>

#include "platform/linux/common/file_reading.h"

namespace vq::linux_platform {
namespace {

// Launchers and interpreters: an entry that starts one of these says
// nothing about which program runs, and would claim every shell or script.
constexpr std::array<std::string_view, 11> kLaunchers{"sh",   "bash", "dash",     "zsh",     "env", "gio",
                                                      "snap", "java", "xdg-open", "flatpak", "node"};
// Versioned interpreters too: "python3.11", "perl5.36".
constexpr std::array<std::string_view, 3> kInterpreterPrefixes{"python", "perl", "ruby"};

std::string_view baseName(std::string_view path) {
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// systemd's unit-name escaping: "\x2d" stands for "-".
std::string unescapeUnitName(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' && std::isxdigit(text[i + 2]) &&
            std::isxdigit(text[i + 3])) {
            out += static_cast<char>(std::strtol(std::string(text.substr(i + 2, 2)).c_str(), nullptr, 16));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::int64_t modificationStamp(const std::string& folder) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) return -1;
    return static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

constexpr const char* kGroup = G_KEY_FILE_DESKTOP_GROUP;

std::string stringOf(GKeyFile* file, const char* key) {
    g_autofree char* value = g_key_file_get_string(file, kGroup, key, nullptr);
    return value ? value : "";
}

std::vector<std::string> programsOf(GKeyFile* file) {
    std::vector<std::string> programs;
    g_autofree char* exec = g_key_file_get_string(file, kGroup, G_KEY_FILE_DESKTOP_KEY_EXEC, nullptr);
    g_auto(GStrv) argv = nullptr;
    if (exec && g_shell_parse_argv(exec, nullptr, &argv, nullptr)) {
        char** word = argv;
        if (*word && std::string_view(*word) == "env")
            for (++word; *word && std::string_view(*word).find('=') != std::string_view::npos;) ++word;
        if (*word) programs.emplace_back(*word);
    }
    g_autofree char* tryExec = g_key_file_get_string(file, kGroup, G_KEY_FILE_DESKTOP_KEY_TRY_EXEC, nullptr);
    if (tryExec && *tryExec) programs.emplace_back(tryExec);
    std::erase_if(programs, [](const std::string& p) {
        const std::string_view name = baseName(p);
        return std::find(kLaunchers.begin(), kLaunchers.end(), name) != kLaunchers.end() ||
               std::any_of(kInterpreterPrefixes.begin(), kInterpreterPrefixes.end(),
                           [name](std::string_view prefix) { return name.starts_with(prefix); });
    });
    return programs;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::vector<std::string> applicationIdsFromCgroup(std::string_view cgroup) {
    std::vector<std::string> ids;
    std::string_view rest = cgroup;
    while (!rest.empty()) {
        const auto slash = rest.find_first_of("/\n");
        std::string_view unit = rest.substr(0, slash);
        rest.remove_prefix(slash == std::string_view::npos ? rest.size() : slash + 1);
        if (unit.starts_with("snap.")) {
            unit.remove_prefix(5);
            const auto dot = unit.find('.');
            const auto end = unit.find('.', dot == std::string_view::npos ? unit.size() : dot + 1);
            if (dot != std::string_view::npos && end != std::string_view::npos)
                ids.push_back(std::string(unit.substr(0, dot)) + "_" + std::string(unit.substr(dot + 1, end - dot - 1)));
            continue;
        }
        if (!unit.starts_with("app-")) continue;
        unit.remove_prefix(4);
        if (unit.ends_with(".scope")) {
            unit.remove_suffix(6);
            const auto dash = unit.rfind('-');
            if (dash == std::string_view::npos) continue;
            unit = unit.substr(0, dash);
        } else if (unit.ends_with(".service")) {
            unit.remove_suffix(8);
            unit = unit.substr(0, unit.find('@'));
        } else {
            continue;
        }
        // Escaped ids hold no "-", so a remaining one ends the launcher's name.
        ids.push_back(unescapeUnitName(unit));
        if (const auto dash = unit.find('-'); dash != std::string_view::npos)
            ids.push_back(unescapeUnitName(unit.substr(dash + 1)));
    }
    // The innermost unit is the most specific.
    std::reverse(ids.begin(), ids.end());
    return ids;
}

std::optional<std::string> flatpakApplicationId(std::string_view flatpakInfo) {
    g_autoptr(GKeyFile) file = g_key_file_new();
    if (!g_key_file_load_from_data(file, flatpakInfo.data(), flatpakInfo.size(), G_KEY_FILE_NONE, nullptr))
        return std::nullopt;
    g_autofree char* name = g_key_file_get_string(file, "Application", "name", nullptr);
    if (!name || !*name) return std::nullopt;
    return std::string(name);
}

bool programNamesProcess(std::string_view program, std::string_view exePath, std::string_view argv0) {
    constexpr std::string_view deleted = " (deleted)";
    if (exePath.ends_with(deleted)) exePath.remove_suffix(deleted.size());
    if (program.empty()) return false;
    if (program.find('/') != std::string_view::npos) return program == exePath || program == argv0;
    return program == baseName(exePath) || program == baseName(argv0);
}

DesktopApplications::DesktopApplications(std::vector<std::string> dataDirectories) {
    for (auto& directory : dataDirectories) folders_.push_back(directory + "/applications");
}

void DesktopApplications::refresh() {
    std::vector<std::int64_t> stamps;
    for (const auto& folder : folders_) stamps.push_back(modificationStamp(folder));
    if (loaded_ && stamps == stamps_) return;
    stamps_ = std::move(stamps);
    loaded_ = true;
    entries_.clear();
    std::vector<std::string> seen;
    // An id found in an earlier folder hides the same id in later ones, even
    // when that entry is hidden or unreadable.
    const std::function<void(const std::string&, const std::string&)> walk = [&](const std::string& folder,
                                                                                 const std::string& prefix) {
        auto names = listDirectory(folder);
        if (!names) return;
        std::sort(names->begin(), names->end());
        for (const auto& name : *names) {
            const std::string path = folder + "/" + name;
            if (!name.ends_with(".desktop")) {
                if (!name.starts_with('.') && g_file_test(path.c_str(), G_FILE_TEST_IS_DIR)) walk(path, prefix + name + "-");
                continue;
            }
            const std::string id = prefix + name.substr(0, name.size() - 8);
            if (std::find(seen.begin(), seen.end(), id) != seen.end()) continue;
            seen.push_back(id);
            g_autoptr(GKeyFile) file = g_key_file_new();
            if (!g_key_file_load_from_file(file, path.c_str(), G_KEY_FILE_NONE, nullptr)) continue;
            if (stringOf(file, G_KEY_FILE_DESKTOP_KEY_TYPE) != G_KEY_FILE_DESKTOP_TYPE_APPLICATION ||
                g_key_file_get_boolean(file, kGroup, G_KEY_FILE_DESKTOP_KEY_HIDDEN, nullptr))
                continue;
            g_autofree char* shown = g_key_file_get_locale_string(file, kGroup, G_KEY_FILE_DESKTOP_KEY_NAME, nullptr, nullptr);
            entries_.push_back({id, path, shown ? shown : "", stringOf(file, G_KEY_FILE_DESKTOP_KEY_ICON),
                                programsOf(file), stringOf(file, G_KEY_FILE_DESKTOP_KEY_STARTUP_WM_CLASS)});
        }
    };
    for (const auto& folder : folders_) walk(folder, "");
    std::sort(entries_.begin(), entries_.end(), [](const auto& a, const auto& b) { return a.id < b.id; });
}

const DesktopEntry* DesktopApplications::byId(std::string_view id) {
    refresh();
    auto it = std::lower_bound(entries_.begin(), entries_.end(), id,
                               [](const DesktopEntry& e, std::string_view key) { return e.id < key; });
    return it != entries_.end() && it->id == id ? &*it : nullptr;
}

const DesktopEntry* DesktopApplications::applicationOf(const ProcessIdentity& process, std::string_view cgroup,
                                                       std::optional<std::string_view> flatpakInfo) {
    refresh();
    for (const auto& id : applicationIdsFromCgroup(cgroup))
        if (const DesktopEntry* entry = byId(id)) return entry;
    if (flatpakInfo)
        if (auto id = flatpakApplicationId(*flatpakInfo))
            if (const DesktopEntry* entry = byId(*id)) return entry;
    const std::string_view argv0 = process.argv.empty() ? std::string_view() : std::string_view(process.argv[0]);
    for (const DesktopEntry& entry : entries_)
        for (const auto& program : entry.programs)
            if (programNamesProcess(program, process.exePath, argv0)) return &entry;
    const std::string name = chooseProcessName(process.comm, process.exePath, process.argv);
    for (const DesktopEntry& entry : entries_)
        if (!entry.wmClass.empty() && equalsIgnoringCase(entry.wmClass, name)) return &entry;
    return nullptr;
}

}  // namespace vq::linux_platform
