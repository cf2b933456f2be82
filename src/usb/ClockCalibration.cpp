#include "usb/ClockCalibration.h"

#include <cmath>
#include <limits>

#include "motion/RoundHalfEven.h"

namespace usb {

int ClockCalibration::AddSample(double hostSeconds, double moduleTicks) {
    std::lock_guard lock(mutex_);
    samples_[clockSampleIndex_] = {hostSeconds, moduleTicks, true};
    clockSampleIndex_ = (clockSampleIndex_ + 1) % kSampleCount;
    samples_[clockSampleIndex_] = Sample{};

    // From the empty slot forwards to the oldest sample, then every neighbouring pair up to the
    // newest one (just before the empty slot).
    int oldest = (clockSampleIndex_ + 1) % kSampleCount;
    while (oldest != clockSampleIndex_ && !samples_[oldest].Filled)
        oldest = (oldest + 1) % kSampleCount;
    double sum = 0;
    int count = 0;
    for (int older = oldest; older != clockSampleIndex_;) {
        const int newer = (older + 1) % kSampleCount;
        if (newer == clockSampleIndex_) break;
        const double dt = samples_[newer].HostTime - samples_[older].HostTime;
        if (dt > 0) {
            sum += (samples_[newer].ModuleTime - samples_[older].ModuleTime) / dt;
            ++count;
        }
        older = newer;
    }
    ticksPerSecond_.store(count >= kPairsNeeded ? sum / count : kDefaultTicksPerSecond);
    return count;
}

void ClockCalibration::Clear() {
    std::lock_guard lock(mutex_);
    samples_.fill(Sample{});
    clockSampleIndex_ = 0;
}

int ClockCalibration::ClockSampleIndex() const {
    std::lock_guard lock(mutex_);
    return clockSampleIndex_;
}

int64_t ClockCalibration::SecondsToTicks(double seconds) const {
    const double ticks = motion::RoundHalfEven(TicksPerSecond() * seconds);
    if (std::isnan(ticks)) return 0;
    // 2^63 is exactly representable; anything at or beyond it does not fit.
    constexpr double kLimit = 9223372036854775808.0;
    if (ticks >= kLimit) return std::numeric_limits<int64_t>::max();
    if (ticks <= -kLimit) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(ticks);
}

double ClockCalibration::ModuleTicksAt(double hostSeconds) const {
    const double rate = TicksPerSecond();
    std::lock_guard lock(mutex_);
    double best = -1;
    for (const Sample& sample : samples_) {
        if (!sample.Filled) continue;
        const double estimate = sample.ModuleTime + (hostSeconds - sample.HostTime) * rate;
        if (estimate > best) best = estimate;
    }
    return best;
}

}  // namespace usb
