#include "usb/ModulePlayback.h"

#include <algorithm>
#include <cmath>

#include "motion/StepperMotor.h"

namespace usb {

ModulePlayback::ModulePlayback() : marks_(kMaxMarks) {}

int32_t ModulePlayback::NearestWithPhase(int32_t estimate, uint32_t offset, uint8_t phase,
                                         int hint) {
    // Positions wrap at 2^32, a multiple of 4, so unsigned arithmetic keeps the residues right.
    const uint32_t e = static_cast<uint32_t>(estimate);
    const uint32_t d = (offset + motion::TStepperMotor::PhaseIndex(phase) - e) & 3;
    uint32_t moved = d;
    if (d == 3 || (d == 2 && hint < 0)) moved = d - 4;  // wraps to -1 or -2
    return static_cast<int32_t>(e + moved);
}

std::optional<uint8_t> ModulePlayback::PhaseAt(int32_t position, uint32_t positionSets) const {
    if (positionSets != positionSets_) return std::nullopt;
    return motion::TStepperMotor::kPhaseCodes[(static_cast<uint32_t>(position) - offset_) & 3];
}

void ModulePlayback::Begin(int32_t position, uint8_t phase, Place place, uint32_t positionSets) {
    active_ = true;
    positionSets_ = positionSets;
    shownSum_ = 0;
    // While a correction is still to come, the host's phase may be stale: the relation of
    // position and phase learnt before holds on.
    if (!correction_)
        offset_ = (static_cast<uint32_t>(position) - motion::TStepperMotor::PhaseIndex(phase)) & 3;
    segmentCount_ = 0;
    settledMoves_ = settledSum_ = 0;
    lastSign_ = 1;
    hasOrigin_ = false;
    origin_ = 0;
    markHead_ = markCount_ = 0;
    pulledMoves_ = 0;
    startPlace_ = place;
}

void ModulePlayback::Pulled(double runTick, double periodTicks, bool moving, Place place) {
    if (!active_) return;
    if (markCount_ > 0) {
        Mark& last = MarkAt(markCount_ - 1);
        if (last.stepIndex == place.stepIndex && last.moving == moving &&
            place.stepCounter == last.lastCounter + 1) {
            last.lastCounter = place.stepCounter;
            if (moving) ++pulledMoves_;
            return;
        }
    }
    if (markCount_ == kMaxMarks) {
        markHead_ = (markHead_ + 1) % kMaxMarks;
        --markCount_;
    }
    MarkAt(markCount_++) =
        Mark{runTick,           std::max(periodTicks, 1e-9), pulledMoves_, place.stepIndex,
             place.stepCounter, place.stepCounter,           moving};
    if (moving) ++pulledMoves_;
}

void ModulePlayback::Sent(double firstTick, double periodTicks, int32_t steps, int sign,
                          double origin) {
    if (!active_ || steps <= 0) return;
    if (segmentCount_ == kMaxSegments) FoldFront();  // cannot be playing any more
    segments_[static_cast<size_t>(segmentCount_++)] =
        Segment{firstTick, std::max(periodTicks, 1.0), steps, sign < 0 ? -1 : 1};
    hasOrigin_ = true;
    origin_ = origin;
}

void ModulePlayback::FoldFront() {
    const Segment& s = segments_[0];
    settledMoves_ += static_cast<uint32_t>(s.steps);
    settledSum_ += static_cast<uint32_t>(s.sign) * static_cast<uint32_t>(s.steps);
    lastSign_ = s.sign;
    std::copy(segments_.begin() + 1, segments_.begin() + segmentCount_, segments_.begin());
    --segmentCount_;
}

ModulePlayback::View ModulePlayback::At(double nowTick) {
    // Segments never overlap (each begins after its predecessor's last step), so only the
    // oldest one not yet played to its end can be part-played.
    while (segmentCount_ > 0) {
        const Segment& s = segments_[0];
        if (s.first + (s.steps - 1) * s.period > nowTick) break;
        FoldFront();
    }
    uint32_t moves = settledMoves_;
    uint32_t sum = settledSum_;
    if (segmentCount_ > 0 && nowTick >= segments_[0].first) {
        const Segment& s = segments_[0];
        const int32_t k =
            std::min(s.steps, static_cast<int32_t>(std::floor((nowTick - s.first) / s.period)) + 1);
        moves += static_cast<uint32_t>(k);
        sum += static_cast<uint32_t>(s.sign) * static_cast<uint32_t>(k);
        lastSign_ = s.sign;
    }

    // The program place: the last mark whose first step has played. Moving steps are counted;
    // a pause begins when every move before it has played and its tick has come.
    const double runNow = hasOrigin_ ? nowTick - origin_ : -1e300;
    auto started = [&](const Mark& m) {
        if (m.moving) return moves > m.movesBefore;
        return moves >= m.movesBefore && runNow >= m.runTick;
    };
    while (markCount_ >= 2 && started(MarkAt(1))) {
        markHead_ = (markHead_ + 1) % kMaxMarks;
        --markCount_;
    }
    View view{static_cast<int32_t>(sum - shownSum_), startPlace_};
    shownSum_ = sum;
    if (markCount_ > 0 && started(MarkAt(0))) {
        const Mark& m = MarkAt(0);
        int64_t counter;
        if (m.moving) {
            counter = m.firstCounter + static_cast<int64_t>(moves - m.movesBefore) - 1;
        } else {
            counter = m.firstCounter + static_cast<int64_t>((runNow - m.runTick) / m.period);
        }
        view.place = {m.stepIndex, static_cast<int32_t>(std::clamp<int64_t>(counter, m.firstCounter,
                                                                            m.lastCounter))};
    }
    return view;
}

ModulePlayback::View ModulePlayback::SettlePlayed() {
    View view = At(1e300);
    active_ = false;
    return view;
}

ModulePlayback::View ModulePlayback::SettleAt(double clearTick) {
    View view = At(clearTick);
    // Nothing more of the run plays: what the plan had not reached by the clear is dropped.
    segmentCount_ = 0;
    active_ = false;
    return view;
}

void ModulePlayback::AwaitPhase(uint64_t fromRequest, int32_t estimate, uint32_t positionSets,
                                double freshFromTick) {
    correction_ = Correction{fromRequest, estimate, positionSets, freshFromTick};
}

void ModulePlayback::CloseCorrection(double firstTick) {
    if (correction_) correction_->closedFromTick = std::min(correction_->closedFromTick, firstTick);
}

bool ModulePlayback::AsksForFreshPhase(double madeTick) {
    if (!correction_ || correction_->asked || madeTick < correction_->freshFromTick) return false;
    correction_->asked = true;
    return true;
}

std::optional<int32_t> ModulePlayback::PhaseReported(uint64_t answered, double madeTick,
                                                     uint8_t phase, uint32_t positionSets) {
    if (!correction_ || answered < correction_->fromRequest) return std::nullopt;
    if (madeTick < correction_->freshFromTick) return std::nullopt;  // perhaps from before
    // Made after the next run's first step, perhaps (a status report comes at most a clock
    // report's period after the clock report read before it): its phase tells of that run, not
    // of where the clear left the motor. The estimate stands.
    if (madeTick + kClockReportPeriodTicks >= correction_->closedFromTick) {
        correction_.reset();
        return std::nullopt;
    }
    const Correction c = *correction_;
    correction_.reset();
    // The position was set since (zeroed by the operator, a reset): the estimate means nothing.
    if (positionSets != c.positionSets) return std::nullopt;
    const int32_t corrected = NearestWithPhase(c.estimate, offset_, phase, lastSign_);
    return static_cast<int32_t>(static_cast<uint32_t>(corrected) -
                                static_cast<uint32_t>(c.estimate));
}

}  // namespace usb
