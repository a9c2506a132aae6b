// A stand-in for libnvidia-ml.so.1 answering what the test scripts in vq_nvml_stub. It counts inits and shutdowns
// and, as NVML does, refuses device calls outside an init … shutdown pair.
#include "nvml_stub.h"

#include <cstring>

#define EXPORT extern "C" __attribute__((visibility("default")))
using Device = VqNvmlStubDevice*;

extern "C" {
__attribute__((visibility("default"))) VqNvmlStub vq_nvml_stub;
}

namespace {
// NVML_ERROR_UNINITIALIZED outside init … shutdown, else the scripted return, the figure written on success.
template <typename Fill>
int answer(Device device, int figure, Fill fill) {
    if (vq_nvml_stub.initialised == 0) return ++vq_nvml_stub.callsOutsideInit, 1;
    if (figure >= 0 && device->returns[figure] != 0) return device->returns[figure];
    return fill(), 0;
}
}  // namespace

EXPORT int nvmlInit_v2() {
    ++vq_nvml_stub.inits;
    if (vq_nvml_stub.initReturn == 0) ++vq_nvml_stub.initialised;
    return vq_nvml_stub.initReturn;
}
EXPORT int nvmlShutdown() {
    ++vq_nvml_stub.shutdowns;
    return vq_nvml_stub.initialised > 0 ? (--vq_nvml_stub.initialised, 0) : 1;
}
EXPORT int nvmlDeviceGetHandleByPciBusId_v2(const char* busId, Device* device) {
    *device = nullptr;
    for (int i = 0; i < vq_nvml_stub.deviceCount; ++i)
        if (std::strcmp(vq_nvml_stub.devices[i].busId, busId) == 0) *device = &vq_nvml_stub.devices[i];
    return *device ? answer(*device, -1, [] {}) : 6;  // NVML_ERROR_NOT_FOUND
}
EXPORT int nvmlDeviceGetName(Device d, char* name, unsigned length) {
    return answer(d, -1, [&] { std::strncpy(name, d->name, length - 1); });
}
EXPORT int nvmlDeviceGetUtilizationRates(Device d, unsigned* rates) {
    return answer(d, 0, [&] { rates[0] = d->utilization, rates[1] = 0; });
}
EXPORT int nvmlDeviceGetMemoryInfo(Device d, unsigned long long* m) {
    return answer(d, 1, [&] { m[0] = d->memoryTotal, m[1] = d->memoryTotal - d->memoryUsed, m[2] = d->memoryUsed; });
}
EXPORT int nvmlDeviceGetTemperature(Device d, unsigned, unsigned* c) { return answer(d, 2, [&] { *c = d->celsius; }); }
EXPORT int nvmlDeviceGetPowerUsage(Device d, unsigned* mw) { return answer(d, 3, [&] { *mw = d->milliwatts; }); }
EXPORT int nvmlDeviceGetClockInfo(Device d, unsigned, unsigned* mhz) { return answer(d, 4, [&] { *mhz = d->megahertz; }); }
