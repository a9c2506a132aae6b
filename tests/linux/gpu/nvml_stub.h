#pragma once
// What the stand-in libnvidia-ml.so.1 (nvml_stub.cpp) answers: the test sets vq_nvml_stub, found with dlsym.
struct VqNvmlStubDevice {
    const char* busId;
    const char* name;
    int returns[5];  // of the utilisation, memory, temperature, power and clock calls; 0 answers the figure
    unsigned utilization;
    unsigned long long memoryTotal, memoryUsed;
    unsigned celsius, milliwatts, megahertz;
};
struct VqNvmlStub {
    int initReturn, inits, shutdowns, initialised, callsOutsideInit, deviceCount;
    VqNvmlStubDevice devices[4];
};
