#include "usb/ClockCalibration.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "motion/RoundHalfEven.h"

namespace usb {

ClockCalibration::ClockCalibration() {
    points_.reserve(kFitCapacity);
    hull_.reserve(kFitCapacity);
}

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

    if (!fit_.anchored) {
        fit_ = Fit{};
        fit_.anchored = true;
        fit_.host0 = host;
        fit_.module0 = moduleTicks;
        fit_.lastHost = host;
        points_.clear();
    }
    const double passed = host - fit_.lastHost;
    if (passed > 0 && (fit_.hostStep == 0 || passed < fit_.hostStep)) fit_.hostStep = passed;
    fit_.lastHost = host;
    KeepFitSample({host - fit_.host0, moduleTicks - fit_.module0});
    const bool trusted =
        count >= kPairsNeeded || (fit_.arrived > static_cast<uint64_t>(kPairsNeeded) &&
                                  points_.back().t - points_.front().t >= kTrustedSpanSeconds);
    const double rate = trusted ? EnvelopeRate() : 0;
    ticksPerSecond_.store(rate > 0 ? rate : kDefaultTicksPerSecond);
    fit_.envelopeOffset = SupportOffset(TicksPerSecond());
    return count;
}

void ClockCalibration::KeepFitSample(Point p) {
    // Host time never runs back on the fit's line (a clock that did would only be a fault).
    if (!points_.empty()) p.t = std::max(p.t, points_.back().t);
    if (fit_.arrived++ % fit_.stride != 0) return;
    if (points_.size() == kFitCapacity) {
        size_t kept = 0;
        for (size_t i = 0; i < points_.size(); i += 2)
            points_[kept++] = points_[i];
        points_.resize(kept);
        fit_.stride *= 2;
    }
    points_.push_back(p);
}

double ClockCalibration::EnvelopeRate() {
    // The upper hull, left to right (the samples are in order of host time): a sample below the
    // segment from the one before it to the new one is no corner of the envelope.
    hull_.clear();
    for (const Point& p : points_) {
        if (!hull_.empty() && hull_.back().t == p.t) {
            if (hull_.back().m >= p.m) continue;  // the same arrival, made earlier: later read
            hull_.pop_back();
        }
        while (hull_.size() >= 2) {
            const Point& a = hull_[hull_.size() - 2];
            const Point& b = hull_.back();
            // b lies on or below the line from a to p.
            if ((b.m - a.m) * (p.t - a.t) <= (p.m - a.m) * (b.t - a.t)) {
                hull_.pop_back();
            } else {
                break;
            }
        }
        hull_.push_back(p);
    }
    // Least squares through the samples within the band below the hull, the newest of each
    // host time.
    const double band = (kEnvelopeBandSeconds + fit_.hostStep) * kDefaultTicksPerSecond;
    // The hull ends at the newest sample whatever its delay; the line of the rate so far through
    // the least delayed sample tells a late newest one (the last of a burst) as well.
    const double rate = ticksPerSecond_.load();
    const double offset = SupportOffset(rate);
    double n = 0, st = 0, sm = 0, stt = 0, stm = 0;
    double first = 1e300, last = -1e300;
    size_t edge = 0;
    for (size_t i = 0; i < points_.size(); ++i) {
        const Point& p = points_[i];
        if (i + 1 < points_.size() && points_[i + 1].t == p.t) continue;
        while (edge + 1 < hull_.size() && hull_[edge + 1].t < p.t)
            ++edge;
        double envelope = hull_[edge].m;
        if (edge + 1 < hull_.size() && p.t > hull_[edge].t) {
            const Point& a = hull_[edge];
            const Point& b = hull_[edge + 1];
            envelope = a.m + (b.m - a.m) * (p.t - a.t) / (b.t - a.t);
        }
        envelope = std::max(envelope, offset + rate * p.t);
        if (envelope - p.m > band) continue;
        first = std::min(first, p.t);
        last = std::max(last, p.t);
        n += 1;
        st += p.t;
        sm += p.m;
        stt += p.t * p.t;
        stm += p.t * p.m;
    }
    // Reports read late for a long while and then at once (a loaded host that gets the
    // processor back) leave only the newest near the envelope, or a few milliseconds of
    // samples: that is no rate, and falling back to the nominal one would throw away a good
    // fit. Once a rate has been fitted, it holds until the samples near the envelope span half
    // the fit's time again.
    if (fit_.fitted && (n < 2 || last - first < 0.5 * (points_.back().t - points_.front().t)))
        return rate;
    if (n < 2) return 0;
    fit_.fitted = true;
    const double variance = stt - st * st / n;
    const double covariance = stm - st * sm / n;
    return variance > 0 ? covariance / variance : 0;
}

void ClockCalibration::Clear() {
    std::lock_guard lock(mutex_);
    samples_.fill(Sample{});
    clockSampleIndex_ = 0;
    fit_ = Fit{};
    points_.clear();
}

double ClockCalibration::SupportOffset(double rate) const {
    double offset = -1e300;
    for (const Point& p : points_)
        offset = std::max(offset, p.m - rate * p.t);
    return offset;
}

double ClockCalibration::EnvelopeTicksAt(double hostSeconds) const {
    const double rate = TicksPerSecond();
    std::lock_guard lock(mutex_);
    if (points_.empty()) return -1;
    return fit_.module0 + fit_.envelopeOffset + rate * (Unwrapped(hostSeconds) - fit_.host0);
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
