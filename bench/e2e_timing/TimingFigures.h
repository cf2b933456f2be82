// The figures of the end-to-end timing benchmark, worked out from the simulator kit's traces
// alone (no OS header, so they are checked natively as well):
//   - the virtual parallel port's trace: the steps each motor took and how far each interval
//     between consecutive steps lies from the programmed period;
//   - the virtual module's trace: the steps each motor played, and the segments that reached a
//     motor whose list had run empty while it still had steps to play (underruns).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "e2e/driver/RampSchedule.h"
#include "e2e/driver/TraceFile.h"
#include "motion/MotorProgram.h"
#include "sim/module/VirtualModule.h"

namespace bench {

// The nearest-rank percentile: the smallest value that at least share (0..1] of the values do
// not exceed. 0 when there are no values.
double Percentile(std::vector<double> values, double share);

struct PortMotorTiming {
    int Traced = 0;  // step lines of the motor (faults are not steps)
    int Faults = 0;  // jumps of two places in the Gray code
    // |interval - period| of each pair of consecutive steps, in milliseconds (trace ticks are
    // microseconds).
    std::vector<double> DeviationsMs;
    double MedianIntervalMs = 0;
};

// The motor's (1 to 4) steps in the parallel port's trace against a constant period.
PortMotorTiming PortTiming(const std::vector<e2e::TraceLine>& trace, int motor, double periodMs);

// How a motor's list in the module ran empty. A segment that arrives after every step of the
// segments before it has been played meets an idle motor, and the module times it from its
// arrival. That is harmless where the motor had nothing to play anyway (the first segment; the
// second after a one-step first segment that was played at once; a segment behind a pause that
// arrives before its first step is due). It is an underrun where the motor stood still although
// its next step was due: the segment arrived later than the last played step plus the scheduled
// period to the next step, that period stretched by the run's own scale (the host converts
// seconds to ticks with its calibration, which makes periods a few percent long) plus 2 ticks.
struct ModuleStalls {
    int IdleArrivals = 0;  // segments after the first that met an idle motor
    int Underruns = 0;     // of those, the ones that came after the next step was due
};

// Allowance on top of the scaled period before a late segment counts as an underrun.
constexpr double kStallToleranceTicks = 2;
// The scale is the last played interval over its scheduled period, held within these bounds
// (whole-tick rounding of short periods and a stall before it must not make it absurd).
constexpr double kStallScaleLow = 1.0, kStallScaleHigh = 2.0;

// trace: the module's trace from the start of the run; motor 1 to 4; schedule: the program's
// steps (e2e::RampSchedule).
ModuleStalls CountStalls(const std::vector<e2e::TraceLine>& trace, int motor,
                         const std::vector<e2e::ScheduledStep>& schedule);

// The motor's (1 to 4) steps in the parallel port's trace against its program's ideal schedule
// (TStepSchedule), anchored at the motor's first step: the mean-rate error (the least-squares
// scale of traced against ideal times through the first step) and each step's absolute error.
struct PortScheduleTiming {
    int Traced = 0;
    int Programmed = 0;  // steps of the program that move the motor
    double RateErrPct = 0;
    std::vector<double> AbsErrorsMs;
};
PortScheduleTiming PortSchedule(const std::vector<e2e::TraceLine>& trace, int motor,
                                const std::vector<motion::TsmProgramStep>& program);

}  // namespace bench
