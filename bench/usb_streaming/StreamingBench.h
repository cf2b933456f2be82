// What both runs of the streaming benchmark share: the sets of four motor programs, and the
// report per motor with the RESULT line. Works with any run that has SetProgram(motor, steps)
// and Figures(motor): the virtual-time rig and the real-time run through q417-sim.exe.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "motion/MotorProgram.h"
#include "testsupport/ScheduleFigures.h"

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

// Four motors with ramps up to 7000 steps/s: short first segments of a steep start, and
// segments short enough at the top that the link's report rate matters.
inline const BenchProgram kRampPrograms[4] = {
    {"6000 steps at 7000 Hz, 0.5 s ramps", {{6000, 7000.0, 0.5, motion::kDirRight}}},
    {"4000 steps at 7000 Hz, 0.1 s ramps", {{4000, 7000.0, 0.1, motion::kDirLeft}}},
    {"3000 steps at 5000 Hz, 0.3 s ramps", {{3000, 5000.0, 0.3, motion::kDirRight}}},
    {"2000 steps at 2500 Hz, then 2000 at 7000 Hz, 0.2 s ramps",
     {{2000, 2500.0, 0.2, motion::kDirLeft}, {2000, 7000.0, 0.2, motion::kDirRight}}},
};

// A slow stretch (3 Hz) followed by a steep ramp to 6000 Hz, beside two steady motors.
inline const BenchProgram kSlowSteepPrograms[4] = {
    {"4 steps at 3 Hz, then 6000 at 6000 Hz, 0.1 s ramps",
     {{4, 3.0, 0.0, motion::kDirRight}, {6000, 6000.0, 0.1, motion::kDirRight}}},
    {"4 steps at 3 Hz, then 3000 at 6000 Hz, 0.05 s ramps",
     {{4, 3.0, 0.0, motion::kDirLeft}, {3000, 6000.0, 0.05, motion::kDirLeft}}},
    {"2000 steps at 1000 Hz", {{2000, 1000.0, 0.0, motion::kDirRight}}},
    {"300 steps at 100 Hz, 1 s ramps", {{300, 100.0, 1.0, motion::kDirLeft}}},
};

using ProgramSet = BenchProgram[4];

template <typename Run>
void SetPrograms(Run& run, const ProgramSet& programs = kPrograms) {
    for (int m = 0; m < 4; ++m)
        run.SetProgram(m, programs[m].steps);
}

// Prints each motor's figures and the RESULT line, with tags (" program=... condition=...")
// after the platform. A motor whose program asks for more than the module's one step per tick
// is reported on its own line and left out of the figures. The start skew is the spread of the
// motors' first steps against their ideal times (all four are started together).
template <typename Run>
void Report(Run& run, const char* platform, const ProgramSet& programs = kPrograms,
            const std::string& tags = "") {
    long lost = 0, overlaps = 0, underruns = 0, overwrites = 0;
    double maxAbs = 0, maxInterval = 0, maxRateErr = 0;
    double firstStart = 0, lastStart = 0;
    bool started = false;
    for (int m = 0; m < 4; ++m) {
        const sim::testing::MotorFigures f = run.Figures(m);
        std::printf(
            "%smotor %d (%s): played %d of %d, %s, overlaps %d, underruns %d, coil overwrites "
            "%d, mean-rate error %.4f %%, worst error %.2f ticks at that rate, worst interval "
            "error %.2f ticks, first step %+.1f ticks off\n",
            f.overRate ? "OVER RATE " : "", m + 1, programs[m].name, f.played, f.programmed,
            f.inOrder ? "in order" : "OUT OF ORDER", f.overlaps, f.underruns, f.overwrites,
            f.rateErrPct, f.maxAbsTicks, f.maxIntervalTicks, f.startTicks);
        if (f.overRate) continue;
        lost += f.Lost();
        overlaps += f.overlaps;
        underruns += f.underruns;
        overwrites += f.overwrites;
        maxAbs = std::max(maxAbs, f.maxAbsTicks);
        maxInterval = std::max(maxInterval, f.maxIntervalTicks);
        maxRateErr = std::max(maxRateErr, f.rateErrPct);
        if (f.played == 0) continue;
        firstStart = started ? std::min(firstStart, f.startTicks) : f.startTicks;
        lastStart = started ? std::max(lastStart, f.startTicks) : f.startTicks;
        started = true;
    }
    std::printf(
        "RESULT bench=usb_streaming platform=%s%s lost=%ld overlaps=%ld underruns=%ld "
        "overwrites=%ld max_abs_ticks=%.2f max_interval_ticks=%.2f max_rate_err_pct=%.4f "
        "start_skew_ticks=%.1f\n",
        platform, tags.c_str(), lost, overlaps, underruns, overwrites, maxAbs, maxInterval,
        maxRateErr, lastStart - firstStart);
}

}  // namespace bench
