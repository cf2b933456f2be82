#include "usb/ClockCalibration.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "motion/RoundHalfEven.h"

namespace usb {

double ClockCalibration::Unwrapped(double hostSeconds) const {
    const double t = hostSeconds + wrapOffset_;
    return t < latestHost_ - kHostWrapSeconds / 2 ? t + kHostWrapSeconds : t;
}

int ClockCalibration::AddSample(double hostSeconds, double moduleTicks) {
    std::lock_guard lock(mutex_);
    double host = hostSeconds + wrapOffset_;
    if (host < latestHost_ - kHostWrapSeconds / 2) {  // the tick count has wrapped
        wrapOffset_ += kHostWrapSeconds;
        host += kHostWrapSeconds;
    }
    latestHost_ = std::max(latestHost_, host);
    samples_[clockSampleIndex_] = {host, moduleTicks, true};
    clockSampleIndex_ = (clockSampleIndex_ + 1) % kSampleCount;
    samples_[clockSampleIndex_] = Sample{};

    // From the empty slot forwards to the oldest sample, then every neighbouring pair up to the
    // newest one (just before the empty slot).
    int oldest = (clockSampleIndex_ + 1) % kSampleCount;
    while (oldest != clockSampleIndex_ && !samples_[oldest].Filled)
        oldest = (oldest + 1) % kSampleCount;
    // The pairs with host time passing between them are counted; the rate is the least-squares
    // slope of module ticks over host time through every sample. For evenly read reports that is
    // the mean of the pairs' rates, but a report read late (a busy receive thread, the host
    // clock's millisecond steps) leaves its pair almost no host time and a huge rate: a burst of
    // late reads once made that mean several times too high. The fitted line spreads each late
    // read over all samples.
    int count = 0;
    int filled = 0;
    double hostSum = 0, moduleSum = 0;
    for (int i = oldest; i != clockSampleIndex_; i = (i + 1) % kSampleCount) {
        const int next = (i + 1) % kSampleCount;
        if (next != clockSampleIndex_ && samples_[next].HostTime - samples_[i].HostTime > 0)
            ++count;
        hostSum += samples_[i].HostTime;
        moduleSum += samples_[i].ModuleTime;
        ++filled;
    }
    double covariance = 0, variance = 0;
    if (filled > 0) {
        const double hostMean = hostSum / filled, moduleMean = moduleSum / filled;
        for (int i = oldest; i != clockSampleIndex_; i = (i + 1) % kSampleCount) {
            const double dt = samples_[i].HostTime - hostMean;
            covariance += dt * (samples_[i].ModuleTime - moduleMean);
            variance += dt * dt;
        }
    }
    ticksPerSecond_.store(count >= kPairsNeeded && variance > 0 ? covariance / variance
                                                                : kDefaultTicksPerSecond);
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
    hostSeconds = Unwrapped(hostSeconds);
    double best = -1;
    for (const Sample& sample : samples_) {
        if (!sample.Filled) continue;
        const double estimate = sample.ModuleTime + (hostSeconds - sample.HostTime) * rate;
        if (estimate > best) best = estimate;
    }
    return best;
}

}  // namespace usb
