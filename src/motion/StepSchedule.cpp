#include "motion/StepSchedule.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace motion {

namespace {

// The ramp's shape of a program step with a ramp: acceleration, and the step numbers where the
// plateau begins and where the deceleration begins. Doubles throughout, so that a huge f × T
// cannot overflow them.
struct Ramp {
    double a;           // steps per second squared
    double plateau;     // first step of the plateau (the accelerating steps come before)
    double decelerate;  // first decelerating step
};

Ramp RampOf(const TsmProgramStep& step) {
    const double f = step.Frequency;
    const double t = step.RampTime;
    const double a = f / t;
    const double n = std::floor(0.5 * a * (t * t));
    const double steps = step.Steps;
    // Steps i with 2i < N belong to the first half: i < ceil(N / 2).
    const double half = std::floor((steps + 1) / 2);
    return {a, std::min(n, half), std::max(half, steps - n)};
}

}  // namespace

double TStepSchedule::Period(const TsmProgramStep& step, int32_t i) {
    const double f = step.Frequency;
    const double t = step.RampTime;
    // Without a ramp, and with a ramp towards 0 Hz (where the formula would divide by 0),
    // f = 0 gives period 0: no further step is timed.
    if (f == 0) return 0;
    if (!(t > 0)) return 1 / f;

    const double a = f / t;
    const double n = std::floor(0.5 * a * (t * t));
    const double steps = step.Steps;
    const double k = i;
    if (2 * k < steps) {
        if (k < n) return std::sqrt(2 * (k + 1) / a) - std::sqrt(2 * k / a);
        return 1 / f;
    }
    if (k < steps - n) return 1 / f;
    return std::sqrt(2 * (steps - k) / a) - std::sqrt(2 * (steps - k - 1) / a);
}

double TStepSchedule::Offset(const TsmProgramStep& step, int32_t i) {
    if (i <= 0 || step.Steps <= 0) return 0;
    if (!Timed(step)) return 0;
    const double k = std::min(i, step.Steps);
    const double f = step.Frequency;
    if (!(step.RampTime > 0)) return k / f;

    const Ramp r = RampOf(step);
    // Each phase's periods telescope: the accelerating ones sum to √(2k/a), the decelerating
    // ones from step d on to √(2(N−d)/a) − √(2(N−k)/a).
    double t = std::sqrt(2 * std::min(k, r.plateau) / r.a);
    if (k > r.plateau) t += (std::min(k, r.decelerate) - r.plateau) / f;
    if (k > r.decelerate) {
        const double steps = step.Steps;
        t += std::sqrt(2 * (steps - r.decelerate) / r.a) - std::sqrt(2 * (steps - k) / r.a);
    }
    return t;
}

double TStepSchedule::Duration(const TsmProgramStep& step) {
    return Offset(step, step.Steps);
}

bool TStepSchedule::Timed(const TsmProgramStep& step) {
    return step.Steps <= 0 || step.Frequency > 0;
}

TStepSchedule::TStepSchedule(std::vector<TsmProgramStep> steps, bool looping)
    : steps_(std::move(steps)), looping_(looping) {
    double t = 0;
    timedSteps_ = static_cast<int32_t>(steps_.size());
    for (size_t s = 0; s < steps_.size(); ++s) {
        starts_.push_back(t);
        if (!Timed(steps_[s])) {
            timedSteps_ = std::min<int32_t>(timedSteps_, static_cast<int32_t>(s));
            t = std::numeric_limits<double>::infinity();
            continue;
        }
        t += Duration(steps_[s]);
    }
    passTime_ = t;
}

TStepSchedule TStepSchedule::Of(const TsmProgram& program) {
    std::vector<TsmProgramStep> steps;
    steps.reserve(static_cast<size_t>(program.Count()));
    for (int32_t i = 0; i < program.Count(); ++i)
        steps.push_back(program.Items(i));
    return TStepSchedule(std::move(steps), program.Looping);
}

double TStepSchedule::ProgramStepStart(int32_t programStep) const {
    if (programStep < 0) return 0;
    if (static_cast<size_t>(programStep) >= starts_.size()) return passTime_;
    return starts_[static_cast<size_t>(programStep)];
}

std::vector<TStepSchedule::ScheduledStep> TStepSchedule::Steps(int32_t passes) const {
    std::vector<ScheduledStep> out;
    if (!looping_) passes = std::min(passes, 1);
    bool stalled = false;
    for (int32_t pass = 0; pass < passes && !stalled; ++pass) {
        const double passStart = pass == 0 ? 0 : pass * passTime_;  // 0 × inf is NaN
        size_t before = out.size();
        for (size_t s = 0; s < steps_.size(); ++s) {
            const TsmProgramStep& step = steps_[s];
            if (static_cast<int32_t>(s) >= timedSteps_ && step.Steps > 0) {
                stalled = true;
                break;
            }
            for (int32_t i = 0; i < step.Steps; ++i) {
                out.push_back({passStart + starts_[s] + Offset(step, i), Period(step, i),
                               static_cast<int32_t>(s), i, pass, step.Direction});
            }
        }
        if (out.size() == before) break;  // a pass without a step ends the run
    }
    return out;
}

std::vector<TStepSchedule::ScheduledStep> TStepSchedule::MovingSteps(int32_t passes) const {
    std::vector<ScheduledStep> out = Steps(passes);
    std::erase_if(out, [](const ScheduledStep& s) {
        return s.direction != kDirLeft && s.direction != kDirRight;
    });
    return out;
}

}  // namespace motion
