// What both runs of the streaming benchmark share: the four motor programs, and the report per
// motor with the RESULT line. Works with any run that has SetProgram(motor, steps) and
// Figures(motor): the virtual-time rig and the real-time run through q417-sim.exe.
#pragma once

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
    {"2000 steps at 2000 Hz, 0.5 s ramps", {{2000, 2000.0, 0.5, motion::kDirRight}}},
    {"20000 steps at 10 kHz, 0.5 s ramps", {{20000, 10000.0, 0.5, motion::kDirLeft}}},
    {"1000 right, 200 pause, 1000 left at 1000 Hz, 0.2 s ramps",
     {{1000, 1000.0, 0.2, motion::kDirRight},
      {200, 1000.0, 0.0, motion::kDirNone},
      {1000, 1000.0, 0.2, motion::kDirLeft}}},
    {"300 steps at 20 Hz, 1 s ramps", {{300, 20.0, 1.0, motion::kDirRight}}},
};

template <typename Run>
void SetPrograms(Run& run) {
    for (int m = 0; m < 4; ++m)
        run.SetProgram(m, kPrograms[m].steps);
}

// Prints each motor's figures and the RESULT line.
template <typename Run>
void Report(Run& run, const char* platform) {
    long lost = 0;
    int underruns = 0;
    double maxDev = 0, devSum = 0;
    long devCount = 0;
    for (int m = 0; m < 4; ++m) {
        const sim::testing::MotorFigures f = run.Figures(m);
        std::printf(
            "motor %d (%s): played %d of %d, %s, underruns %d, deviation mean %.2f max %.2f "
            "ticks\n",
            m + 1, kPrograms[m].name, f.played, f.programmed,
            f.inOrder ? "in order" : "OUT OF ORDER", f.underruns, f.meanDeviation, f.maxDeviation);
        lost += std::labs(static_cast<long>(f.programmed) - f.played);
        underruns += f.underruns;
        if (f.maxDeviation > maxDev) maxDev = f.maxDeviation;
        devSum += f.meanDeviation * f.played;
        devCount += f.played;
    }
    std::printf(
        "RESULT platform=%s lost_steps=%ld underruns=%d max_dev_ticks=%.2f mean_dev_ticks=%.2f\n",
        platform, lost, underruns, maxDev,
        devCount > 0 ? devSum / static_cast<double>(devCount) : 0.0);
}

}  // namespace bench
