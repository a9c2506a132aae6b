#pragma once
// The SMC diagnostic printer: a command-line front end over the SMC function
// module that prints one key, every key or a fan report, and can write a
// key. velquette-smc runs it; nothing in the plug-in calls it. All output
// goes to standard output.

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
