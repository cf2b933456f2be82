// TMotionPreview: what a motor program will do, before it runs, from the ideal schedule
// (TStepSchedule): the speed over one pass for a plot, the steps in each direction and the net
// displacement, the run time of a pass to the millisecond, and warnings about program steps the
// selected port cannot play as written.
//
// Warnings, each naming its program step (counted from 1):
// - faster than the port can play: host-timed (parallel port, "USB (slow)") above 1000 steps/s,
//   one step per millisecond at most; module-timed ("USB") above 7812.5 steps/s, one per tick;
// - host-timed above a positive maximum frequency: the rate limiter slows it;
// - no steps, or no frequency (a run stalls there; a negative one is named as it stands);
// - a ramp time whose ramp cannot be played (its periods would not be finite and positive): the
//   step is played without a ramp;
// - a looping program whose pass takes no step (the run ends at once).
// At most kMaxWarnings are listed, then how many more there are.
//
// Bounded whatever the program holds: step counts and step numbers are summed in 64 bits, and
// a motor's plot has at most kMaxPlotPoints points (a long program step is sampled, and the
// points of a program with very many program steps are thinned), so the cost of a preview is
// linear in the number of program steps and its memory is bounded beyond the program's copy.
//
// While a run plays, the preview follows it: from the place the sequencer keeps (the program
// step and how many of its steps were taken) it gives the time of the last step taken on the
// ideal schedule, for a cursor on the plot, and the time left of the pass and of a "Run in
// order" chain. The schedule is the one source of those times: the cursor stands where the
// sequencer's own walk puts that step.
//
// Pure functions on copies of the programs: safe on any thread, no lock, no clock.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "motion/StepSchedule.h"

namespace motion {

class TMotionPreview {
  public:
    static constexpr double kHostTimedLimit = 1000.0;    // steps/s: one per millisecond
    static constexpr double kModuleTimedLimit = 7812.5;  // steps/s: one per module tick
    static constexpr size_t kMaxPlotPoints = 20000;      // per motor, whatever the program
    static constexpr size_t kMaxWarnings = 10;           // per motor, then "... more"

    struct SpeedPoint {
        double Time;   // seconds from the start of the pass, finite
        double Speed;  // steps per second, positive to the right, negative to the left; finite
        int32_t ProgramStep;
    };
    struct Motor {
        std::vector<SpeedPoint> Plot;  // one pass, in time order
        int64_t StepsRight = 0;
        int64_t StepsLeft = 0;
        double PassSeconds = 0;  // infinite when a program step stalls the run
        bool Empty = true;       // no program step at all
        bool Loops = false;
        std::vector<std::string> Warnings;
        int64_t Net() const { return StepsRight - StepsLeft; }
        // "right 400, left 0, net +400; one pass 2.500 s" (with ", loops" when it loops).
        std::string Summary() const;
    };

    // hostTimed: the selected port times the steps on the host (parallel port, "USB (slow)").
    static Motor Of(const TStepSchedule& schedule, bool hostTimed, double maxFrequency);
    // The run time of "Run in order" through motors 1 to 4, one pass each (motors with an empty
    // program are passed over, as the chain passes them).
    static double ChainSeconds(const std::array<Motor, 4>& motors);
    // One time axis and one speed scale for the four plots: the longest finite pass or plot
    // time and the largest speed, each 1 when there is none.
    struct Scales {
        double Time = 1;
        double Speed = 1;
    };
    static Scales ScalesOf(const std::array<Motor, 4>& motors);
    // The axis caption: "0 s ... 2.500 s, +/- 200 steps/s".
    static std::string AxisText(const Scales& scales);
    // Seconds to the millisecond: "2.500 s" ("1.000e+60 s" for a huge time); "no end" for an
    // infinite one.
    static std::string Seconds(double seconds);

    // "USB (slow)" sends the phases of all four motors in one report, and the link carries one
    // report per millisecond. Where the motors' host-timed rates together (each motor's fastest,
    // as its maximum frequency and the timer let it run) exceed that, every motor with steps gets
    // a warning: steps of different motors within one millisecond share a report and come late.
    static constexpr double kUsbLinkReportsPerSecond = 1000.0;
    static void AddUsbLinkWarnings(std::array<Motor, 4>& motors,
                                   const std::array<double, 4>& maxFrequencies);

    // Where a run stands in its motor's program, as the sequencer keeps it: the program step it
    // plays and how many of that step's steps it has taken (0: none yet).
    struct RunPlace {
        int32_t ProgramStep = 0;
        int32_t StepCounter = 0;
        bool operator==(const RunPlace&) const = default;
    };
    // Seconds from the start of the pass to the last step taken at place on the ideal schedule
    // (the program step's start while none of its steps is taken). A place beyond the program
    // (it was shortened during the run) is at the end of the pass.
    static double ElapsedSeconds(const TStepSchedule& schedule, RunPlace place);
    // What is left of the pass from place: PassTime less ElapsedSeconds, never below 0;
    // infinite when a program step ahead stalls the run.
    static double SecondsLeft(const TStepSchedule& schedule, RunPlace place);
    // What is left of a "Run in order" chain whose last started motor is running (0 to 3), with
    // left seconds left of its pass: that, and one pass of each later motor the chain starts
    // (one with a program).
    static double ChainSecondsLeft(const std::array<Motor, 4>& motors, size_t running, double left);
    // Seconds left to a tenth: "2.5 s left"; "no end" for an infinite time.
    static std::string TimeLeft(double seconds);

  private:
    static constexpr int64_t kPointsPerProgramStep = 400;
};

}  // namespace motion
