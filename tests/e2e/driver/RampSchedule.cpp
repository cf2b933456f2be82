#include "e2e/driver/RampSchedule.h"

#include <cmath>

namespace e2e {

double RampPeriod(const ProgramStepValues& step, int i) {
    const double f = step.Frequency, T = step.RampTime;
    const int N = step.Steps;
    if (T <= 0) return f != 0 ? 1.0 / f : 0.0;
    const double a = f / T;
    const int n = static_cast<int>(std::floor(0.5 * a * (T * T)));
    if (2 * i < N) {
        if (i < n) return std::sqrt(2.0 * (i + 1) / a) - std::sqrt(2.0 * i / a);
        return 1.0 / f;
    }
    if (i < N - n) return 1.0 / f;
    return std::sqrt(2.0 * (N - i) / a) - std::sqrt(2.0 * (N - i - 1) / a);
}

std::vector<ScheduledStep> RampSchedule(const std::vector<ProgramStepValues>& program) {
    std::vector<ScheduledStep> schedule;
    double t = 0;
    for (const ProgramStepValues& step : program) {
        for (int i = 0; i < step.Steps; ++i) {
            const double period = RampPeriod(step, i);
            if (step.Direction == 1 || step.Direction == 2) {
                schedule.push_back({t, period, step.Direction});
            } else if (!schedule.empty()) {
                // A pause lengthens the time to the next real step.
                schedule.back().Period += period;
            }
            t += period;
        }
    }
    return schedule;
}

}  // namespace e2e
