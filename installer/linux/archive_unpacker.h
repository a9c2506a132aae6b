#pragma once
// Unpacks the module archive with libarchive, refusing whatever could write
// outside the install folder or fill the disk.

#include <gio/gio.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "installer/installer_services.h"

namespace vq::installer {

struct UnpackLimits {
    // The module is one small shared object and a few data files; an archive
    // that expands past this is refused (a "zip bomb").
    std::uint64_t maxTotalBytes = 64ull << 20;
    std::uint64_t maxEntries = 10000;
};

// An archive member's name as a path below the install folder: "" for the
// folder itself, nullopt for an absolute name or one with a ".." component.
std::optional<std::string> memberPath(std::string_view name);

// Whether a symbolic link stored at `linkPath` (a memberPath) with this target
// stays inside the install folder. The target must be relative and may climb
// with ".." only at its start, so that links inside the folder cannot be
// chained to climb further than the text shows.
bool linkStaysInside(std::string_view linkPath, std::string_view target);

// Unpacks zip or tar archives into `folder` (created with its parents when
// missing). False when the archive is unreadable, a member is refused, a limit
// is passed or `cancellable` is cancelled; members already written stay.
bool unpackArchive(const std::string& archivePath, const std::string& folder, const UnpackLimits& limits,
                   GCancellable* cancellable = nullptr);

// unpackArchive on a worker thread; the result comes back on the main loop.
class ArchiveUnpacker : public Unpacker {
public:
    explicit ArchiveUnpacker(UnpackLimits limits = {}) : limits_(limits) {}
    std::unique_ptr<PendingWork> unpack(const std::string& archivePath, const std::string& folder,
                                        std::function<void(bool)> done) override;

private:
    UnpackLimits limits_;
    std::shared_ptr<std::mutex> oneAtATime_ = std::make_shared<std::mutex>();
};

}  // namespace vq::installer
