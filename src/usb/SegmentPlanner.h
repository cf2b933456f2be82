// SegmentPlanner: turns one motor's ideal step times into the module's constant-period segments,
// the way a step compressor does.
//
// The module plays a segment as `steps` steps `period` whole ticks apart, its first step `delay`
// ticks after the first step of the segment before. The planner is given every step's ideal
// time in ticks from the run's start (the schedule's seconds times the module's rate) and
// chooses each segment's first tick (its reference), period and length so that
// - every step it plans lies within kBoundTicks of its ideal time: step k of a segment with
//   reference s and period p plays at s + k·p;
// - its period lies within kIntervalTicks of the ideal interval before each of its steps, so the
//   played intervals follow the schedule's (and a constant stretch's stay within 2 ticks);
// - a segment takes as many steps as that allows (ramp steps too), at most kMaxSegmentSteps; on a
// long
//   constant stretch between two whole-tick periods the segments alternate between the two
//   neighbours (7.8125 ticks: 8 for about 75 steps, then 7 for about 17) and the error swings
//   within the bound instead of growing;
// - a segment begins where the one before ended: its first step comes the ideal interval after
//   the previous last step, rounded and kept within the bound, and never before the tick after
//   it. So no interval jumps at a boundary and no segment is due before its predecessor's
//   last step. Delays are differences of references, exact integers;
// - a change of direction, a new pass and a pause (Break) begin a new segment;
// - the distance to the next segment's reference stays within kMaxDelayTicks while the steps
//   are close enough to be chained at all (a step period below 16382 ticks);
// - faster than one step per tick (above 7812.5 steps/s) the steps play one tick apart: the run
//   falls behind its schedule, and the steps after it keep their own spacing from there
//   (Behind tells by how much).
//
// No lock and no clock: TUsbProtocol keeps one per motor under that motor's ring lock.
#pragma once

#include <cstdint>

#include "usb/UsbReport.h"

namespace usb {

class SegmentPlanner {
  public:
    // Steps are planned within 6.5 ticks of their ideal times: 1.5 ticks under the 8 (1 ms at
    // 7812.5 ticks per second) that they must keep, left for the rate the host has calibrated,
    // which goes on improving while a run plays (with 7, a run whose receive side was held
    // 300 ms under Wine had steps 8.4 ticks off). A tighter bound costs shorter segments, and
    // so more reports on the link.
    static constexpr double kBoundTicks = 6.5;
    // How far a segment's period may lie from the ideal interval before each of its steps.
    static constexpr double kIntervalTicks = 1.5;

    struct Segment {
        int64_t refTick = 0;  // ticks from the run's start of the first step, as it plays
        int64_t period = 1;   // ticks between its steps
        int32_t steps = 0;    // 1 to kMaxSegmentSteps
        uint8_t directionBit = 0;
        int32_t pass = 0;
    };

    // A new run: nothing planned yet.
    void Reset();

    // The next step: its ideal time and the ideal period to the step after it, in ticks from
    // the run's start. Returns true when the open segment had to be closed first; Closed() then
    // holds it as it is to be sent. The step joins (or begins) the open segment.
    bool Add(double idealTick, double periodTicks, uint8_t directionBit, int32_t pass);
    // A pause: the open segment is closed (true when there was one; see Closed()).
    bool Break();
    // The open segment as it stands (it goes out like this when sent now); Open().steps == 0
    // when there is none.
    Segment Open() const;
    // The open segment is sent as it stands: the next step begins a new one.
    void Close();
    const Segment& Closed() const { return closed_; }
    // Ticks by which steps faster than the module's clock have put the run behind its
    // schedule.
    double Behind() const { return shift_; }

  private:
    int64_t ChosenPeriod() const;
    bool Fits(double t, double periodTicks) const;
    // The open segment's range of periods with the step at ideal tick t added.
    void Narrowed(double t, double& low, double& high) const;
    void Begin(double t, double periodTicks, uint8_t directionBit, int32_t pass);
    void CloseOpen();

    // The last planned step of the closed segments.
    bool hasLast_ = false;
    int64_t lastTick_ = 0;
    double lastIdeal_ = 0;
    double shift_ = 0;

    // The open segment: its reference, steps so far, the range of whole-tick periods that keeps
    // every one of them within the bound, and its first and last ideal times.
    bool open_ = false;
    Segment segment_;
    double low_ = 1, high_ = kMaxPeriodTicks;
    double firstIdeal_ = 0, lastIdealOpen_ = 0, firstPeriod_ = 1;

    Segment closed_;
};

}  // namespace usb
