/* A stand-in for libnvidia-ml.so.1 that answers what the test scripts in
   vq_nvml_stub: whether init succeeds, the devices by PCI address and each
   function's return code. It counts inits and shutdowns, and refuses every
   device call made outside an init … shutdown pair, as NVML does. */
#include <cstring>

extern "C" {

#define NVML_SUCCESS 0
#define NVML_ERROR_UNINITIALIZED 1
#define NVML_ERROR_INVALID_ARGUMENT 2
#define NVML_ERROR_NOT_FOUND 6

struct VqNvmlStubDevice {
    const char* busId;
    const char* name;
    int utilizationReturn, memoryReturn, temperatureReturn, powerReturn, clockReturn;
    unsigned utilization;
    unsigned long long memoryTotal, memoryUsed;
    unsigned celsius, milliwatts, megahertz;
};

struct VqNvmlStub {
    int initReturn;
    int inits, shutdowns, initialised, callsOutsideInit;
    int deviceCount;
    struct VqNvmlStubDevice devices[4];
};

__attribute__((visibility("default"))) struct VqNvmlStub vq_nvml_stub;

typedef struct VqNvmlStubDevice* nvmlDevice_t;
struct nvmlUtilization_t { unsigned int gpu, memory; };
struct nvmlMemory_t { unsigned long long total, free, used; };

#define EXPORT __attribute__((visibility("default")))

EXPORT int nvmlInit_v2(void) {
    ++vq_nvml_stub.inits;
    if (vq_nvml_stub.initReturn != NVML_SUCCESS) return vq_nvml_stub.initReturn;
    ++vq_nvml_stub.initialised;
    return NVML_SUCCESS;
}

EXPORT int nvmlShutdown(void) {
    ++vq_nvml_stub.shutdowns;
    if (vq_nvml_stub.initialised == 0) return NVML_ERROR_UNINITIALIZED;
    --vq_nvml_stub.initialised;
    return NVML_SUCCESS;
}

static int ready(const void* out) {
    if (vq_nvml_stub.initialised == 0) {
        ++vq_nvml_stub.callsOutsideInit;
        return NVML_ERROR_UNINITIALIZED;
    }
    return out ? NVML_SUCCESS : NVML_ERROR_INVALID_ARGUMENT;
}

EXPORT int nvmlDeviceGetHandleByPciBusId_v2(const char* busId, nvmlDevice_t* device) {
    int status = ready(device);
    if (status != NVML_SUCCESS) return status;
    for (int i = 0; i < vq_nvml_stub.deviceCount; ++i)
        if (strcmp(vq_nvml_stub.devices[i].busId, busId) == 0) {
            *device = &vq_nvml_stub.devices[i];
            return NVML_SUCCESS;
        }
    return NVML_ERROR_NOT_FOUND;
}

EXPORT int nvmlDeviceGetName(nvmlDevice_t device, char* name, unsigned int length) {
    int status = ready(name);
    if (status != NVML_SUCCESS) return status;
    strncpy(name, device->name, length);
    name[length - 1] = 0;
    return NVML_SUCCESS;
}

EXPORT int nvmlDeviceGetUtilizationRates(nvmlDevice_t device, nvmlUtilization_t* use) {
    int status = ready(use);
    if (status != NVML_SUCCESS || device->utilizationReturn != NVML_SUCCESS) return status ? status : device->utilizationReturn;
    use->gpu = device->utilization;
    use->memory = 0;
    return NVML_SUCCESS;
}

EXPORT int nvmlDeviceGetMemoryInfo(nvmlDevice_t device, nvmlMemory_t* memory) {
    int status = ready(memory);
    if (status != NVML_SUCCESS || device->memoryReturn != NVML_SUCCESS) return status ? status : device->memoryReturn;
    memory->total = device->memoryTotal;
    memory->used = device->memoryUsed;
    memory->free = device->memoryTotal - device->memoryUsed;
    return NVML_SUCCESS;
}

EXPORT int nvmlDeviceGetTemperature(nvmlDevice_t device, unsigned sensor, unsigned* celsius) {
    int status = ready(celsius);
    if (status != NVML_SUCCESS || device->temperatureReturn != NVML_SUCCESS) return status ? status : device->temperatureReturn;
    if (sensor != 0) return NVML_ERROR_INVALID_ARGUMENT;
    *celsius = device->celsius;
    return NVML_SUCCESS;
}

EXPORT int nvmlDeviceGetPowerUsage(nvmlDevice_t device, unsigned* milliwatts) {
    int status = ready(milliwatts);
    if (status != NVML_SUCCESS || device->powerReturn != NVML_SUCCESS) return status ? status : device->powerReturn;
    *milliwatts = device->milliwatts;
    return NVML_SUCCESS;
}

EXPORT int nvmlDeviceGetClockInfo(nvmlDevice_t device, unsigned type, unsigned* megahertz) {
    int status = ready(megahertz);
    if (status != NVML_SUCCESS || device->clockReturn != NVML_SUCCESS) return status ? status : device->clockReturn;
    if (type != 0) return NVML_ERROR_INVALID_ARGUMENT;
    *megahertz = device->megahertz;
    return NVML_SUCCESS;
}

}  // extern "C"
