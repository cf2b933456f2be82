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
    // The pairs with host time passing between them are counted: the rate is trusted from
    // kPairsNeeded on.
    int count = 0;
    for (int i = oldest; i != clockSampleIndex_; i = (i + 1) % kSampleCount) {
        const int next = (i + 1) % kSampleCount;
        if (next != clockSampleIndex_ && samples_[next].HostTime - samples_[i].HostTime > 0)
            ++count;
    }

    // The rate itself comes from a longer baseline than the ring's quarter second: the
    // least-squares slope of module ticks over host seconds through every sample since the
    // first one after the emptying, taken relative to that first sample so that the sums keep
    // their precision. Each reading is off by the host clock's resolution and by how late the
    // receive thread read the report, a millisecond or so either way; over a baseline of L
    // seconds with n samples the slope's error shrinks as 1 / (L √n): about 0.005 % after 2 s of
    // reports every 8 ms, where the ring alone would give some 0.5 %. A burst of late reads
    // shifts a few samples, which the fit spreads over all of them.
    if (!fit_.anchored) {
        fit_ = Fit{};
        fit_.anchored = true;
        fit_.host0 = host;
        fit_.module0 = moduleTicks;
    }
    const double t = host - fit_.host0, m = moduleTicks - fit_.module0;
    fit_.n += 1;
    fit_.t += t;
    fit_.m += m;
    fit_.tt += t * t;
    fit_.tm += t * m;
    const double variance = fit_.tt - fit_.t * fit_.t / fit_.n;
    const double covariance = fit_.tm - fit_.t * fit_.m / fit_.n;
    ticksPerSecond_.store(count >= kPairsNeeded && variance > 0 ? covariance / variance
                                                                : kDefaultTicksPerSecond);
    return count;
}

void ClockCalibration::Clear() {
    std::lock_guard lock(mutex_);
    samples_.fill(Sample{});
    clockSampleIndex_ = 0;
    fit_ = Fit{};
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
