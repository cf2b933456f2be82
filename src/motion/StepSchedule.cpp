#include "motion/StepSchedule.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

namespace motion {

namespace {

// The ramp's shape of a program step that is played with a ramp: acceleration, and the step
// numbers where the plateau begins and where the deceleration begins. Doubles throughout, so that
// a huge f × T cannot overflow them.
struct Ramp {
    double a;           // steps per second squared
    double n;           // accelerating (and decelerating) steps, Floor(0.5 × a × T²)
    double plateau;     // first step of the plateau (the accelerating steps come before)
    double decelerate;  // first decelerating step
};

// A frequency whose period fits a double: positive and not so small that 1/f overflows.
bool FrequencyTimed(double f) {
    return f > 0 && std::isfinite(1 / f);
}

// Whether the program step is played with its ramp. A ramp whose numbers cannot give finite,
// positive periods (f/T overflows, as for T = 1e-320 s, or is so small that 2N/a overflows) is
// played as no ramp: every step at 1/f. Period, Offset and Duration all ask this one question,
// so a host-timed run, the module's streaming and the preview play such a step alike.
std::optional<Ramp> RampOf(const TsmProgramStep& step) {
    const double f = step.Frequency;
    const double t = step.RampTime;
    if (!(t > 0) || !FrequencyTimed(f)) return std::nullopt;
    const double a = f / t;
    if (!(a > 0) || !std::isfinite(a)) return std::nullopt;
    const double steps = step.Steps;
    // The longest accelerating period is the first, √(2/a); the ramp's sums reach √(2N/a).
    if (!std::isfinite(std::sqrt(2 * std::max(steps, 1.0) / a))) return std::nullopt;
    const double n = std::floor(0.5 * a * (t * t));
    if (std::isnan(n)) return std::nullopt;
    // Steps i with 2i < N belong to the first half: i < ceil(N / 2).
    const double half = std::floor((steps + 1) / 2);
    return Ramp{a, n, std::min(n, half), std::max(half, steps - n)};
}

}  // namespace

double TStepSchedule::Period(const TsmProgramStep& step, int32_t i) {
    const double f = step.Frequency;
    // Without a frequency (0, or one whose period overflows) the period is 0: no further step
    // is timed. A negative frequency gives its negative period, which no timer arms either.
    if (!FrequencyTimed(f)) return f < 0 ? 1 / f : 0;
    const std::optional<Ramp> r = RampOf(step);
    if (!r) return 1 / f;

    const double a = r->a;
    const double n = r->n;
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
    const std::optional<Ramp> ramp = RampOf(step);
    if (!ramp) return k / f;

    const Ramp& r = *ramp;
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
    return step.Steps <= 0 || FrequencyTimed(step.Frequency);
}

bool TStepSchedule::RampIgnored(const TsmProgramStep& step) {
    return step.Steps > 0 && step.RampTime > 0 && FrequencyTimed(step.Frequency) &&
           !RampOf(step).has_value();
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
                // The time within the pass first: a pass start far larger than it would round
                // each program step's start apart from its steps, and times could go back.
                out.push_back({passStart + (starts_[s] + Offset(step, i)), Period(step, i),
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
