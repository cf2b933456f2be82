// The times at which a motor program's steps are due, taken from the program's ideal schedule
// (motion::TStepSchedule), in the driver's own record types, so that the steps a module or port
// played can be held against them. Times are seconds from the program's
// first step; pause steps (direction none) take their periods but are not steps of the motor.
#pragma once

#include <vector>

namespace e2e {

struct ProgramStepValues {
    int Steps = 0;
    double Frequency = 0;  // Hz
    double RampTime = 0;   // s
    int Direction = 0;     // 0 none, 1 left, 2 right
};

struct ScheduledStep {
    double Time = 0;    // s from the first step of the program
    double Period = 0;  // s until the next step of the program (pauses included)
    int Direction = 0;  // 1 left, 2 right
};

// The period between step i and step i+1 of one program step.
double RampPeriod(const ProgramStepValues& step, int i);
// Every step with a direction of one pass over the program.
std::vector<ScheduledStep> RampSchedule(const std::vector<ProgramStepValues>& program);

}  // namespace e2e
