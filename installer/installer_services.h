#pragma once
// The services the installer's controller works through: an asynchronous
// download, unpacking, and the desktop's temporary folder, unique names and
// default applications. installer/linux implements them with libsoup, GIO and
// libarchive; the controller knows only these interfaces.

#include <functional>
#include <memory>
#include <string>

namespace vq::installer {

class Download;

// Told about one download's progress, always from the main loop.
class DownloadDelegate {
public:
    // The response has arrived; the delegate calls setDestination (or cancel).
    virtual void decideDestination(Download& download, const std::string& suggestedFilename) = 0;
    virtual void downloadDidFinish(Download& download) = 0;
    // `description` is the transport library's own description of the error.
    virtual void didFailWithError(Download& download, const std::string& description) = 0;

protected:
    ~DownloadDelegate() = default;
};

// One running download. Destroying it cancels it; no delegate call follows,
// even from inside a delegate call of the same download.
class Download {
public:
    virtual ~Download() = default;
    virtual void setDestination(const std::string& path, bool allowOverwrite) = 0;
    virtual void cancel() = 0;
};

class Downloader {
public:
    virtual ~Downloader() = default;
    virtual std::unique_ptr<Download> start(const std::string& url, DownloadDelegate& delegate) = 0;
};

// Work that finishes later on the main loop. Destroying it drops the
// completion callback.
class PendingWork {
public:
    virtual ~PendingWork() = default;
};

class Unpacker {
public:
    virtual ~Unpacker() = default;
    // Unpacks the archive into `folder` (created with its parents when
    // missing) without blocking the main loop; `done` gets true when every
    // entry was written, false when the archive was refused or unreadable.
    virtual std::unique_ptr<PendingWork> unpack(const std::string& archivePath, const std::string& folder,
                                                std::function<void(bool)> done) = 0;
};

class Desktop {
public:
    virtual ~Desktop() = default;
    virtual std::string temporaryDirectory() = 0;
    virtual std::string globallyUniqueString() = 0;
    // Opens a URL, or a local file by its path, with the user's default application.
    virtual void openURL(const std::string& url) = 0;
    virtual void openFile(const std::string& path) = 0;
};

}  // namespace vq::installer
