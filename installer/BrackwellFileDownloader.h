#pragma once
// The installer's controller: it offers to install (or replace) the sensor
// module, downloads the module archive, unpacks it into the sensor module
// folder, checks that the bundle arrived and tells running widgets.

#include <cstdint>
#include <memory>
#include <string>

#include "installer/installer_services.h"
#include "installer/installer_view.h"
#include "platform/file_system.h"
#include "platform/notification_center.h"

namespace vq::installer {

constexpr const char* kModuleArchivePath = "/software/Intel/VelquorIntelSensorsV3.zip";
constexpr const char* kSupportPagePath = "/support/?p=21";
constexpr const char* kDefaultBaseURL = "https://downloads.velquette.org";
constexpr const char* kModuleAvailableNotificationName = "ParquellIntelModuleAvailable";

constexpr const char* kCouldNotCreateTemporaryDirectory = "Could not create temporary directory";
constexpr const char* kCouldNotUnzipFile = "Could not unzip file";
constexpr const char* kFileCouldNotBeCreated = "File could not be created";
constexpr const char* kDownloadErrorPrefix = "Download Error: ";

struct InstallerServices {
    Downloader& downloader;
    Unpacker& unpacker;
    Desktop& desktop;
    FileSystem& files;
    NotificationCenter& notifications;
};

class BrackwellFileDownloader final : private DownloadDelegate {
public:
    // `baseURL` is the web server both URLs live on (no trailing slash needed);
    // `manualPath` is the installed "manual.html".
    BrackwellFileDownloader(InstallerView& view, InstallerServices services, std::string baseURL,
                            std::string manualPath);
    ~BrackwellFileDownloader();
    BrackwellFileDownloader(const BrackwellFileDownloader&) = delete;
    BrackwellFileDownloader& operator=(const BrackwellFileDownloader&) = delete;

    void awakeFromNib();

    void downloadAndInstall();
    void replaceAndInstall();
    void retry();
    void showManualInstructions();
    void getSource();

    void succeeded();
    void failedWithError(const std::string& message);

    // "<sensor module folder>/", empty when the user has no data folder.
    std::string installFolder() const;
    std::string installedModulePath() const;
    std::string moduleArchiveURL() const { return baseURL_ + kModuleArchivePath; }
    std::string supportPageURL() const { return baseURL_ + kSupportPagePath; }
    std::int32_t installFrom() const { return installFrom_; }
    const std::string& downloadPath() const { return downloadPath_; }

private:
    void startInstall(std::int32_t from);
    void decideDestination(Download& download, const std::string& suggestedFilename) override;
    void downloadDidFinish(Download& download) override;
    void didFailWithError(Download& download, const std::string& description) override;
    void unpackDidFinish(bool unpacked);
    void stopIndicatorOfInstallFrom();

    InstallerView& view_;
    InstallerServices services_;
    std::string baseURL_;
    std::string manualPath_;
    std::unique_ptr<Download> downloader_;
    std::unique_ptr<PendingWork> unpacking_;
    std::string downloadPath_;
    std::int32_t installFrom_ = 0;
};

// The base URL without its trailing slashes.
std::string normalizedBaseURL(std::string url);

}  // namespace vq::installer
