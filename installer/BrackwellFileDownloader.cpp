#include "installer/BrackwellFileDownloader.h"

#include "sensors/sensor_sources.h"

namespace vq::installer {

std::string normalizedBaseURL(std::string url) {
    while (url.ends_with('/')) url.pop_back();
    return url;
}

BrackwellFileDownloader::BrackwellFileDownloader(InstallerView& view, InstallerServices services,
                                                 std::string baseURL, std::string manualPath)
    : view_(view),
      services_(services),
      baseURL_(normalizedBaseURL(std::move(baseURL))),
      manualPath_(std::move(manualPath)) {}

// The pending unpack goes first: its callback would reach this object.
BrackwellFileDownloader::~BrackwellFileDownloader() {
    unpacking_.reset();
    downloader_.reset();
}

std::string BrackwellFileDownloader::installFolder() const {
    const std::string folder = sensorBundleFolder(services_.files);
    return folder.empty() ? folder : folder + "/";
}

std::string BrackwellFileDownloader::installedModulePath() const {
    const std::string folder = installFolder();
    return folder.empty() ? folder : folder + kSensorModuleBundleName;
}

void BrackwellFileDownloader::awakeFromNib() {
    view_.activate();
    const std::string module = installedModulePath();
    view_.setContent(!module.empty() && services_.files.fileExists(module) ? InstallerPane::replace
                                                                           : InstallerPane::main);
    view_.keepAbove();
}

void BrackwellFileDownloader::downloadAndInstall() { startInstall(0); }
void BrackwellFileDownloader::replaceAndInstall() { startInstall(1); }
void BrackwellFileDownloader::retry() { startInstall(2); }

// A second start while a download runs replaces (and so cancels) the first,
// and drops an unpack still under way, so that only one install reports.
void BrackwellFileDownloader::startInstall(std::int32_t from) {
    unpacking_.reset();
    downloader_ = services_.downloader.start(moduleArchiveURL(), *this);
    installFrom_ = from;
    view_.startIndicator(static_cast<Indicator>(from));
}

void BrackwellFileDownloader::showManualInstructions() { services_.desktop.openFile(manualPath_); }

void BrackwellFileDownloader::getSource() { services_.desktop.openURL(supportPageURL()); }

void BrackwellFileDownloader::decideDestination(Download& download, const std::string& suggestedFilename) {
    const std::string temporary =
        services_.desktop.temporaryDirectory() + "/" + services_.desktop.globallyUniqueString();
    if (!services_.files.createDirectory(temporary)) {
        failedWithError(kCouldNotCreateTemporaryDirectory);
        download.cancel();
        downloader_.reset();
        return;
    }
    downloadPath_ = temporary + "/" + suggestedFilename;
    download.setDestination(downloadPath_, true);
}

void BrackwellFileDownloader::downloadDidFinish(Download&) {
    // The download is released once the unpacked folder has been checked.
    unpacking_ = services_.unpacker.unpack(downloadPath_, installFolder(),
                                           [this](bool unpacked) { unpackDidFinish(unpacked); });
}

void BrackwellFileDownloader::unpackDidFinish(bool unpacked) {
    if (!unpacked) {
        failedWithError(kCouldNotUnzipFile);
        return;
    }
    const std::string module = installedModulePath();
    if (!module.empty() && services_.files.fileExists(module)) {
        succeeded();
    } else {
        failedWithError(kFileCouldNotBeCreated);
    }
    downloader_.reset();
}

void BrackwellFileDownloader::didFailWithError(Download&, const std::string& description) {
    failedWithError(kDownloadErrorPrefix + description);
}

void BrackwellFileDownloader::succeeded() {
    view_.setContent(InstallerPane::success);
    stopIndicatorOfInstallFrom();
    view_.setRestartNeeded(!services_.notifications.post(kModuleAvailableNotificationName));
}

void BrackwellFileDownloader::failedWithError(const std::string& message) {
    view_.setContent(InstallerPane::failed);
    view_.setFailedMessage(message);
    stopIndicatorOfInstallFrom();
}

void BrackwellFileDownloader::stopIndicatorOfInstallFrom() {
    if (installFrom_ >= 0 && installFrom_ <= 2) view_.stopIndicator(static_cast<Indicator>(installFrom_));
}

}  // namespace vq::installer
