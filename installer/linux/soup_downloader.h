#pragma once
// Downloads with libsoup 3 (http and https, redirects followed) and with GIO
// for file:// URLs, asynchronously on the thread-default main context.

#include <libsoup/soup.h>

#include "host/glib_handles.h"
#include "installer/installer_services.h"

namespace vq::installer {

class SoupDownloader : public Downloader {
public:
    SoupDownloader();
    std::unique_ptr<Download> start(const std::string& url, DownloadDelegate& delegate) override;

private:
    host::GObjectPtr<SoupSession> session_;
};

}  // namespace vq::installer
