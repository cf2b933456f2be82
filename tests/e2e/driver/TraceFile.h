// Reading the step traces the simulator kit writes as CSV with one header line and these seven
// columns:
//
//   tick,seconds,motor,direction,phase,position,<last>
//
// - the virtual module's trace (q417-sim.exe): a step line has motor 1 to 4 and an empty last
//   column; a received report has empty motor..position columns and its bytes in hex last;
// - the virtual parallel port's trace (q417-sim-lpt-trace.csv beside inpout32.dll): a step line
//   has motor 1 to 4; a write to the data register has motor 0 and "out XXXX YY" last; a fault
//   has "fault ..." last.
// The file may be growing while it is read: a line that does not parse (the last, half written)
// is left out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/module/VirtualModule.h"

namespace e2e {

struct TraceLine {
    uint64_t Tick = 0;
    double Seconds = 0;
    int Motor = -1;  // -1 when the column is empty
    int Direction = 0;
    int Phase = 0;
    int32_t Position = 0;
    std::string Last;  // the report's bytes or the event
};

// One line of the file (without its newline); false when it is not a trace line.
bool ParseTraceLine(const std::string& line, TraceLine& out);
// Every complete line after the header; empty when the file cannot be read.
std::vector<TraceLine> ReadTrace(const std::string& path);
// The step lines of one motor (1 to 4), in file order.
std::vector<TraceLine> MotorSteps(const std::vector<TraceLine>& lines, int motor);
// The number of step lines of one motor.
size_t CountSteps(const std::string& path, int motor);
// The step lines of one motor (1 to 4) of the module's trace as the steps the module played:
// one power-up, so the tick count never wraps and serves as the elapsed count.
std::vector<sim::ModuleStep> PlayedSteps(const std::vector<TraceLine>& lines, int motor);
// The module's fault lines of one kind ("overlap 2 due ...", "underrun 2 ...", "coil overwrite
// 2 ...") for one motor (1 to 4).
int ModuleEvents(const std::vector<TraceLine>& lines, const std::string& kind, int motor);

}  // namespace e2e
