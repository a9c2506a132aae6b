#pragma once
// The SMC diagnostic printer: a command-line front end over the SMC function
// module that prints one key, every key or a fan report, and can write a
// key. velquette-smc runs it; nothing in the plug-in calls it. All output
// goes to standard output.

#include <optional>
#include <string_view>

#include "smc/smc.h"

extern "C" {

// Options "fhk:lrw:v"; answers the exit status.
int main_deac(int argc, char* argv[]);
void usage(const char* prog);
vq::IOReturn SMCPrintAll(void);
vq::IOReturn SMCPrintFans(void);
void printVal(SMCKeyValue val);
void printUInt(SMCKeyValue val);
void printFPE2(SMCKeyValue val);
void printBytesHex(SMCKeyValue val);

}  // extern "C"

namespace vq {

// The value of "-w": two hex digits per byte, each pair read as strtol reads
// it. nullopt for an odd digit count or more bytes than a value holds.
std::optional<SMCKeyValue> parseWriteValue(std::string_view digits);

}  // namespace vq
