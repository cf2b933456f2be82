// usb_streaming: four motors run ramped programs through the program's USB command protocol
// into the virtual module's firmware, in virtual time. Prints per motor the steps played against
// the steps programmed, the underruns (the module's list ran empty in the middle of a program)
// and the mean and maximum deviation of each played step from the ideal schedule (the sum of the
// ramp formula's periods), in module ticks (128 us each). Last line:
//
//   RESULT platform=native lost_steps=<n> underruns=<n> max_dev_ticks=<x> mean_dev_ticks=<x>
//
// The 10 kHz plateau asks for more than the module's clock can time (one step per tick, 7812.5
// per second): its periods go out as 1 tick, so that motor falls behind its schedule by design.
#include <cstdio>
#include <cstdlib>

#include "sim/StreamingRig.h"

using motion::kDirLeft;
using motion::kDirNone;
using motion::kDirRight;
using sim::testing::MotorFigures;
using sim::testing::StreamingRig;

int main() {
    StreamingRig rig;
    rig.Open();
    rig.Run(300);  // the host's clock calibration has its 20 pairs
    const char* names[StreamingRig::kMotors] = {
        "2000 steps at 2000 Hz, 0.5 s ramps", "20000 steps at 10 kHz, 0.5 s ramps",
        "1000 right, 200 pause, 1000 left at 1000 Hz, 0.2 s ramps",
        "300 steps at 20 Hz, 1 s ramps"};
    rig.SetProgram(0, {{2000, 2000.0, 0.5, kDirRight}});
    rig.SetProgram(1, {{20000, 10000.0, 0.5, kDirLeft}});
    rig.SetProgram(2, {{1000, 1000.0, 0.2, kDirRight},
                       {200, 1000.0, 0.0, kDirNone},
                       {1000, 1000.0, 0.2, kDirLeft}});
    rig.SetProgram(3, {{300, 20.0, 1.0, kDirRight}});
    rig.StartAll();
    rig.RunToEnd(120000);

    long lost = 0;
    int underruns = 0;
    double maxDev = 0;
    double devSum = 0;
    long devCount = 0;
    for (int m = 0; m < StreamingRig::kMotors; ++m) {
        const MotorFigures f = rig.Figures(m);
        std::printf(
            "motor %d (%s): played %d of %d, %s, underruns %d, deviation mean %.2f max "
            "%.2f ticks\n",
            m + 1, names[m], f.played, f.programmed, f.inOrder ? "in order" : "OUT OF ORDER",
            f.underruns, f.meanDeviation, f.maxDeviation);
        lost += std::labs(static_cast<long>(f.programmed) - f.played);
        underruns += f.underruns;
        if (f.maxDeviation > maxDev) maxDev = f.maxDeviation;
        devSum += f.meanDeviation * f.played;
        devCount += f.played;
    }
    std::printf("reports sent by the host: %llu\n",
                static_cast<unsigned long long>(rig.SentReports()));
    std::printf(
        "RESULT platform=native lost_steps=%ld underruns=%d max_dev_ticks=%.2f "
        "mean_dev_ticks=%.2f\n",
        lost, underruns, maxDev, devCount > 0 ? devSum / static_cast<double>(devCount) : 0.0);
    return 0;
}
