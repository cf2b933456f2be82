#include "usb/SegmentPlanner.h"

#include <algorithm>
#include <cmath>

namespace usb {

namespace {

int64_t Round(double ticks) {
    return static_cast<int64_t>(std::llround(ticks));
}

}  // namespace

void SegmentPlanner::Reset() {
    *this = SegmentPlanner{};
}

int64_t SegmentPlanner::ChosenPeriod() const {
    // Of the whole-tick periods that keep every step so far within the bound, the one nearest
    // to the steps' mean ideal interval: the intervals stay as even as the schedule's.
    const double lowest = std::ceil(low_), highest = std::floor(high_);
    const double target =
        segment_.steps > 1 ? (lastIdealOpen_ - firstIdeal_) / (segment_.steps - 1) : firstPeriod_;
    return static_cast<int64_t>(std::clamp(std::round(target), lowest, highest));
}

void SegmentPlanner::Narrowed(double t, double& low, double& high) const {
    // Step k at s + k·p within the bound of t; and p within kIntervalTicks of the ideal
    // interval before t, so that the played intervals follow the schedule's as closely as whole
    // ticks allow (a ramp's steps merge where their intervals change slowly).
    const double k = segment_.steps;
    const double s = static_cast<double>(segment_.refTick);
    const double gap = t - lastIdealOpen_;
    low = std::max({low_, (t - kBoundTicks - s) / k, gap - kIntervalTicks});
    high = std::min({high_, (t + kBoundTicks - s) / k, gap + kIntervalTicks});
}

bool SegmentPlanner::Fits(double t, double periodTicks) const {
    double low, high;
    Narrowed(t, low, high);
    if (std::ceil(low) > std::floor(high)) return false;
    // The step after this one must still be reachable by a chained delay (the ring of the
    // segment after it counts its delay from this reference).
    const double s = static_cast<double>(segment_.refTick);
    return t + periodTicks + kBoundTicks - s <= static_cast<double>(kMaxDelayTicks) ||
           periodTicks + 2 * kBoundTicks > static_cast<double>(kMaxDelayTicks);
}

bool SegmentPlanner::Add(double idealTick, double periodTicks, uint8_t directionBit, int32_t pass) {
    double t = idealTick + shift_;
    bool closed = false;
    if (open_) {
        // Steps closer than a tick play one per tick: a step the open segment could not reach
        // even a tick after its last one puts the schedule behind by as much, so the segment
        // goes on at one step per tick instead of ending every few steps.
        const double next = static_cast<double>(segment_.refTick + segment_.steps);
        if (periodTicks < 1 && t < next && segment_.steps > 0 && low_ <= 1) {
            shift_ += next - t;
            t = next;
        }
        if (directionBit == segment_.directionBit && pass == segment_.pass &&
            segment_.steps < kMaxSegmentSteps && Fits(t, periodTicks)) {
            Narrowed(t, low_, high_);
            ++segment_.steps;
            lastIdealOpen_ = t;
            return false;
        }
        CloseOpen();
        closed = true;
    }
    Begin(t, periodTicks, directionBit, pass);
    return closed;
}

void SegmentPlanner::Begin(double t, double periodTicks, uint8_t directionBit, int32_t pass) {
    int64_t s = Round(t);
    if (hasLast_) {
        // The ideal interval after the last planned step, kept within the bound, and at least
        // one tick: the module plays one step per tick at most.
        s = Round(static_cast<double>(lastTick_) + (t - lastIdeal_));
        s = std::clamp(s, static_cast<int64_t>(std::ceil(t - kBoundTicks)),
                       static_cast<int64_t>(std::floor(t + kBoundTicks)));
        s = std::max(s, lastTick_ + 1);
    }
    const double behind = static_cast<double>(s) - t;
    if (behind > kBoundTicks) {
        // Steps closer than a tick: from here on the schedule runs later, by as much as puts
        // this step at the early end of the bound, so that the next segment may be as long as
        // the bound allows.
        shift_ += behind + kBoundTicks;
        t += behind + kBoundTicks;
    }
    open_ = true;
    segment_ = Segment{s, 1, 1, directionBit, pass};
    low_ = 1;
    high_ = static_cast<double>(kMaxPeriodTicks);
    firstIdeal_ = lastIdealOpen_ = t;
    firstPeriod_ = std::clamp(periodTicks, 1.0, static_cast<double>(kMaxPeriodTicks));
}

void SegmentPlanner::CloseOpen() {
    closed_ = Open();
    hasLast_ = true;
    lastTick_ = closed_.refTick + (closed_.steps - 1) * closed_.period;
    lastIdeal_ = lastIdealOpen_;
    open_ = false;
}

SegmentPlanner::Segment SegmentPlanner::Open() const {
    if (!open_) return Segment{};
    Segment s = segment_;
    s.period = ChosenPeriod();
    return s;
}

void SegmentPlanner::Close() {
    if (open_) CloseOpen();
}

bool SegmentPlanner::Break() {
    if (!open_) return false;
    CloseOpen();
    return true;
}

}  // namespace usb
