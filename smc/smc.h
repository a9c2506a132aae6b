#pragma once
// The SMC function module: reading and writing values of the System
// Management Controller through the kernel's "AppleSMC" service, one 80-byte
// parameter block each way per exchange. Every function and both connection
// handles are exported with C linkage under these names.
//
// Status codes are the kernel's (0 is success). Error messages go to
// standard output.

#include <cstdint>

#include "platform/smc_transport.h"

extern "C" {

// What callers read into and write from.
struct SMCKeyValue {
    char key[5];         // four characters and a NUL
    std::uint32_t size;  // data size; 0 for a key the SMC does not have. Never above 32.
    char type[5];        // data type such as "ui8 ", "fpe2"; empty when the key info could not be read
    char bytes[32];      // the value, first byte first
};

// The module's default connection, and the sensor controller's own one.
extern vq::IOConnect conn;
extern vq::IOConnect conn2;

vq::IOReturn SMCOpen(vq::IOConnect* connection);
vq::IOReturn smc_init(void);
vq::IOReturn SMCClose(vq::IOConnect connection);
vq::IOReturn smc_close(void);

vq::IOReturn SMCCall(int index, SMCParamBlock* inputStructure, SMCParamBlock* outputStructure);
vq::IOReturn SMCCall2(int index, SMCParamBlock* inputStructure, SMCParamBlock* outputStructure,
                      vq::IOConnect connection);

vq::IOReturn SMCReadKey(const char* key, SMCKeyValue* val);
vq::IOReturn SMCReadKey2(const char* key, SMCKeyValue* val, vq::IOConnect connection);
vq::IOReturn SMCWriteKey(SMCKeyValue writeVal);
vq::IOReturn SMCWriteKey2(SMCKeyValue writeVal, vq::IOConnect connection);
vq::IOReturn SMCWriteSimple(const char* key, const char* wvalue, vq::IOConnect connection);

std::uint32_t SMCReadIndexCount(void);

// The unsigned big-endian integer of the first `size` bytes; `base` does not
// change the result.
std::uint32_t _strtoul(const char* str, int size, int base);
// A fixed-point value with `e` fraction bits, fraction dropped.
float _strtof(const char* str, int size, int e);
// Four characters of a packed code and a NUL; `str` holds at least 5.
void _ultostr(char* str, std::uint32_t val);

}  // extern "C"
