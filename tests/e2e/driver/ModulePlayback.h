// How the steps that the virtual module played for one motor follow a program's ramp schedule,
// worked out from the module's trace alone.
//
// The module times a motor's segments from each other (every delay counts from the previous
// segment's reference tick), except when a segment arrives while the motor is idle (at the start,
// or when its list ran dry): that segment counts from its arrival. So the played steps fall into
// stretches, each begun by a segment that met an idle motor. A stream that never runs dry has one
// stretch, or two when the first segment holds a single step that is played before the second
// arrives; every further one is an underrun (on a busy machine the host does not always refill a
// list of 12 places in time while ramps send one step per segment), which the figures report.
//
// The program converts seconds to module ticks with its own calibration of the module's clock:
// the mean of the tick rates between consecutive clock reports, each report timed when the
// receive thread reads it, with a millisecond host clock. Measured here the periods it sends come
// out 0 to 3% long on a quiet machine, and up to 44% long for a while on a busy one, where the
// receive thread reads several queued clock reports within a millisecond or two and those pairs'
// rates come out many times too high. The module plays what it is sent, so within each stretch
// the played times are compared with the schedule stretched by the stretch's own scale (its
// played length over its scheduled length); only a plainly wrong conversion (a scale outside
// kScaleLow..kScaleHigh, such as milliseconds taken for ticks) fails on the scale itself. Then
// every step must sit where the scaled schedule puts it, up to what whole ticks allow:
//   - each step period is sent as whole ticks: the rounding remainder of every period so far in
//     the stretch adds up (segments of up to 255 equal steps carry it along);
//   - each segment's delay is whole ticks, rounded on its own: half a tick per segment;
//   - the calibration drifts while the stretch plays: 2% of the time since the stretch began;
//   - 2 ticks besides.
// That leaves room for no wrong ramp, plateau or pause: those bend the schedule, which a scale
// cannot straighten. A new stretch may start later than the previous one puts it (the module
// waited for a segment), but never earlier than that stretch's tolerance and 2 ms of host clock.
#pragma once

#include <vector>

#include "e2e/driver/RampSchedule.h"
#include "e2e/driver/TraceFile.h"

namespace e2e {

constexpr double kModuleTicksPerSecond = 7812.5;
constexpr double kScaleLow = 0.5, kScaleHigh = 2.0;
constexpr double kDriftShare = 0.02;
constexpr double kHostClockTicks = 16;  // 2 ms

struct PlaybackFigures {
    int Scheduled = 0;       // steps with a direction in the program
    int Played = 0;          // step lines of the motor
    int Segments = 0;        // segment reports the module received for the motor
    bool InOrder = true;     // directions as scheduled, phases in Gray order, positions by one
    int Stretches = 0;       // see above
    bool NeverEarly = true;  // no stretch began before the previous one puts it
    double Early = 0;        // ticks the earliest such stretch began before that, beyond tolerance
    double MinScale = 0;     // of the stretches of three steps or more
    double MaxScale = 0;
    double MaxResidual = 0;  // ticks, against the scaled schedule
    double WorstShare = 0;   // the largest residual as a share of its tolerance (<= 1 passes)
};

// trace: the module's trace lines; motor 1 to 4; schedule: one pass of the program.
PlaybackFigures ComparePlayback(const std::vector<TraceLine>& trace, int motor,
                                const std::vector<ScheduledStep>& schedule);

// The steps of every segment the module received for motor (1 to 4), reset segments included.
int SegmentSteps(const std::vector<TraceLine>& trace, int motor);

// The bytes of a received report line ("00 10 0a ..."); empty when the line is none.
std::vector<int> ReportBytes(const TraceLine& line);

}  // namespace e2e
