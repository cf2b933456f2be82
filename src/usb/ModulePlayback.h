// ModulePlayback: how far the module has played one motor's "USB" run, as the host can tell.
//
// The module times a run's steps itself and reports none of them. But the host planned every
// step's module tick and tracks the module's clock, so at any moment it can tell how far the run
// has got. The playback keeps the segments sent (step k of a segment plays at its first tick plus
// k periods) and, from the fill, where each program step's steps begin, and gives at a module
// tick the motor's position and the program step (with its count of steps) being played.
//
// Promises:
// - A run that ends by itself (every segment sent has played) gives exactly the steps sent.
// - A run cut short by a clear of the module's list gives the plan's count at the tick the host
//   places the clear at. The motor's phase in the next status report (its position modulo 4 in
//   the phase sequence) then corrects that to the nearest count with that phase: exact wherever
//   the estimate was within one step of the truth; faster than about 1000 steps/s on a 1 ms link
//   it may be a multiple of 4 steps off.
// - Moving steps are counted, never timed, for the program place: a run that falls behind its
//   plan (steps faster than the module's tick) still shows the program step whose steps play.
//   Pauses, which play nothing, are placed by their planned ticks.
// - Positions wrap at the ends of the 32-bit range, as the motor's counter does.
//
// Memory is allocated once, in the constructor. No lock: TUsbProtocol keeps one per motor under
// that motor's ring lock.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "usb/UsbReport.h"

namespace usb {

class ModulePlayback {
  public:
    // Segments remembered that have not played to their end: more than the module's list holds.
    static constexpr int kMaxSegments = 32;
    // Program-step places remembered ahead of the played step. When full, the oldest goes, and the
    // row shown may lag until the played steps have caught up.
    static constexpr int kMaxMarks = 4096;

    struct Place {
        int32_t stepIndex = 0;
        int32_t stepCounter = 0;  // steps of that program step taken, the current one included
        bool operator==(const Place&) const = default;
    };
    struct View {
        int32_t moved = 0;  // signed steps played since the last view (right positive)
        Place place;
    };

    ModulePlayback();

    // A run is being shown (begun and not yet settled).
    bool Active() const { return active_; }
    // A new run from the motor's position, its phase as the host knows it (which tell the
    // relation of position and phase the correction needs), and its place in the program.
    // positionSets: the motor's count of position settings, which PhaseAt checks.
    void Begin(int32_t position, uint8_t phase, Place place, uint32_t positionSets);
    // The fill handed out one program step of the run (moving or a pause) at tick runTick from the
    // run's start, periodTicks before the next; place is the program place after taking it.
    void Pulled(double runTick, double periodTicks, bool moving, Place place);
    // A segment went out: steps steps (signed by direction: +1 right, -1 left), the first at
    // module tick firstTick, periodTicks apart. origin: the module tick of the run's tick 0.
    void Sent(double firstTick, double periodTicks, int32_t steps, int sign, double origin);
    // What has played by module tick nowTick. The steps are given as a move since the last view,
    // so that a position set meanwhile (the operator's zero) counts on from where it was set.
    View At(double nowTick);
    // The run ends with every segment sent played; the playback is no longer active.
    View SettlePlayed();
    // The run was cut short by a clear that took effect at module tick clearTick.
    View SettleAt(double clearTick);

    // After a settle by estimate: the status report answering request number fromRequest or a
    // later one, made from module tick freshFromTick on (after the clear had surely reached the
    // module), corrects the position estimate to its phase, unless the position was set since
    // (positionSets: the motor's count of position settings when the clear was made). A report
    // the module sent on its own before the clear reached it can pass for that answer: its
    // phase is from before the clear.
    void AwaitPhase(uint64_t fromRequest, int32_t estimate, uint32_t positionSets,
                    double freshFromTick);
    // No correction is to come (a reset moves the motor from here).
    void DropCorrection() { correction_.reset(); }
    // A status report answering request `answered`, made at module tick madeTick or later,
    // shows phase: the steps to add to the motor's position, when it corrects one.
    std::optional<int32_t> PhaseReported(uint64_t answered, double madeTick, uint8_t phase,
                                         uint32_t positionSets);
    // A correction waits for a report made from madeTick on, and nobody has asked for one since
    // a report made that late came (the first call that finds so returns true).
    bool AsksForFreshPhase(double madeTick);
    // The next run's first step may play from module tick firstTick: a report made from then on
    // no longer tells where the clear left the motor.
    void CloseCorrection(double firstTick);

    // The phase the module's motor has at position, by the relation of position and phase known
    // since the run began; none when the position was set since (the relation is lost).
    std::optional<uint8_t> PhaseAt(int32_t position, uint32_t positionSets) const;

    // The count nearest to estimate whose phase is `phase`, for a motor whose position minus
    // phase index is offset modulo 4. At a tie, the one in the direction of motion (hint > 0:
    // right).
    static int32_t NearestWithPhase(int32_t estimate, uint32_t offset, uint8_t phase, int hint);

  private:
    struct Segment {
        double first = 0;
        double period = 1;
        int32_t steps = 0;
        int32_t sign = 1;
    };
    struct Mark {
        double runTick = 0;
        double period = 1;
        uint32_t movesBefore = 0;  // moving steps of the run pulled before this mark's first
        int32_t stepIndex = 0;
        int32_t firstCounter = 0;
        int32_t lastCounter = 0;
        bool moving = false;
    };
    struct Correction {
        uint64_t fromRequest = 0;
        int32_t estimate = 0;
        uint32_t positionSets = 0;
        double freshFromTick = 0;
        double closedFromTick = std::numeric_limits<double>::infinity();
        bool asked = false;  // a status request went out after a report made that late
    };

    // Folds the front segment into the settled count.
    void FoldFront();
    Mark& MarkAt(int k) { return marks_[static_cast<size_t>((markHead_ + k) % kMaxMarks)]; }

    bool active_ = false;
    uint32_t shownSum_ = 0;  // the signed steps of the last view, wrapping
    uint32_t offset_ = 0;    // position minus phase index, modulo 4
    uint32_t positionSets_ = 0;
    std::array<Segment, kMaxSegments> segments_{};
    int segmentCount_ = 0;
    uint32_t settledMoves_ = 0;
    uint32_t settledSum_ = 0;  // signed steps, wrapping
    int lastSign_ = 1;
    bool hasOrigin_ = false;
    double origin_ = 0;

    std::vector<Mark> marks_;
    int markHead_ = 0;
    int markCount_ = 0;
    uint32_t pulledMoves_ = 0;
    Place startPlace_;

    std::optional<Correction> correction_;
};

}  // namespace usb
