// The command line of q417-sim.exe:
//
//   q417-sim [--pipe NAME] [--trace FILE] [--unplugged] [--link-ms 0|1|2]
//            [--no-unasked-status] [--help]
//
// --pipe: the module's pipe (see SimulatorNames.h); without it Q417_SIM_PIPE, else "q417-sim".
// --trace: the trace file, created afresh; without it "q417-sim-trace.csv" beside the exe.
// --unplugged: start with the module pulled out (plug it in with 'p' or the "plug" command).
// --link-ms: milliseconds per output report on the link (1 as on a full-speed link; 0 = no limit).
// --no-unasked-status: status reports only as answers, none when a list runs empty or a reset
//   ends.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct SimulatorOptions {
    std::string pipeName;   // as given; empty when not given
    std::string tracePath;  // as given; empty when not given
    bool unplugged = false;
    uint64_t linkPeriodUs = 1000;  // --link-ms × 1000
    bool unaskedStatus = true;     // cleared by --no-unasked-status
    bool help = false;
    std::string error;  // not empty when the command line is wrong; says what is wrong

    static const char* Usage();
};

// Parses the arguments after the program name.
SimulatorOptions ParseSimulatorOptions(const std::vector<std::string>& args);

}  // namespace sim
