#include "e2e/driver/ModulePlayback.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace e2e {

namespace {

// Gray code: the phase after a step from phase in direction (1 left, 2 right).
int NextPhase(int phase, int direction) {
    static constexpr int kRight[4] = {1, 3, 0, 2};  // 0->1->3->2->0
    static constexpr int kLeft[4] = {2, 0, 3, 1};   // 0->2->3->1->0
    return direction == 2 ? kRight[phase & 3] : kLeft[phase & 3];
}

}  // namespace

std::vector<int> ReportBytes(const TraceLine& line) {
    std::vector<int> bytes;
    if (line.Motor != -1) return bytes;
    std::istringstream in(line.Last);
    std::string hex;
    while (in >> hex)
        bytes.push_back(static_cast<int>(std::strtol(hex.c_str(), nullptr, 16)));
    return bytes;
}

int SegmentSteps(const std::vector<TraceLine>& trace, int motor) {
    int steps = 0;
    for (const TraceLine& line : trace) {
        const std::vector<int> bytes = ReportBytes(line);
        if (bytes.size() == 16 && bytes[1] == motor * 16)
            steps += (bytes[3] & 0x80) != 0 ? bytes[4] : 1;
    }
    return steps;
}

PlaybackFigures ComparePlayback(const std::vector<TraceLine>& trace, int motor,
                                const std::vector<ScheduledStep>& schedule) {
    PlaybackFigures f;
    f.Scheduled = static_cast<int>(schedule.size());
    std::vector<size_t> steps;  // trace indices of the motor's steps
    struct Arrival {
        size_t Line;
        int Steps;
    };
    std::vector<Arrival> arrivals;
    for (size_t i = 0; i < trace.size(); ++i) {
        if (trace[i].Motor == motor) steps.push_back(i);
        const std::vector<int> bytes = ReportBytes(trace[i]);
        if (bytes.size() == 16 && bytes[1] == motor * 16)
            arrivals.push_back({i, (bytes[3] & 0x80) != 0 ? bytes[4] : 1});
    }
    f.Played = static_cast<int>(steps.size());
    f.Segments = static_cast<int>(arrivals.size());
    const size_t n = std::min(steps.size(), schedule.size());
    if (n == 0) return f;
    auto tick = [&](size_t k) { return static_cast<double>(trace[steps[k]].Tick); };
    auto ticksBetween = [&](size_t a, size_t b) {
        return (schedule[b].Time - schedule[a].Time) * kModuleTicksPerSecond;
    };

    for (size_t k = 0; k < n; ++k) {
        const TraceLine& step = trace[steps[k]];
        if (step.Direction != schedule[k].Direction) f.InOrder = false;
        if (k == 0) continue;
        const TraceLine& before = trace[steps[k - 1]];
        if (step.Phase != NextPhase(before.Phase, step.Direction)) f.InOrder = false;
        if (step.Position != before.Position + (step.Direction == 2 ? 1 : -1)) f.InOrder = false;
    }

    // The first step of each segment; a segment that arrived after every step sent before it
    // had been played met an idle motor and begins a stretch.
    std::vector<bool> segmentStart(n, false);
    std::vector<size_t> stretchStarts{0};
    size_t first = 0;
    for (const Arrival& a : arrivals) {
        if (first >= n) break;
        segmentStart[first] = true;
        if (first > 0 && steps[first - 1] < a.Line) stretchStarts.push_back(first);
        first += static_cast<size_t>(a.Steps);
    }
    f.Stretches = static_cast<int>(stretchStarts.size());
    stretchStarts.push_back(n);

    bool scaled = false;
    double lastScale = 1;
    for (size_t s = 0; s + 1 < stretchStarts.size(); ++s) {
        const size_t a = stretchStarts[s], b = stretchStarts[s + 1] - 1;
        double scale = lastScale;
        if (b >= a + 2 && ticksBetween(a, b) > 0) {
            scale = (tick(b) - tick(a)) / ticksBetween(a, b);
            f.MinScale = scaled ? std::min(f.MinScale, scale) : scale;
            f.MaxScale = scaled ? std::max(f.MaxScale, scale) : scale;
            scaled = true;
        }
        double rounding = 0, segments = 0;
        for (size_t k = a; k <= b + 1 && k < n; ++k) {
            const double expected = tick(a) + scale * ticksBetween(a, k);
            const double allowed = rounding + segments + 2 + kDriftShare * ticksBetween(a, k);
            if (k == b + 1) {
                // The next stretch's first step: late is an underrun, early is a fault.
                const double early = expected - allowed - kHostClockTicks - tick(k);
                if (early > 0) {
                    f.NeverEarly = false;
                    f.Early = std::max(f.Early, early);
                }
                break;
            }
            const double residual = std::fabs(tick(k) - expected);
            f.MaxResidual = std::max(f.MaxResidual, residual);
            f.WorstShare = std::max(f.WorstShare, residual / allowed);
            if (segmentStart[k]) segments += 0.5;
            const double period = schedule[k].Period * kModuleTicksPerSecond;
            rounding += std::fabs(std::round(period) - period);
        }
        lastScale = scale;
    }
    return f;
}

}  // namespace e2e
