#include "motion/MotionPreview.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace motion {

namespace {

std::string Number(double value, int decimals) {
    char text[64];
    const auto end =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals).ptr;
    return std::string(text, end);
}

std::string StepName(size_t index) {
    return "step " + std::to_string(index + 1) + ": ";
}

}  // namespace

std::string TMotionPreview::Seconds(double seconds) {
    if (!std::isfinite(seconds)) return "no end";
    return Number(seconds, 3) + " s";
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
    bool stepsInPass = false;
    for (size_t s = 0; s < steps.size(); ++s) {
        const TsmProgramStep& step = steps[s];
        const std::string name = StepName(s);
        if (step.Steps <= 0) {
            motor.Warnings.push_back(name + "0 steps (passed over)");
            continue;
        }
        if (!(step.Frequency > 0)) {
            motor.Warnings.push_back(name + "0 Hz: the run stalls here");
            break;  // nothing after it is ever played
        }
        if (step.Frequency > limit) {
            motor.Warnings.push_back(name + Number(step.Frequency, 1) + " Hz is faster than " +
                                     (hostTimed ? "the host can time: 1000 steps/s at most"
                                                : "the module can time: 7812.5 steps/s at most"));
        }
        if (hostTimed && maxFrequency > 0 && maxFrequency < step.Frequency) {
            motor.Warnings.push_back(name + "the maximum frequency " + Number(maxFrequency, 1) +
                                     " Hz slows its " + Number(step.Frequency, 1) + " Hz");
        }
        const bool right = step.Direction == kDirRight;
        const bool left = step.Direction == kDirLeft;
        if (right) motor.StepsRight += step.Steps;
        if (left) motor.StepsLeft += step.Steps;
        stepsInPass = true;

        // The speed at each step (1 / its period), sampled so that a long program step costs a
        // bounded number of points; its first and last step are always among them.
        const double start = schedule.ProgramStepStart(static_cast<int32_t>(s));
        const double sign = right ? 1.0 : left ? -1.0 : 0.0;
        const int32_t stride = std::max<int32_t>(1, step.Steps / kPointsPerProgramStep);
        for (int32_t i = 0; i < step.Steps; i += stride) {
            const int32_t k = i + stride >= step.Steps ? step.Steps - 1 : i;
            motor.Plot.push_back({start + TStepSchedule::Offset(step, k),
                                  sign / TStepSchedule::Period(step, k), static_cast<int32_t>(s)});
            if (k == step.Steps - 1) break;
        }
    }
    if (motor.Loops && !stepsInPass)
        motor.Warnings.push_back("loops without a step: the run ends at once");
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

double TMotionPreview::ChainSeconds(const std::array<Motor, 4>& motors) {
    double total = 0;
    for (const Motor& motor : motors)
        if (!motor.Empty) total += motor.PassSeconds;
    return total;
}

}  // namespace motion
