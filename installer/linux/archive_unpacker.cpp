#include "installer/linux/archive_unpacker.h"

#include <archive.h>
#include <archive_entry.h>
#include <limits.h>
#include <stdlib.h>

#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "host/glib_handles.h"

namespace vq::installer {
namespace {

struct ReadArchiveFree {
    void operator()(archive* a) const { archive_read_free(a); }
};
struct WriteArchiveFree {
    void operator()(archive* a) const { archive_write_free(a); }
};
using ReadArchive = std::unique_ptr<archive, ReadArchiveFree>;
using WriteArchive = std::unique_ptr<archive, WriteArchiveFree>;

std::vector<std::string_view> components(std::string_view path) {
    std::vector<std::string_view> parts;
    while (!path.empty()) {
        const auto slash = path.find('/');
        const std::string_view part = path.substr(0, slash);
        if (!part.empty() && part != ".") parts.push_back(part);
        if (slash == std::string_view::npos) break;
        path.remove_prefix(slash + 1);
    }
    return parts;
}

// The folder with every symbolic link resolved, so that libarchive's check
// for links along each written path judges only what the archive made.
std::optional<std::string> realFolder(const std::string& folder) {
    if (folder.empty() || folder.front() != '/') return std::nullopt;
    if (g_mkdir_with_parents(folder.c_str(), 0755) != 0) return std::nullopt;
    char resolved[PATH_MAX];
    if (!::realpath(folder.c_str(), resolved)) return std::nullopt;
    return std::string(resolved);
}

bool allowedType(archive_entry* entry) {
    if (archive_entry_hardlink(entry)) return true;
    const auto type = archive_entry_filetype(entry);
    return type == AE_IFREG || type == AE_IFDIR || type == AE_IFLNK;
}

// Rewrites the member's names to absolute paths below the folder, or refuses it.
bool placeEntry(archive_entry* entry, const std::string& folder) {
    const char* name = archive_entry_pathname(entry);
    const auto path = name ? memberPath(name) : std::nullopt;
    if (!path || !allowedType(entry)) return false;
    if (path->empty()) return false;  // the folder itself is skipped before
    if (const char* link = archive_entry_hardlink(entry)) {
        const auto target = memberPath(link);
        if (!target || target->empty()) return false;
        archive_entry_set_hardlink(entry, (folder + "/" + *target).c_str());
    } else if (archive_entry_filetype(entry) == AE_IFLNK) {
        const char* target = archive_entry_symlink(entry);
        if (!target || !linkStaysInside(*path, target)) return false;
    }
    archive_entry_set_pathname(entry, (folder + "/" + *path).c_str());
    return true;
}

bool copyData(archive* in, archive* out, std::uint64_t& total, const UnpackLimits& limits,
              GCancellable* cancellable) {
    for (;;) {
        const void* block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        const int status = archive_read_data_block(in, &block, &size, &offset);
        if (status == ARCHIVE_EOF) return true;
        if (status != ARCHIVE_OK) return false;
        if (g_cancellable_is_cancelled(cancellable)) return false;
        // Sparse members count with their holes: the limit is on what the
        // files claim, not only on the bytes that carry data.
        total += size;
        if (offset < 0 || total > limits.maxTotalBytes ||
            static_cast<std::uint64_t>(offset) + size > limits.maxTotalBytes)
            return false;
        if (archive_write_data_block(out, block, size, offset) != ARCHIVE_OK) return false;
    }
}

}  // namespace

std::optional<std::string> memberPath(std::string_view name) {
    if (name.empty() || name.front() == '/') return std::nullopt;
    std::string path;
    for (std::string_view part : components(name)) {
        if (part == "..") return std::nullopt;
        if (!path.empty()) path += '/';
        path += part;
    }
    return path;
}

bool linkStaysInside(std::string_view linkPath, std::string_view target) {
    if (target.empty() || target.front() == '/') return false;
    // The link resolves from its own folder.
    long depth = static_cast<long>(components(linkPath).size()) - 1;
    bool climbing = true;
    for (std::string_view part : components(target)) {
        if (part == "..") {
            if (!climbing || --depth < 0) return false;
        } else {
            climbing = false;
            ++depth;
        }
    }
    return true;
}

bool unpackArchive(const std::string& archivePath, const std::string& folder, const UnpackLimits& limits,
                   GCancellable* cancellable) {
    const auto root = realFolder(folder);
    if (!root) return false;

    ReadArchive in(archive_read_new());
    archive_read_support_format_zip(in.get());
    archive_read_support_format_tar(in.get());
    archive_read_support_filter_gzip(in.get());
    archive_read_support_filter_bzip2(in.get());
    archive_read_support_filter_xz(in.get());
    if (archive_read_open_filename(in.get(), archivePath.c_str(), 64 * 1024) != ARCHIVE_OK) return false;

    // Owners, permissions beyond the umask, ACLs and extended attributes are
    // not taken from the archive. Existing files are unlinked first, so a
    // widget that has the old module loaded keeps its copy intact.
    WriteArchive out(archive_write_disk_new());
    archive_write_disk_set_options(out.get(), ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_UNLINK |
                                                  ARCHIVE_EXTRACT_SECURE_SYMLINKS | ARCHIVE_EXTRACT_SECURE_NODOTDOT);

    std::uint64_t total = 0;
    std::uint64_t entries = 0;
    for (;;) {
        archive_entry* entry = nullptr;
        const int status = archive_read_next_header(in.get(), &entry);
        if (status == ARCHIVE_EOF) break;
        if (status != ARCHIVE_OK || ++entries > limits.maxEntries) return false;
        if (g_cancellable_is_cancelled(cancellable)) return false;
        const char* name = archive_entry_pathname(entry);
        if (name && memberPath(name) && memberPath(name)->empty()) continue;
        if (!placeEntry(entry, *root)) return false;
        // libarchive extends a file to its declared size when the entry is
        // finished, even after a refusal, so the claim is checked first.
        if (archive_entry_size_is_set(entry) &&
            static_cast<std::uint64_t>(archive_entry_size(entry)) > limits.maxTotalBytes - total)
            return false;
        if (archive_write_header(out.get(), entry) != ARCHIVE_OK) return false;
        if (archive_entry_size(entry) > 0 || !archive_entry_size_is_set(entry)) {
            if (!copyData(in.get(), out.get(), total, limits, cancellable)) return false;
        }
        if (archive_write_finish_entry(out.get()) != ARCHIVE_OK) return false;
    }
    return archive_write_close(out.get()) == ARCHIVE_OK;
}

namespace {

struct UnpackJob {
    std::string archivePath;
    std::string folder;
    UnpackLimits limits;
    std::shared_ptr<std::mutex> oneAtATime;
};

// Shared with the task's callback, which may run after the pending handle is
// gone; the callback is dropped then.
struct UnpackState {
    std::function<void(bool)> done;
};

class PendingUnpack : public PendingWork {
public:
    PendingUnpack(std::shared_ptr<UnpackState> state, GCancellable* cancellable)
        : state_(std::move(state)), cancellable_(cancellable) {}
    ~PendingUnpack() override {
        state_->done = nullptr;
        g_cancellable_cancel(cancellable_.get());
    }

private:
    std::shared_ptr<UnpackState> state_;
    host::GObjectPtr<GCancellable> cancellable_;
};

void runJob(GTask* task, gpointer, gpointer data, GCancellable* cancellable) {
    const auto* job = static_cast<UnpackJob*>(data);
    // An install started while a dropped one still unpacks waits for it to
    // stop, so two workers never write the same folder.
    std::lock_guard lock(*job->oneAtATime);
    g_task_return_boolean(task, unpackArchive(job->archivePath, job->folder, job->limits, cancellable));
}

void jobDone(GObject*, GAsyncResult* result, gpointer data) {
    std::unique_ptr<std::shared_ptr<UnpackState>> state(static_cast<std::shared_ptr<UnpackState>*>(data));
    const bool unpacked = g_task_propagate_boolean(G_TASK(result), nullptr);
    // Moved out first: the callback may destroy the pending handle.
    if (auto done = std::exchange((*state)->done, nullptr)) done(unpacked);
}

}  // namespace

std::unique_ptr<PendingWork> ArchiveUnpacker::unpack(const std::string& archivePath, const std::string& folder,
                                                     std::function<void(bool)> done) {
    auto state = std::make_shared<UnpackState>(UnpackState{std::move(done)});
    GCancellable* cancellable = g_cancellable_new();
    GTask* task = g_task_new(nullptr, cancellable, &jobDone, new std::shared_ptr<UnpackState>(state));
    g_task_set_task_data(task, new UnpackJob{archivePath, folder, limits_, oneAtATime_},
                         [](gpointer data) { delete static_cast<UnpackJob*>(data); });
    g_task_run_in_thread(task, &runJob);
    g_object_unref(task);
    return std::make_unique<PendingUnpack>(std::move(state), cancellable);
}

}  // namespace vq::installer
