// velquette-smc: the SMC diagnostic printer of the plug-in as a command.
// The long options are the command's own; every other argument goes to the
// printer, which keeps its short options and their answers.
#include <cstdio>
#include <string_view>

#include "smc/smc_printer.h"

int main(int argc, char* argv[]) {
    if (argc == 2 && std::string_view(argv[1]) == "--help") {
        usage("velquette-smc");
        return 0;
    }
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        std::puts("velquette-smc " VELQUETTE_VERSION);
        return 0;
    }
    return main_deac(argc, argv);
}
