// The command line of q417-sim.exe:
//
//   q417-sim [--pipe NAME] [--trace FILE] [--unplugged] [--help]
//
// --pipe: the module's pipe (see SimulatorNames.h); without it Q417_SIM_PIPE, else "q417-sim".
// --trace: the trace file, created afresh; without it "q417-sim-trace.csv" beside the exe.
// --unplugged: start with the module pulled out (plug it in with 'p' or the "plug" command).
#pragma once

#include <string>
#include <vector>

namespace sim {

struct SimulatorOptions {
    std::string pipeName;   // as given; empty when not given
    std::string tracePath;  // as given; empty when not given
    bool unplugged = false;
    bool help = false;
    std::string error;  // not empty when the command line is wrong; says what is wrong

    static const char* Usage();
};

// Parses the arguments after the program name.
SimulatorOptions ParseSimulatorOptions(const std::vector<std::string>& args);

}  // namespace sim
