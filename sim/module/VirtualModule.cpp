// The module's firmware: command lists, segment timing, resets, and the reports it sends.
#include "sim/module/VirtualModule.h"

#include <algorithm>
#include <string>

#include "sim/module/ModuleTrace.h"

namespace sim {

namespace {

constexpr int kLeft = 1;
constexpr int kRight = 2;

// Gray code: exactly one of the two phase bits changes per step.
uint8_t NextPhase(uint8_t phase, bool left) {
    static constexpr uint8_t kRightOf[4] = {1, 3, 0, 2};  // 0→1→3→2→0
    static constexpr uint8_t kLeftOf[4] = {2, 0, 3, 1};   // 0→2→3→1→0
    return left ? kLeftOf[phase & 3] : kRightOf[phase & 3];
}

}  // namespace

VirtualModule::VirtualModule(ModuleTrace* trace) : trace_(trace) {
    PowerUp(0);
}

void VirtualModule::PowerUp(uint64_t nowUs, uint64_t startTick) {
    powerUpUs_ = nowUs;
    nowUs_ = nowUs;
    startTick_ = startTick & kClockMask;
    nextClockUs_ = nowUs + kClockReportPeriodUs;
    resetMask_ = 0;
    unaskedCount_ = 0;
    outbox_.clear();
    for (Motor& m : motors_) {
        const int32_t switchPosition = m.switchPosition;
        m = Motor{};
        m.switchPosition = switchPosition;
    }
}

uint64_t VirtualModule::Elapsed(uint64_t nowUs) const {
    return nowUs > powerUpUs_ ? (nowUs - powerUpUs_) / kMicrosecondsPerTick : 0;
}

uint64_t VirtualModule::Ticks(uint64_t nowUs) const {
    return (startTick_ + Elapsed(nowUs)) & kClockMask;
}

int VirtualModule::FreePlaces(int motor) const {
    int used = 0;
    for (const Segment& s : motors_[Index(motor)].list)
        used += s.places;
    return kCommandListPlaces - used;
}

uint64_t VirtualModule::ListEndElapsed(int motor) const {
    const Motor& m = motors_[Index(motor)];
    if (m.list.empty()) return 0;
    const Segment& front = m.list.front();
    uint64_t last = front.reset
                        ? m.nextStep
                        : m.nextStep + static_cast<uint64_t>(m.stepsLeft - 1) * front.period;
    uint64_t reference = m.reference;
    for (size_t i = 1; i < m.list.size(); ++i) {
        const Segment& s = m.list[i];
        reference += s.delay;
        last = std::max(reference, last + 1) + static_cast<uint64_t>(s.steps - 1) * s.period;
    }
    return last;
}

uint8_t VirtualModule::PhaseByte() const {
    uint8_t phases = 0;
    for (int m = 1; m <= kMotors; ++m)
        phases |= static_cast<uint8_t>(Phase(m) << (2 * (m - 1)));
    return phases;
}

void VirtualModule::SetReferenceSwitch(int motor, int32_t position) {
    motors_[Index(motor)].switchPosition = position;
}

void VirtualModule::SetStepListener(std::function<void(const ModuleStep&)> listener) {
    listener_ = std::move(listener);
}

Report VirtualModule::ClockReport(uint64_t nowUs) const {
    Report report{};
    report[1] = kClockReportType;
    const uint64_t ticks = Ticks(nowUs);
    for (int i = 0; i < 6; ++i)
        report[2 + i] = static_cast<uint8_t>(ticks >> (8 * i));
    uint8_t levels = 0;
    for (int m = 1; m <= kMotors; ++m)
        levels |= static_cast<uint8_t>(FreePlaceLevel(FreePlaces(m)) << (2 * (m - 1)));
    report[8] = levels;
    return report;
}

uint8_t VirtualModule::FreePlaceLevel(int freePlaces) {
    if (freePlaces >= 12) return 3;
    if (freePlaces >= 6) return 2;
    if (freePlaces >= 3) return 1;
    return 0;
}

Report VirtualModule::StatusReport() const {
    Report report{};
    report[1] = kStatusReportType;
    report[2] = resetMask_;
    report[3] = PhaseByte();
    for (int m = 1; m <= kMotors; ++m)
        report[3 + m] = static_cast<uint8_t>(FreePlaces(m));
    return report;
}

void VirtualModule::SendUnaskedStatus() {
    if (!unaskedStatus_) return;
    outbox_.push_back(StatusReport());
    ++unaskedCount_;
}

void VirtualModule::TakeOutbox(std::vector<Report>& reports) {
    reports.insert(reports.end(), outbox_.begin(), outbox_.end());
    outbox_.clear();
}

int VirtualModule::NextMotor() const {
    int next = 0;
    for (int m = 1; m <= kMotors; ++m) {
        const Motor& motor = motors_[Index(m)];
        if (motor.list.empty()) continue;
        if (next == 0 || motor.nextStep < motors_[Index(next)].nextStep) next = m;
    }
    return next;
}

uint64_t VirtualModule::NextEventUs() const {
    uint64_t next = nextClockUs_;
    const int m = NextMotor();
    if (m != 0) next = std::min(next, TimeUs(motors_[Index(m)].nextStep));
    return std::max(next, nowUs_);
}

void VirtualModule::Advance(uint64_t nowUs, std::vector<Report>& reports) {
    nowUs = std::max(nowUs, nowUs_);  // time never goes back
    nowUs_ = nowUs;
    const uint64_t limit = Elapsed(nowUs);
    bool played = false;
    for (;;) {
        const int m = NextMotor();
        if (m == 0 || motors_[Index(m)].nextStep > limit) break;
        PlayStep(m);
        played = true;
    }
    if (played && trace_ != nullptr) trace_->Flush();
    TakeOutbox(reports);  // made at the ticks of their steps, before the clock report of now
    if (nextClockUs_ <= nowUs) {
        reports.push_back(ClockReport(nowUs));
        nextClockUs_ += kClockReportPeriodUs;
        if (nextClockUs_ <= nowUs) nextClockUs_ = nowUs + kClockReportPeriodUs;  // no burst
    }
}

void VirtualModule::Receive(const uint8_t* report, size_t length, uint64_t nowUs,
                            std::vector<Report>& answers) {
    Advance(nowUs, answers);
    const uint64_t now = Elapsed(nowUs_);
    if (trace_ != nullptr) trace_->Received(Ticks(nowUs_), nowUs_, report, length);
    if (length != kReportLength || report[0] != 0) return;

    Take(report, now, answers);
    TakeOutbox(answers);  // a reset that ended at once
}

void VirtualModule::Take(const uint8_t* report, uint64_t now, std::vector<Report>& answers) {
    const uint8_t code = report[1] & 0x0F;
    const int motor = report[1] >> 4;
    if (code == kSegment) {
        if (motor >= 1 && motor <= kMotors) TakeSegment(motor, report, now);
        return;
    }
    if (code == kClearCommandList) {
        ClearCommandList(motor);
        return;
    }
    switch (report[1]) {
        case kGetMotorStatus:
            if (report[2] == kStatusRequestKind) answers.push_back(StatusReport());
            break;
        case kCommand3:
            // With 0xFF in bytes 7 and 8 it is the start-up command; with 0 the reset cancel.
            if (report[2] == kResetCancelCode && report[3] == 0 && report[7] == 0 &&
                report[8] == 0) {
                CancelResets(now);
            }
            break;
        case kStartReset:
            StartReset(report[2] & 0x0F, now);
            break;
        case kDirectOutput:
            DirectOutput(report[2]);
            break;
        case kProbe:  // accepted: the write completing is the whole answer
        default:
            break;
    }
}

void VirtualModule::TakeSegment(int motor, const uint8_t* report, uint64_t now) {
    Segment s;
    s.period = static_cast<uint16_t>(report[2] | (report[3] & 0x3F) << 8);
    if (s.period == 0) s.period = 1;  // never two steps in one tick
    s.left = (report[3] & 0x40) != 0;
    const bool counted = (report[3] & 0x80) != 0;
    s.steps = counted ? std::max<int>(1, report[4]) : 1;
    s.places = counted ? 3 : 2;
    s.delay = static_cast<uint16_t>(report[5] | report[6] << 8);

    Motor& m = motors_[Index(motor)];
    if (s.places > FreePlaces(motor)) {
        ++m.rejected;  // a full list takes nothing; what it holds plays on
        if (trace_ != nullptr)
            trace_->Event(Ticks(nowUs_), nowUs_,
                          "rejected " + std::to_string(motor) + " list full, " +
                              std::to_string(s.steps) + " steps lost");
        return;
    }
    const bool idle = m.list.empty();
    if (idle && m.dry && !m.dryAfterLoneStep) {
        // The list ran dry by playing: this segment plays from its arrival, not at its chained
        // due tick. Soon after the last step it belongs to the run that ran dry; later, a
        // chained due tick still ahead says the same (a pause's end that came too late).
        const bool soon = now - m.lastStep <= kUnderrunWindowTicks;
        const bool chainedAhead = m.dryReference + s.delay > now;
        if (soon || chainedAhead) {
            ++m.underruns;
            if (trace_ != nullptr)
                trace_->Event(Ticks(nowUs_), nowUs_,
                              "underrun " + std::to_string(motor) + " dry since " +
                                  std::to_string((startTick_ + m.lastStep) & kClockMask));
        }
    }
    m.dry = false;
    m.list.push_back(s);
    if (idle) Schedule(motor, now + s.delay, /*chained=*/false);
}

void VirtualModule::DirectOutput(uint8_t phases) {
    for (int motor = 1; motor <= kMotors; ++motor) {
        Motor& m = motors_[Index(motor)];
        const uint8_t phase = (phases >> (2 * (motor - 1))) & 3;
        if (phase != m.phase && !m.list.empty()) {
            // The coils of a motor the module plays: it loses its step.
            ++m.overwrites;
            if (trace_ != nullptr)
                trace_->Event(Ticks(nowUs_), nowUs_,
                              "coil overwrite " + std::to_string(motor) + " phase " +
                                  std::to_string(m.phase) + " to " + std::to_string(phase));
        }
        m.phase = phase;
    }
}

void VirtualModule::Schedule(int motor, uint64_t due, bool chained) {
    Motor& m = motors_[Index(motor)];
    m.reference = due;
    const bool clash = m.stepped && m.lastStep >= due;
    if (clash && chained) {
        // Due before (or at) the tick of its predecessor's last step: the host's delays do not
        // match its periods. Counted and traced; the steps still come in order, one per tick.
        ++m.overlaps;
        if (trace_ != nullptr)
            trace_->Event(Ticks(nowUs_), nowUs_,
                          "overlap " + std::to_string(motor) + " due " +
                              std::to_string((startTick_ + due) & kClockMask) + " after " +
                              std::to_string((startTick_ + m.lastStep) & kClockMask));
    }
    m.nextStep = clash ? m.lastStep + 1 : due;
    m.stepsLeft = m.list.front().steps;
    m.frontStartsChain = !chained;
}

void VirtualModule::FinishFront(int motor, uint64_t reference) {
    Motor& m = motors_[Index(motor)];
    const bool loneStep = m.frontStartsChain && m.list.front().steps == 1;
    m.list.pop_front();
    m.dryAfterLoneStep = m.list.empty() && loneStep;
    if (!m.list.empty()) {
        Schedule(motor, reference + m.list.front().delay, /*chained=*/true);
    } else {
        m.dry = true;
        m.dryReference = reference;
        SendUnaskedStatus();  // the list ran empty by playing
    }
}

void VirtualModule::PlayStep(int motor) {
    Motor& m = motors_[Index(motor)];
    const Segment& s = m.list.front();
    const uint64_t tick = m.nextStep;
    m.phase = NextPhase(m.phase, s.left);
    m.position += s.left ? -1 : 1;
    m.stepped = true;
    m.lastStep = tick;

    const ModuleStep step{(startTick_ + tick) & kClockMask, tick,    TimeUs(tick), motor,
                          s.left ? kLeft : kRight,          m.phase, m.position};
    if (trace_ != nullptr)
        trace_->Step(step.tick, step.timeUs, motor, step.direction, m.phase, m.position);
    if (listener_) listener_(step);

    if (s.reset) {
        if (SwitchClosed(m, s.left)) {
            EndReset(motor, tick);
        } else {
            m.nextStep = tick + s.period;
        }
    } else if (--m.stepsLeft <= 0) {
        FinishFront(motor, m.reference);
    } else {
        m.nextStep = tick + s.period;
    }
}

bool VirtualModule::SwitchClosed(const Motor& m, bool left) const {
    return left ? m.position <= m.switchPosition : m.position >= m.switchPosition;
}

void VirtualModule::EndReset(int motor, uint64_t now) {
    resetMask_ &= static_cast<uint8_t>(~(1u << (motor - 1)));
    Motor& m = motors_[Index(motor)];
    for (size_t i = 0; i < m.list.size(); ++i) {
        if (!m.list[i].reset) continue;
        if (i == 0) {
            m.list.pop_front();
            if (!m.list.empty()) Schedule(motor, now + m.list.front().delay, /*chained=*/true);
            m.dry = false;  // a reset is no run: what follows it starts afresh
        } else {
            m.list.erase(m.list.begin() + static_cast<std::ptrdiff_t>(i));
        }
        break;
    }
    SendUnaskedStatus();  // one report per reset that ended, its bit clear
}

void VirtualModule::StartReset(uint8_t mask, uint64_t now) {
    for (int motor = 1; motor <= kMotors; ++motor) {
        if ((mask & (1u << (motor - 1))) == 0) continue;
        Motor& m = motors_[Index(motor)];
        if (m.list.empty()) {
            // Nothing to step with: the reset is over before it began.
            resetMask_ &= static_cast<uint8_t>(~(1u << (motor - 1)));
            SendUnaskedStatus();
            continue;
        }
        m.list.back().reset = true;
        resetMask_ |= static_cast<uint8_t>(1u << (motor - 1));
        if (SwitchClosed(m, m.list.back().left)) EndReset(motor, now);
    }
}

void VirtualModule::CancelResets(uint64_t now) {
    for (int motor = 1; motor <= kMotors; ++motor) {
        if ((resetMask_ & (1u << (motor - 1))) != 0) EndReset(motor, now);
    }
}

void VirtualModule::StopMotor(int motor) {
    motors_[Index(motor)].list.clear();
    motors_[Index(motor)].dry = false;
    resetMask_ &= static_cast<uint8_t>(~(1u << (motor - 1)));
}

void VirtualModule::ClearCommandList(int target) {
    if (target == 0) {
        for (int motor = 1; motor <= kMotors; ++motor)
            StopMotor(motor);
    } else if (target <= kMotors) {
        StopMotor(target);
    }
}

}  // namespace sim
