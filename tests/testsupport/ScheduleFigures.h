// How well the steps a module played follow a motor program, step by step: the played steps
// against the programmed ones, their order and directions, and each step against its ideal time
// on the schedule (TStepSchedule), pauses included, anchored at the first played step. Shared
// by the virtual-time rig, the runs through q417-sim.exe and the end-to-end benchmark.
//
// - deviation: against the ideal times at the module's true 7812.5 ticks per second;
// - rate error: the best-fit scale of played against ideal times (the least-squares line), as a
//   percentage of the true rate: how far the host's calibration was off;
// - absolute error: against the line that makes the worst step's error least (the ideal times
//   at the rate and from the start that fit the steps best in the worst case), the step
//   compressor's bound. A least-squares line would do as well for steps whose errors are
//   random, but a compressor's errors swing in long runs across the bound, and those tilt a
//   least-squares line by several hundredths of a percent over a run of a second: its worst
//   distance then exceeds the bound that every step keeps;
// - interval error: each step-to-step interval of a constant-rate stretch (both neighbouring
//   ideal intervals equal, so not across a ramp, a pause or a change of rate) against its ideal
//   interval at the fitted rate.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "motion/MotorProgram.h"
#include "motion/StepSchedule.h"
#include "sim/module/VirtualModule.h"

namespace sim::testing {

constexpr double kModuleTicksPerSecond = 7812.5;

struct MotorFigures {
    int programmed = 0;           // steps with a direction in the program
    int played = 0;               // steps the module played
    bool inOrder = true;          // every played step had the programmed direction, in order
    int underruns = 0;            // the list ran empty before the program was played
    int overlaps = 0;             // segments due before their predecessor's last step
    int overwrites = 0;           // direct outputs that changed its coils while it played
    bool overRate = false;        // a program step asks for more than one step per tick
    double maxDeviation = 0;      // ticks, |played - ideal| at 7812.5 ticks/s
    double meanDeviation = 0;     // ticks
    double rateErrPct = 0;        // |fitted rate / 7812.5 - 1| in percent
    double maxAbsTicks = 0;       // |played - ideal| on the line of least worst error
    double maxIntervalTicks = 0;  // worst interval error of a constant-rate stretch
    // The first played step's tick less its ideal time from the run's start at 7812.5 ticks/s:
    // motors started together differ in it by their start skew.
    double startTicks = 0;

    int Lost() const { return std::abs(programmed - played); }
};

inline MotorFigures ScheduleFigures(const std::vector<motion::TsmProgramStep>& program,
                                    const std::vector<ModuleStep>& steps, int underruns,
                                    int overlaps = 0, int overwrites = 0) {
    MotorFigures f;
    f.underruns = underruns;
    f.overlaps = overlaps;
    f.overwrites = overwrites;
    f.played = static_cast<int>(steps.size());
    for (const motion::TsmProgramStep& step : program)
        if (step.Steps > 0 && step.Frequency > kModuleTicksPerSecond) f.overRate = true;
    const auto ideal = motion::TStepSchedule(program).MovingSteps();
    f.programmed = static_cast<int>(ideal.size());
    const size_t n = std::min(ideal.size(), steps.size());
    if (n == 0) return f;
    f.startTicks = static_cast<double>(steps[0].elapsed) - ideal[0].time * kModuleTicksPerSecond;

    // Played ticks and ideal seconds, both from the first step.
    std::vector<double> played(n), seconds(n);
    double sum = 0, sumT = 0, sumP = 0;
    for (size_t k = 0; k < n; ++k) {
        played[k] = static_cast<double>(steps[k].elapsed) - static_cast<double>(steps[0].elapsed);
        seconds[k] = ideal[k].time - ideal[0].time;
        sumT += seconds[k];
        sumP += played[k];
        if (steps[k].direction != ideal[k].direction) f.inOrder = false;
        if (k > 0 && steps[k].elapsed <= steps[k - 1].elapsed) f.inOrder = false;
        const double deviation = std::fabs(played[k] - seconds[k] * kModuleTicksPerSecond);
        f.maxDeviation = std::max(f.maxDeviation, deviation);
        sum += deviation;
    }
    f.meanDeviation = sum / static_cast<double>(n);
    // The least-squares line of played ticks over ideal seconds: its slope is the run's mean
    // rate.
    const double meanT = sumT / static_cast<double>(n), meanP = sumP / static_cast<double>(n);
    double covariance = 0, variance = 0;
    for (size_t k = 0; k < n; ++k) {
        covariance += (seconds[k] - meanT) * (played[k] - meanP);
        variance += (seconds[k] - meanT) * (seconds[k] - meanT);
    }
    const double rate = variance > 0 ? covariance / variance : kModuleTicksPerSecond;
    f.rateErrPct = 100 * std::fabs(rate / kModuleTicksPerSecond - 1);
    // The line of least worst error: for a rate r the best start halves the spread of the
    // residuals, and that spread is convex in r, so a search of its minimum near the fitted
    // rate finds it.
    const auto worst = [&](double r) {
        double low = 1e300, high = -1e300;
        for (size_t k = 0; k < n; ++k) {
            const double residual = played[k] - seconds[k] * r;
            low = std::min(low, residual);
            high = std::max(high, residual);
        }
        return (high - low) / 2;
    };
    double lowRate = rate * 0.99, highRate = rate * 1.01;
    for (int i = 0; i < 200; ++i) {
        const double a = lowRate + (highRate - lowRate) / 3,
                     b = highRate - (highRate - lowRate) / 3;
        if (worst(a) < worst(b)) {
            highRate = b;
        } else {
            lowRate = a;
        }
    }
    f.maxAbsTicks = std::min(worst((lowRate + highRate) / 2), worst(rate));
    for (size_t k = 2; k < n; ++k) {
        const double before = seconds[k - 1] - seconds[k - 2],
                     interval = seconds[k] - seconds[k - 1];
        if (std::fabs(before - interval) > 1e-9 * interval) continue;
        f.maxIntervalTicks =
            std::max(f.maxIntervalTicks, std::fabs(played[k] - played[k - 1] - interval * rate));
    }
    return f;
}

}  // namespace sim::testing
