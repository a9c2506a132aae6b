#pragma once
// A simulated machine with a home folder of its own: a copy of a machine
// file whose "home" is a fresh temporary folder holding
// "Library/Application Support", so the plug-in's icon caches are written
// there and nowhere else. Everything is removed again at the end.

#include <string>

namespace vq::e2e {

// A fresh folder under $TMPDIR (or /tmp), removed with its contents.
class TempFolder {
public:
    explicit TempFolder(const std::string& stem);
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

class ScratchMachine {
public:
    // Throws std::runtime_error when the fixture cannot be read or parsed.
    explicit ScratchMachine(const std::string& fixture);

    const std::string& machineFile() const { return machineFile_; }
    const std::string& home() const { return folder_.path(); }
    std::string supportFolder() const { return home() + "/Library/Application Support"; }
    // The folders the plug-in puts its icons in, without a trailing slash.
    std::string volumeIconCache() const { return supportFolder() + "/Brackwell/Parquell"; }
    std::string processIconCache() const { return supportFolder() + "/Brackwell/ProcessesIconCache"; }

private:
    TempFolder folder_;
    std::string machineFile_;
};

// The whole contents of a file; empty when it cannot be read.
std::string readWholeFile(const std::string& path);

}  // namespace vq::e2e
