#pragma once
// Downloads with libsoup 3 (http and https, redirects followed) and with GIO
// for file:// URLs, asynchronously on the thread-default main context. A body
// larger than the limit is cut off and fails, so a hostile server cannot fill
// the temporary folder.

#include <libsoup/soup.h>

#include "host/glib_handles.h"
#include "installer/installer_services.h"

namespace vq::installer {

class SoupDownloader : public Downloader {
public:
    // The same limit as the unpacker's: a module archive is a few hundred kB.
    static constexpr std::uint64_t kDefaultMaxBytes = 64ull << 20;

    explicit SoupDownloader(std::uint64_t maxBytes = kDefaultMaxBytes);
    std::unique_ptr<Download> start(const std::string& url, DownloadDelegate& delegate) override;

private:
    host::GObjectPtr<SoupSession> session_;
    std::uint64_t maxBytes_;
};

}  // namespace vq::installer
