// Feeds arbitrary bytes to the project file reader, and every program it reads to the ideal
// schedule and the motion preview. Beyond "no crash, no leak, no overrun, no undefined
// behaviour" it checks what must hold for any input:
// - each program list has exactly as many rows as its program has steps, and every text it
//   shows is printable;
// - a project written, read back into a fresh project and written again gives the same text
//   (the writer's two-decimal numbers survive a read unchanged);
// - every step of a program step with a positive frequency has a finite, positive period (only
//   a frequency whose period overflows a double is not timed: the run stalls there), and its
//   step times never go back;
// - the preview of every program, for host-timed and module-timed ports, has a bounded plot of
//   finite points, a bounded list of warnings, and printable texts.
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "motion/MotionPreview.h"
#include "motion/StepSchedule.h"
#include "project/ProjectModel.h"
#include "project/ProjectReader.h"
#include "project/ProjectWriter.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

void CheckPrintable(const std::string& text) {
    for (const char c : text)
        Check((c >= 0x20 && c < 0x7F) || c == '\r' || c == '\n');
}

void CheckListsMatchPrograms(const project::ProjectModel& model) {
    for (const auto& motor : model.Motors) {
        Check(motor.List.Count() == motor.Program.Count());
        Check(motor.LoopCheckBox == motor.Program.Looping);
    }
}

void CheckPeriods(const motion::TsmProgramStep& step) {
    if (step.Steps <= 0) return;
    if (!motion::TStepSchedule::Timed(step)) {
        // Not timed: no frequency, a negative one, or one whose period does not fit a double.
        Check(!(step.Frequency > 0) || !std::isfinite(1 / step.Frequency));
        return;
    }
    const int32_t n = step.Steps;
    const std::set<int32_t> sampled{0, 1, n / 2 - 1, n / 2, n / 2 + 1, n - 2, n - 1};
    double last = 0;
    for (const int32_t i : sampled) {
        if (i < 0 || i >= n) continue;
        const double period = motion::TStepSchedule::Period(step, i);
        Check(std::isfinite(period) && period > 0);
        const double offset = motion::TStepSchedule::Offset(step, i);
        Check(!std::isnan(offset) && offset >= last);
        last = offset;
    }
}

void CheckSchedule(const motion::TStepSchedule& schedule) {
    int64_t total = 0;
    for (const motion::TsmProgramStep& step : schedule.ProgramSteps()) {
        CheckPeriods(step);
        if (step.Steps > 0) total += step.Steps;
    }
    Check(!std::isnan(schedule.PassTime()) && schedule.PassTime() >= 0);
    // Step by step where that stays small: every listed step timed, in order.
    if (total > 20000) return;
    double last = 0;
    for (const auto& s : schedule.Steps(2)) {
        Check(std::isfinite(s.period) && s.period > 0);
        Check(!std::isnan(s.time) && s.time >= last);
        last = s.time;
    }
}

void CheckPreview(const motion::TStepSchedule& schedule) {
    std::array<motion::TMotionPreview::Motor, 4> motors;
    for (const bool hostTimed : {true, false}) {
        motors[hostTimed ? 0 : 1] = motion::TMotionPreview::Of(schedule, hostTimed, 1000.0);
        const motion::TMotionPreview::Motor& motor = motors[hostTimed ? 0 : 1];
        Check(motor.Plot.size() <= motion::TMotionPreview::kMaxPlotPoints);
        for (const auto& point : motor.Plot)
            Check(std::isfinite(point.Time) && std::isfinite(point.Speed) && point.Time >= 0);
        Check(motor.Warnings.size() <= motion::TMotionPreview::kMaxWarnings + 1);
        for (const std::string& warning : motor.Warnings)
            CheckPrintable(warning);
        CheckPrintable(motor.Summary());
    }
    const auto scales = motion::TMotionPreview::ScalesOf(motors);
    Check(std::isfinite(scales.Time) && scales.Time > 0);
    Check(std::isfinite(scales.Speed) && scales.Speed > 0);
    CheckPrintable(motion::TMotionPreview::AxisText(scales));
    CheckPrintable(motion::TMotionPreview::Seconds(motion::TMotionPreview::ChainSeconds(motors)));

    // A run's place anywhere in the program, also beyond it: its time on the schedule never goes
    // back as the run goes on, and its time left is a number (or "no end").
    double last = 0;
    const auto steps = static_cast<int32_t>(schedule.ProgramSteps().size());
    for (int32_t s = 0; s <= steps; ++s) {
        const int32_t count = s < steps ? schedule.ProgramSteps()[static_cast<size_t>(s)].Steps : 0;
        const int32_t past = count < std::numeric_limits<int32_t>::max() ? count + 1 : count;
        for (const int32_t c : {0, 1, count / 2, count, past}) {
            const motion::TMotionPreview::RunPlace place{s, c};
            const double elapsed = motion::TMotionPreview::ElapsedSeconds(schedule, place);
            Check(!std::isnan(elapsed) && elapsed >= last);
            last = elapsed;
            const double left = motion::TMotionPreview::SecondsLeft(schedule, place);
            Check(!std::isnan(left) && left >= 0);
            CheckPrintable(motion::TMotionPreview::TimeLeft(
                motion::TMotionPreview::ChainSecondsLeft(motors, 0, left)));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    project::ProjectModel model;
    project::ReadProjectText(text, model);
    CheckListsMatchPrograms(model);
    for (const auto& motor : model.Motors) {
        for (int32_t i = 0; i < motor.List.Count(); ++i) {
            for (int column = 0; column < project::ProgramListModel::kColumnCount; ++column) {
                Check(!motor.List.Text(i, column).empty());
                CheckPrintable(motor.List.Text(i, column));
            }
        }
        const motion::TStepSchedule schedule = motion::TStepSchedule::Of(motor.Program);
        CheckSchedule(schedule);
        CheckPreview(schedule);
    }

    const std::string written = project::WriteProjectText(model);
    project::ProjectModel reread;
    project::ReadProjectText(written, reread);
    CheckListsMatchPrograms(reread);
    Check(project::WriteProjectText(reread) == written);
    return 0;
}
