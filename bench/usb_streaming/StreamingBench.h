// What both runs of the streaming benchmark share: the four motor programs, and the report per
// motor with the RESULT line. Works with any run that has SetProgram(motor, steps) and
// Figures(motor): the virtual-time rig and the real-time run through q417-sim.exe.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "motion/MotorProgram.h"
#include "sim/ScheduleFigures.h"

namespace bench {

struct BenchProgram {
    const char* name;
    std::vector<motion::TsmProgramStep> steps;
};

inline const BenchProgram kPrograms[4] = {
    {"2000 steps at 1000 Hz", {{2000, 1000.0, 0.0, motion::kDirRight}}},
    {"3000 steps at 1500 Hz", {{3000, 1500.0, 0.0, motion::kDirLeft}}},
    {"800 steps at 400 Hz, 0.2 s ramps", {{800, 400.0, 0.2, motion::kDirRight}}},
    {"300 steps at 100 Hz, 1 s ramps", {{300, 100.0, 1.0, motion::kDirLeft}}},
};

template <typename Run>
void SetPrograms(Run& run) {
    for (int m = 0; m < 4; ++m)
        run.SetProgram(m, kPrograms[m].steps);
}

// Prints each motor's figures and the RESULT line. A motor whose program asks for more than
// the module's one step per tick is reported on its own line and left out of the figures.
template <typename Run>
void Report(Run& run, const char* platform) {
    long lost = 0, overlaps = 0, underruns = 0;
    double maxAbs = 0, maxInterval = 0, maxRateErr = 0;
    for (int m = 0; m < 4; ++m) {
        const sim::testing::MotorFigures f = run.Figures(m);
        std::printf(
            "%smotor %d (%s): played %d of %d, %s, overlaps %d, underruns %d, mean-rate error "
            "%.4f %%, worst error %.2f ticks at that rate, worst interval error %.2f ticks\n",
            f.overRate ? "OVER RATE " : "", m + 1, kPrograms[m].name, f.played, f.programmed,
            f.inOrder ? "in order" : "OUT OF ORDER", f.overlaps, f.underruns, f.rateErrPct,
            f.maxAbsTicks, f.maxIntervalTicks);
        if (f.overRate) continue;
        lost += f.Lost();
        overlaps += f.overlaps;
        underruns += f.underruns;
        maxAbs = std::max(maxAbs, f.maxAbsTicks);
        maxInterval = std::max(maxInterval, f.maxIntervalTicks);
        maxRateErr = std::max(maxRateErr, f.rateErrPct);
    }
    std::printf(
        "RESULT bench=usb_streaming platform=%s lost=%ld overlaps=%ld underruns=%ld "
        "max_abs_ticks=%.2f max_interval_ticks=%.2f max_rate_err_pct=%.4f\n",
        platform, lost, overlaps, underruns, maxAbs, maxInterval, maxRateErr);
}

}  // namespace bench
