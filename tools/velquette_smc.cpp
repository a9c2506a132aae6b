// velquette-smc: the SMC diagnostic printer of the plug-in as a command.
#include "smc/smc_printer.h"

int main(int argc, char* argv[]) { return main_deac(argc, argv); }
