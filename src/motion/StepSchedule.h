// TStepSchedule: the ideal time of every step of a motor program, the one source of step times.
//
// A program step of N steps at f Hz with a ramp time T accelerates over its first
// n = Floor(0.5 × (f/T) × T²) steps and decelerates over its last n (a symmetric triangle when
// N < 2n), with the period between step i and step i + 1
//   accelerating  p(i) = √(2(i+1)/a) − √(2i/a),   a = f/T,
//   plateau       p(i) = 1/f,
//   decelerating  p(i) = √(2(N−i)/a) − √(2(N−i−1)/a).
// Step i of a program step is due at the sum of the periods before it. That sum telescopes, so
// Offset gives it in closed form: no rounding error piles up over long programs, and the time of
// step 100000 costs as little as that of step 1.
//
// A run plays the program steps one after the other (records with no steps take no time), a
// pause (direction none) takes its periods without moving, and a looping program starts its
// next pass one period after the last step of the pass before: a pass takes PassTime.
//
// Promises:
// - Period(step, i) is the ramp formula itself; Offset(step, i) = Σ Period(step, j) for j < i up
//   to floating-point error, and Offset(step, N) = Duration(step).
// - A program step without a positive period (f = 0, f < 0, or an f so small that 1/f overflows)
//   is never timed: a run stalls at its first step. Steps lists the steps before it and PassTime
//   is infinite.
// - Every step of a timed program step has a finite, positive period. A ramp whose numbers
//   cannot give that (f/T overflows, as for T = 1e-320 s, or is too small for 2N/a to fit a
//   double) is played as no ramp, at 1/f (RampIgnored). Host-timed runs, the module's
//   streaming and the preview all take their periods from here, so they play such a step alike.
// - Pure functions and a value type: no lock, no clock; safe on any thread.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include "motion/MotorProgram.h"

namespace motion {

class TStepSchedule {
  public:
    // Period in seconds between step i and step i + 1 of a program step. Without a frequency
    // (f = 0 or too small for its period to fit, with or without a ramp) the period is 0: no
    // further step is timed.
    static double Period(const TsmProgramStep& step, int32_t i);
    // Seconds from the first step of a program step to its step i (0 <= i <= Steps).
    static double Offset(const TsmProgramStep& step, int32_t i);
    // Seconds from the first step of a program step to the first step of the next one: all its
    // Steps periods; 0 for a record with no steps.
    static double Duration(const TsmProgramStep& step);
    // The program step's steps have positive periods (a record with no steps counts as timed).
    static bool Timed(const TsmProgramStep& step);
    // The program step has a ramp time (> 0) but is played as no ramp, since its ramp would not
    // give finite, positive periods.
    static bool RampIgnored(const TsmProgramStep& step);

    struct ScheduledStep {
        double time;          // seconds from the run's first step
        double period;        // seconds to the next step
        int32_t programStep;  // index of the program step
        int32_t index;        // step number within it
        int32_t pass;         // 0 for the first pass
        uint8_t direction;    // kDirNone for a pause step
    };

    TStepSchedule() = default;
    explicit TStepSchedule(std::vector<TsmProgramStep> steps, bool looping = false);
    // A copy of the program's records (take it under the motor's program lock).
    static TStepSchedule Of(const TsmProgram& program);

    const std::vector<TsmProgramStep>& ProgramSteps() const { return steps_; }
    bool Looping() const { return looping_; }
    // Seconds one pass takes, from its first step to the first step of the next pass; infinite
    // when a program step is not timed.
    double PassTime() const { return passTime_; }
    // When the program step begins, seconds from the start of its pass.
    double ProgramStepStart(int32_t programStep) const;
    // Every step of the given number of passes (one for a program that does not loop), pauses
    // included, in order, up to the first step that is not timed.
    std::vector<ScheduledStep> Steps(int32_t passes = 1) const;
    // Only the steps that move the motor (direction left or right).
    std::vector<ScheduledStep> MovingSteps(int32_t passes = 1) const;

  private:
    std::vector<TsmProgramStep> steps_;
    std::vector<double> starts_;  // ProgramStepStart of each record
    bool looping_ = false;
    double passTime_ = 0;
    int32_t timedSteps_ = 0;  // records before the first one that is not timed
};

}  // namespace motion
