// A stand-in for libnvidia-ml.so.1 answering what the test scripts in vq_nvml_stub: whether init succeeds, the
// devices by PCI address, each figure's return code. It counts inits and shutdowns and, as NVML does, refuses
// device calls outside an init … shutdown pair.
#include <cstring>

extern "C" {

struct VqNvmlStubDevice {
    const char* busId;
    const char* name;
    int returns[5];  // utilisation, memory, temperature, power, clock
    unsigned utilization;
    unsigned long long memoryTotal, memoryUsed;
    unsigned celsius, milliwatts, megahertz;
};
struct VqNvmlStub {
    int initReturn, inits, shutdowns, initialised, callsOutsideInit, deviceCount;
    VqNvmlStubDevice devices[4];
};
__attribute__((visibility("default"))) VqNvmlStub vq_nvml_stub;

#define EXPORT __attribute__((visibility("default")))
using Device = VqNvmlStubDevice*;

static int refused(Device device, int figure) {
    if (vq_nvml_stub.initialised == 0) return ++vq_nvml_stub.callsOutsideInit, 1;  // NVML_ERROR_UNINITIALIZED
    return device->returns[figure];
}

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
    if (vq_nvml_stub.initialised == 0) return ++vq_nvml_stub.callsOutsideInit, 1;
    for (int i = 0; i < vq_nvml_stub.deviceCount; ++i)
        if (std::strcmp(vq_nvml_stub.devices[i].busId, busId) == 0) return *device = &vq_nvml_stub.devices[i], 0;
    return 6;  // NVML_ERROR_NOT_FOUND
}
EXPORT int nvmlDeviceGetName(Device d, char* name, unsigned length) {
    if (vq_nvml_stub.initialised == 0) return ++vq_nvml_stub.callsOutsideInit, 1;
    std::strncpy(name, d->name, length - 1);
    return 0;
}
EXPORT int nvmlDeviceGetUtilizationRates(Device d, unsigned* rates) {
    if (int status = refused(d, 0)) return status;
    return rates[0] = d->utilization, rates[1] = 0, 0;
}
EXPORT int nvmlDeviceGetMemoryInfo(Device d, unsigned long long* m) {
    if (int status = refused(d, 1)) return status;
    return m[0] = d->memoryTotal, m[1] = d->memoryTotal - d->memoryUsed, m[2] = d->memoryUsed, 0;
}
EXPORT int nvmlDeviceGetTemperature(Device d, unsigned sensor, unsigned* c) {
    if (int status = refused(d, 2)) return status;
    return sensor != 0 ? 2 : (*c = d->celsius, 0);
}
EXPORT int nvmlDeviceGetPowerUsage(Device d, unsigned* mw) {
    if (int status = refused(d, 3)) return status;
    return *mw = d->milliwatts, 0;
}
EXPORT int nvmlDeviceGetClockInfo(Device d, unsigned type, unsigned* mhz) {
    if (int status = refused(d, 4)) return status;
    return type != 0 ? 2 : (*mhz = d->megahertz, 0);
}

}  // extern "C"
