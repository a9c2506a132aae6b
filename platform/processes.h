#pragma once
// Processes as the bridge sees them: their names, the application each one
// belongs to with that application's icon, and their CPU time and resident
// memory for the busiest-processes list. The clipboard sits beside them
// because it is the other small desktop service the bridge asks for.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vq {

// The application a process belongs to. `bundleId` names it uniquely (on
// Linux the desktop-file id without ".desktop"); `bundlePath` is where it is
// described (on Linux the desktop entry's file).
struct ProcessApplication {
    std::string bundleId;
    std::string bundlePath;
};

// One process in a sample. Times are seconds on the sample's own clock.
struct ProcessRecord {
    std::int32_t pid = 0;
    double startedAt = 0;   // when the process started; tells a reused pid apart
    double cpuSeconds = 0;  // user and system time so far
    std::uint64_t residentBytes = 0;
};

// Every process at one moment. The buffer is reused between samples so that
// sampling allocates nothing once it has grown to the process count.
struct ProcessSample {
    double takenAt = 0;
    std::vector<ProcessRecord> records;
};

class Processes {
public:
    virtual ~Processes() = default;
    // The process's own name; nullopt when the process does not exist or
    // cannot be read.
    virtual std::optional<std::string> processName(std::int32_t pid) = 0;
    // The application of the process; nullopt when it belongs to none.
    virtual std::optional<ProcessApplication> applicationOf(std::int32_t pid) = 0;
    // The name the desktop shows for an application; nullopt when it has none.
    virtual std::optional<std::string> applicationName(const ProcessApplication& application) = 0;
    // The application's icon as a 48x48 PNG; nullopt when none can be made.
    virtual std::optional<std::string> applicationIconPng(const ProcessApplication& application) = 0;
    // Replaces `sample` with the processes now running; false when the process
    // table cannot be read at all. Processes that end while they are read are
    // left out.
    virtual bool sampleProcesses(ProcessSample& sample) = 0;
    // The process that hosts the plug-in.
    virtual std::int32_t selfPid() = 0;
};

class Clipboard {
public:
    virtual ~Clipboard() = default;
    // Replaces the clipboard's contents with the text. Never blocks; failures
    // are not reported.
    virtual void copyText(const std::string& text) = 0;
};

}  // namespace vq
