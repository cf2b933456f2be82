#include "e2e/driver/RampSchedule.h"

#include "motion/StepSchedule.h"

namespace e2e {

namespace {

motion::TsmProgramStep Step(const ProgramStepValues& step) {
    return {step.Steps, step.Frequency, step.RampTime, static_cast<uint8_t>(step.Direction)};
}

}  // namespace

double RampPeriod(const ProgramStepValues& step, int i) {
    return motion::TStepSchedule::Period(Step(step), i);
}

std::vector<ScheduledStep> RampSchedule(const std::vector<ProgramStepValues>& program) {
    std::vector<motion::TsmProgramStep> steps;
    for (const ProgramStepValues& step : program)
        steps.push_back(Step(step));
    std::vector<ScheduledStep> schedule;
    for (const auto& s : motion::TStepSchedule(steps).Steps()) {
        if (s.direction == motion::kDirLeft || s.direction == motion::kDirRight) {
            schedule.push_back({s.time, s.period, s.direction});
        } else if (!schedule.empty()) {
            // A pause lengthens the time to the next real step.
            schedule.back().Period += s.period;
        }
    }
    return schedule;
}

}  // namespace e2e
