#include "TimingFigures.h"

#include <algorithm>
#include <cmath>

#include "e2e/driver/ModulePlayback.h"
#include "motion/StepSchedule.h"

namespace bench {

double Percentile(std::vector<double> values, double share) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const double rank = std::ceil(share * static_cast<double>(values.size()));
    const size_t index = rank < 1 ? 0 : static_cast<size_t>(rank) - 1;
    return values[std::min(index, values.size() - 1)];
}

PortMotorTiming PortTiming(const std::vector<e2e::TraceLine>& trace, int motor, double periodMs) {
    PortMotorTiming t;
    std::vector<double> intervalsMs;
    bool first = true;
    uint64_t previous = 0;
    for (const e2e::TraceLine& line : trace) {
        if (line.Motor != motor) continue;
        // A fault line names the motor too, with direction 0: the lines held a jump, no step.
        if (line.Last == "fault") {
            ++t.Faults;
            continue;
        }
        if (!line.Last.empty() || (line.Direction != 1 && line.Direction != 2)) continue;
        ++t.Traced;
        if (!first) {
            const double ms = static_cast<double>(line.Tick - previous) / 1000.0;
            intervalsMs.push_back(ms);
            t.DeviationsMs.push_back(std::fabs(ms - periodMs));
        }
        first = false;
        previous = line.Tick;
    }
    t.MedianIntervalMs = Percentile(intervalsMs, 0.5);
    return t;
}

PortScheduleTiming PortSchedule(const std::vector<e2e::TraceLine>& trace, int motor,
                                const std::vector<motion::TsmProgramStep>& program) {
    PortScheduleTiming t;
    const auto ideal = motion::TStepSchedule(program).MovingSteps();
    std::vector<double> tracedMs;
    for (const e2e::TraceLine& line : trace) {
        if (line.Motor != motor || !line.Last.empty()) continue;
        if (line.Direction != 1 && line.Direction != 2) continue;
        tracedMs.push_back(static_cast<double>(line.Tick) / 1000.0);  // microseconds
    }
    t.Traced = static_cast<int>(tracedMs.size());
    t.Programmed = static_cast<int>(ideal.size());
    const size_t n = std::min(tracedMs.size(), ideal.size());
    if (n == 0) return t;
    double sumII = 0, sumIT = 0;
    for (size_t k = 0; k < n; ++k) {
        const double idealMs = (ideal[k].time - ideal[0].time) * 1000;
        const double playedMs = tracedMs[k] - tracedMs[0];
        sumII += idealMs * idealMs;
        sumIT += idealMs * playedMs;
        t.AbsErrorsMs.push_back(std::fabs(playedMs - idealMs));
    }
    t.RateErrPct = sumII > 0 ? 100 * std::fabs(sumIT / sumII - 1) : 0;
    return t;
}

ModuleStalls CountStalls(const std::vector<e2e::TraceLine>& trace, int motor,
                         const std::vector<e2e::ScheduledStep>& schedule) {
    ModuleStalls s;
    size_t sent = 0, played = 0;
    int segments = 0;
    uint64_t lastTick = 0, beforeLastTick = 0;
    for (const e2e::TraceLine& line : trace) {
        if (line.Motor == motor) {
            ++played;
            beforeLastTick = lastTick;
            lastTick = line.Tick;
            continue;
        }
        const std::vector<int> bytes = e2e::ReportBytes(line);
        if (bytes.size() != 16 || bytes[1] != motor * 16) continue;
        if (segments > 0 && played >= sent && played >= 1) {
            ++s.IdleArrivals;
            const size_t last = played - 1;
            // More played than scheduled is told by the lost steps; nothing to judge here.
            if (last < schedule.size()) {
                double scale = kStallScaleLow;
                if (last >= 1 && schedule[last - 1].Period > 0) {
                    scale = static_cast<double>(lastTick - beforeLastTick) /
                            (schedule[last - 1].Period * e2e::kModuleTicksPerSecond);
                    scale = std::clamp(scale, kStallScaleLow, kStallScaleHigh);
                }
                const double due = static_cast<double>(lastTick) +
                                   schedule[last].Period * e2e::kModuleTicksPerSecond * scale +
                                   kStallToleranceTicks;
                if (static_cast<double>(line.Tick) > due) ++s.Underruns;
            }
        }
        sent += (bytes[3] & 0x80) != 0 ? static_cast<size_t>(bytes[4]) : 1;
        ++segments;
    }
    return s;
}

}  // namespace bench
