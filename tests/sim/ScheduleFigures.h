// How well the steps a module played follow a motor program: the played steps against the
// programmed ones, their order and directions, and each step's deviation from the ideal schedule
// (the programmed steps' periods from the ramp formula, pauses included, summed from the first
// step and converted at the module's true 7812.5 ticks per second, anchored at the first played
// step). Shared by the virtual-time rig and the runs through q417-sim.exe.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

#include "motion/MotorProgram.h"
#include "motion/StepperMotor.h"
#include "sim/module/VirtualModule.h"

namespace sim::testing {

constexpr double kModuleTicksPerSecond = 7812.5;

struct MotorFigures {
    int programmed = 0;        // steps with a direction in the program
    int played = 0;            // steps the module played
    bool inOrder = true;       // every played step had the programmed direction, in order
    int underruns = 0;         // the list ran empty before the program was played
    double maxDeviation = 0;   // ticks, |played - ideal|
    double meanDeviation = 0;  // ticks
};

inline MotorFigures ScheduleFigures(const std::vector<motion::TsmProgramStep>& program,
                                    const std::vector<ModuleStep>& steps, int underruns) {
    MotorFigures f;
    f.underruns = underruns;
    f.played = static_cast<int>(steps.size());
    std::vector<double> ideal;
    std::vector<int> directions;
    double t = 0;
    for (const motion::TsmProgramStep& step : program) {
        for (int32_t i = 0; i < step.Steps; ++i) {
            if (step.Direction == motion::kDirLeft || step.Direction == motion::kDirRight) {
                ideal.push_back(t);
                directions.push_back(step.Direction);
            }
            t += motion::TStepperMotor::RampPeriod(step, i);
        }
    }
    f.programmed = static_cast<int>(ideal.size());
    const size_t n = std::min(ideal.size(), steps.size());
    if (n == 0) return f;
    const double anchor = static_cast<double>(steps[0].elapsed) - ideal[0] * kModuleTicksPerSecond;
    double sum = 0;
    for (size_t k = 0; k < n; ++k) {
        if (steps[k].direction != directions[k]) f.inOrder = false;
        if (k > 0 && steps[k].elapsed <= steps[k - 1].elapsed) f.inOrder = false;
        const double deviation = std::fabs(static_cast<double>(steps[k].elapsed) -
                                           (anchor + ideal[k] * kModuleTicksPerSecond));
        f.maxDeviation = std::max(f.maxDeviation, deviation);
        sum += deviation;
    }
    f.meanDeviation = sum / static_cast<double>(n);
    return f;
}

}  // namespace sim::testing
