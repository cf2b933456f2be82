#include "motion/MotionPreview.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "motion/NumberFormat.h"

namespace motion {

namespace {

std::string StepName(size_t index) {
    return "step " + std::to_string(index + 1) + ": ";
}

// A value that fixed point would show as 0 although it is not gets the exponent form.
std::string Number(double value, int decimals) {
    const bool tiny = value != 0 && std::fabs(value) < std::pow(10.0, -decimals);
    return FormatNumber(value, decimals, tiny ? 0 : kFixedBelow);
}

std::string Hz(double frequency) {
    return Number(frequency, 1) + " Hz";
}

// Warnings beyond kMaxWarnings are only counted: a program of 100,000 empty records must not
// make 100,000 lines of text.
class WarningList {
  public:
    explicit WarningList(std::vector<std::string>& out) : out_(out) {}
    void Finish() {
        if (dropped_ > 0)
            out_.push_back("and " + std::to_string(dropped_) + " more warning" +
                           (dropped_ == 1 ? "" : "s"));
    }
    void Add(std::string text) {
        if (out_.size() < TMotionPreview::kMaxWarnings)
            out_.push_back(std::move(text));
        else
            ++dropped_;
    }

  private:
    std::vector<std::string>& out_;
    int64_t dropped_ = 0;
};

// Halves the points, keeping of each neighbouring pair the faster one (peaks stay visible) and
// always the last point.
void Thin(std::vector<TMotionPreview::SpeedPoint>& plot) {
    size_t kept = 0;
    for (size_t i = 0; i + 1 < plot.size(); i += 2) {
        const bool second = std::fabs(plot[i + 1].Speed) > std::fabs(plot[i].Speed);
        plot[kept++] = plot[second ? i + 1 : i];
    }
    if (plot.size() % 2 == 1) plot[kept++] = plot.back();
    plot.resize(kept);
}

}  // namespace

std::string TMotionPreview::Seconds(double seconds) {
    if (!std::isfinite(seconds)) return "no end";
    return FormatNumber(seconds, 3) + " s";
}

std::string TMotionPreview::Motor::Summary() const {
    if (Empty) return "no program";
    const int64_t net = Net();
    return "right " + std::to_string(StepsRight) + ", left " + std::to_string(StepsLeft) +
           ", net " + (net > 0 ? "+" : "") + std::to_string(net) + "; one pass " +
           Seconds(PassSeconds) + (Loops ? ", loops" : "");
}

TMotionPreview::Motor TMotionPreview::Of(const TStepSchedule& schedule, bool hostTimed,
                                         double maxFrequency) {
    Motor motor;
    const std::vector<TsmProgramStep>& steps = schedule.ProgramSteps();
    motor.Empty = steps.empty();
    motor.Loops = schedule.Looping() && !motor.Empty;
    motor.PassSeconds = schedule.PassTime();
    const double limit = hostTimed ? kHostTimedLimit : kModuleTimedLimit;

    // The plot's share of each program step that is played: many program steps get fewer
    // points each (at least their first and last step), and Thin keeps the total bounded.
    size_t played = 0;
    for (const TsmProgramStep& step : steps) {
        if (step.Steps <= 0) continue;
        if (!TStepSchedule::Timed(step)) break;
        ++played;
    }
    const int64_t pointsPerStep =
        std::clamp<int64_t>(static_cast<int64_t>(kMaxPlotPoints / std::max<size_t>(played, 1)), 2,
                            kPointsPerProgramStep);
    motor.Plot.reserve(std::min(kMaxPlotPoints, played * static_cast<size_t>(pointsPerStep)));

    WarningList warnings(motor.Warnings);
    bool stepsInPass = false;
    for (size_t s = 0; s < steps.size(); ++s) {
        const TsmProgramStep& step = steps[s];
        if (step.Steps <= 0) {
            warnings.Add(StepName(s) + std::to_string(step.Steps) + " steps (passed over)");
            continue;
        }
        if (!TStepSchedule::Timed(step)) {
            if (step.Frequency < 0)
                warnings.Add(StepName(s) + Hz(step.Frequency) +
                             " is negative: the run stalls here");
            else if (step.Frequency > 0)
                warnings.Add(StepName(s) + Hz(step.Frequency) +
                             " is too slow to time: the run stalls here");
            else
                warnings.Add(StepName(s) + "0 Hz: the run stalls here");
            break;  // nothing after it is ever played
        }
        const std::string name = StepName(s);
        if (step.Frequency > limit) {
            warnings.Add(name + Hz(step.Frequency) + " is faster than " +
                         (hostTimed ? "the host can time: 1000 steps/s at most"
                                    : "the module can time: 7812.5 steps/s at most"));
        }
        if (hostTimed && maxFrequency > 0 && maxFrequency < step.Frequency) {
            warnings.Add(name + "the maximum frequency " + Hz(maxFrequency) + " slows its " +
                         Hz(step.Frequency));
        }
        if (TStepSchedule::RampIgnored(step)) {
            warnings.Add(name + "the start/stop time " + Number(step.RampTime, 3) +
                         " s gives no ramp that can be played: played without a ramp");
        }
        const bool right = step.Direction == kDirRight;
        const bool left = step.Direction == kDirLeft;
        if (right) motor.StepsRight += step.Steps;
        if (left) motor.StepsLeft += step.Steps;
        stepsInPass = true;

        // The speed at each step (1 / its period), sampled so that a long program step costs a
        // bounded number of points; its first and last step are always among them. 64-bit step
        // numbers: i + stride must not overflow near 2^31 steps.
        const double start = schedule.ProgramStepStart(static_cast<int32_t>(s));
        const double sign = right ? 1.0 : left ? -1.0 : 0.0;
        const int64_t count = step.Steps;
        const int64_t stride = std::max<int64_t>(1, count / pointsPerStep);
        for (int64_t i = 0; i < count; i += stride) {
            const int64_t k = i + stride >= count ? count - 1 : i;
            const int32_t index = static_cast<int32_t>(k);
            const double time = start + TStepSchedule::Offset(step, index);
            // A time beyond any double (a pass of more than 1e308 s) is off every axis.
            if (!std::isfinite(time)) break;
            const double speed =
                std::clamp(sign / TStepSchedule::Period(step, index),
                           -std::numeric_limits<double>::max(), std::numeric_limits<double>::max());
            motor.Plot.push_back({time, speed, static_cast<int32_t>(s)});
            if (motor.Plot.size() >= kMaxPlotPoints) Thin(motor.Plot);
            if (k == count - 1) break;
        }
    }
    if (motor.Loops && !stepsInPass) warnings.Add("loops without a step: the run ends at once");
    warnings.Finish();
    return motor;
}

void TMotionPreview::AddUsbLinkWarnings(std::array<Motor, 4>& motors,
                                        const std::array<double, 4>& maxFrequencies) {
    std::array<double, 4> fastest{};
    double together = 0;
    for (size_t m = 0; m < motors.size(); ++m) {
        for (const SpeedPoint& point : motors[m].Plot)
            fastest[m] = std::max(fastest[m], std::fabs(point.Speed));
        fastest[m] = std::min(fastest[m], kHostTimedLimit);
        if (maxFrequencies[m] > 0) fastest[m] = std::min(fastest[m], maxFrequencies[m]);
        together += fastest[m];
    }
    if (!(together > kUsbLinkReportsPerSecond)) return;
    for (size_t m = 0; m < motors.size(); ++m) {
        if (fastest[m] > 0)
            motors[m].Warnings.push_back(
                "the motors together reach " + Number(together, 1) +
                " steps/s, more than the USB link's 1000 reports/s: steps of different motors "
                "within one millisecond share a report and come late");
    }
}

TMotionPreview::Scales TMotionPreview::ScalesOf(const std::array<Motor, 4>& motors) {
    double time = 0, speed = 0;
    for (const Motor& motor : motors) {
        if (std::isfinite(motor.PassSeconds)) time = std::max(time, motor.PassSeconds);
        for (const SpeedPoint& point : motor.Plot) {
            time = std::max(time, point.Time);
            speed = std::max(speed, std::fabs(point.Speed));
        }
    }
    Scales scales;
    if (time > 0 && std::isfinite(time)) scales.Time = time;
    if (speed > 0 && std::isfinite(speed)) scales.Speed = speed;
    return scales;
}

std::string TMotionPreview::AxisText(const Scales& scales) {
    return "0 s ... " + Seconds(scales.Time) + ", +/- " + FormatNumber(scales.Speed, 0) +
           " steps/s";
}

double TMotionPreview::ElapsedSeconds(const TStepSchedule& schedule, RunPlace place) {
    const std::vector<TsmProgramStep>& steps = schedule.ProgramSteps();
    if (place.ProgramStep < 0) return 0;
    if (static_cast<size_t>(place.ProgramStep) >= steps.size()) return schedule.PassTime();
    const TsmProgramStep& step = steps[static_cast<size_t>(place.ProgramStep)];
    // The last step taken is step StepCounter - 1 of the program step; Offset clamps a counter
    // beyond its steps (the record was shortened) to its last one.
    const int32_t last = std::max(place.StepCounter, 1) - 1;
    return schedule.ProgramStepStart(place.ProgramStep) + TStepSchedule::Offset(step, last);
}

double TMotionPreview::SecondsLeft(const TStepSchedule& schedule, RunPlace place) {
    const double pass = schedule.PassTime();
    if (!std::isfinite(pass)) return std::numeric_limits<double>::infinity();
    return std::max(0.0, pass - ElapsedSeconds(schedule, place));
}

double TMotionPreview::ChainSecondsLeft(const std::array<Motor, 4>& motors, size_t running,
                                        double left) {
    for (size_t m = running + 1; m < motors.size(); ++m)
        if (!motors[m].Empty) left += motors[m].PassSeconds;
    return left;
}

std::string TMotionPreview::TimeLeft(double seconds) {
    if (!std::isfinite(seconds)) return "no end";
    return FormatNumber(seconds, 1) + " s left";
}

double TMotionPreview::ChainSeconds(const std::array<Motor, 4>& motors) {
    double total = 0;
    for (const Motor& motor : motors)
        if (!motor.Empty) total += motor.PassSeconds;
    return total;
}

}  // namespace motion
