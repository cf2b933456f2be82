#include "usb/UsbProtocol.h"

#include <algorithm>
#include <cmath>

#include "motion/RunInOrder.h"

namespace usb {

namespace {

// Free places for the clock report's 2-bit levels.
constexpr int32_t kLevelPlaces[4] = {0, 3, 6, kCommandListPlaces};

constexpr uint8_t kLeftBit = 0x40;

}  // namespace

TUsbProtocol::TUsbProtocol(Ports ports,
                           const std::array<motion::TStepperMotor*, kMotorCount>& motors)
    : ports_(ports), motors_(motors) {}

TUsbProtocol::~TUsbProtocol() {
    StopStreamer();
    StopDirectOutputWriter();
}

bool TUsbProtocol::UsbPort() const {
    const int16_t port = portSetting_.load();
    return port == kPortUsb || port == kPortUsbSlow;
}

double TUsbProtocol::Now() const {
    return ports_.timers.Seconds();
}

TUsbProtocol::RingLocks TUsbProtocol::LockAllRings() {
    RingLocks locks;
    for (int i = 0; i < kMotorCount; ++i)
        locks[i] = std::unique_lock(channels_[i].mutex);
    return locks;
}

int32_t TUsbProtocol::ProgramCount(int motorIndex) const {
    return motors_[motorIndex]->LockProgram()->Count();
}

TUsbProtocol::RingState TUsbProtocol::Ring(int motorIndex) const {
    const MotorChannel& channel = channels_[motorIndex];
    std::lock_guard lock(channel.mutex);
    return {channel.ring.FillIndex, channel.ring.SendIndex, channel.ring.Waiting(),
            channel.ring.Record(channel.ring.SendIndex),
            channel.ring.Record(channel.ring.FillIndex)};
}

// ---- Commands ---------------------------------------------------------------------------

void TUsbProtocol::ClearCommandList(int32_t target) {
    if (target < 0 || target > kMotorCount) return;
    // The ring locks are held across the command, so that no segment of these motors can be
    // sent between the module's clear and the host's.
    if (target == 0) {
        RingLocks locks = LockAllRings();
        ClearCommandListLocked(0);
    } else {
        std::lock_guard lock(channels_[target - 1].mutex);
        ClearCommandListLocked(target);
    }
}

void TUsbProtocol::ClearCommandListLocked(int32_t target, bool correctPhase) {
    const bool sent = portSetting_.load() == kPortUsb && Connected();
    if (sent) ports_.channel.SendReport(ClearCommandListReport(static_cast<uint8_t>(target)));
    // The write returns once the module has the report: its clock now is where the clear took
    // effect, as near as the host can place it.
    const double clearTick = ModuleNow();
    bool awaitPhase = false;
    for (int i = 0; i < kMotorCount; ++i) {
        if (target == 0 || target == i + 1) {
            awaitPhase = SettleCleared(i, clearTick, sent && correctPhase) || awaitPhase;
            channels_[i].Clear();
        }
    }
    if (awaitPhase) GetMotorStatus();
}

void TUsbProtocol::EndRunInOrder() {
    std::lock_guard lock(chainMutex_);
    chainEnded_ = true;
}

void TUsbProtocol::ResumeRunInOrder() {
    std::lock_guard lock(chainMutex_);
    chainEnded_ = false;
}

void TUsbProtocol::GetMotorStatus() {
    if (!(UsbPort() && Connected())) return;
    uint64_t number;
    {
        std::lock_guard lock(statusMutex_);
        number = ++statusRequestsSent_;
        statusRequests_.push_back({number});
        if (statusRequests_.size() > kMaxStatusRequestsWaiting)
            statusRequests_.pop_front();  // answers that never came
    }
    ports_.channel.SendReport(GetMotorStatusReport());
    // The write has returned: the module has the request and answers it at once, so the time
    // to its answer is how late the module's reports are read.
    const double sent = Now();
    std::lock_guard lock(statusMutex_);
    for (StatusRequest& request : statusRequests_)
        if (request.Number == number) request.SentSeconds = sent;
}

void TUsbProtocol::RequestStack(uint8_t kind) {
    if (UsbPort() && Connected()) ports_.channel.SendReport(StackRequestReport(kind));
}

void TUsbProtocol::DirectOutput(uint8_t phaseByte) {
    if (UsbPort() && Connected()) mailbox_.Post(phaseByte);
}

// ---- Direct output ----------------------------------------------------------------------

bool TUsbProtocol::MayStep(int32_t motorIndex) {
    if (motorIndex < 0 || motorIndex >= kMotorCount || !(UsbPort() && Connected())) return true;
    return mailbox_.MayChange(motorIndex);
}

bool TUsbProtocol::ModulePlays(int motorIndex) const {
    return motors_[motorIndex]->RunsInModule() || (resetMask_.load() >> motorIndex & 1) != 0;
}

bool TUsbProtocol::WriteDirectOutput() {
    const std::optional<DirectOutputMailbox::Output> output = mailbox_.Take();
    if (!output) return false;
    if (UsbPort() && Connected()) {
        bool modulePlays = false;
        for (int i = 0; i < kMotorCount; ++i)
            modulePlays = modulePlays || ModulePlays(i);
        if (modulePlays) {
            SendOneStepSegments(*output);
        } else {
            ports_.channel.SendReport(DirectOutputReport(output->phaseByte));
        }
    }
    mailbox_.Written();
    return true;
}

void TUsbProtocol::SendOneStepSegments(const DirectOutputMailbox::Output& output) {
    for (int i = 0; i < kMotorCount; ++i) {
        const uint8_t direction = output.direction[static_cast<size_t>(i)];
        // A motor the module plays itself keeps its coils; a change of more than one phase code
        // is no step the module could play.
        if ((output.changed >> i & 1) == 0 || ModulePlays(i) ||
            (direction != motion::kDirRight && direction != motion::kDirLeft))
            continue;
        // The motor's list is empty (it plays nothing): the step is due one tick after the
        // segment arrives, and its one step leaves the list at once.
        ports_.channel.SendReport(
            SegmentReport(i + 1, 1, direction == motion::kDirLeft ? kLeftBit : 0, 0, 1));
    }
}

void TUsbProtocol::StartDirectOutputWriter() {
    std::lock_guard lock(writerMutex_);
    if (writer_.joinable()) return;
    writer_ = std::thread([this] {
        ports_.timers.RaiseThreadPriority();
        // The wait is bounded only so that a lost wake-up cannot park a change for long.
        constexpr std::chrono::milliseconds kIdleWait{100};
        while (mailbox_.WaitForPost(kIdleWait)) {
            while (WriteDirectOutput()) {
            }
        }
    });
}

void TUsbProtocol::StopDirectOutputWriter() {
    std::lock_guard lock(writerMutex_);
    if (!writer_.joinable()) return;
    mailbox_.Stop();
    writer_.join();
}

bool TUsbProtocol::StreamPass() {
    if (portSetting_.load() != kPortUsb || !Connected() || ModuleNow() < 0) return false;
    if (!StreamingWanted()) return false;
    std::lock_guard lock(streamMutex_);
    Stream();
    return true;
}

void TUsbProtocol::StartStreamer() {
    std::lock_guard lock(writerMutex_);
    if (streamer_.joinable()) return;
    streamerStop_ = false;
    streamer_ = std::thread([this] {
        ports_.timers.RaiseThreadPriority();
        // Waits finer than the system's default 15.6 ms.
        ports_.timers.BeginPeriod(1);
        std::unique_lock lock(streamerMutex_);
        while (!streamerStop_) {
            lock.unlock();
            const bool streaming = StreamPass();
            lock.lock();
            const double wait = streaming ? kStreamPassSeconds : kStreamIdleSeconds;
            streamerWake_.wait_for(lock, std::chrono::duration<double>(wait),
                                   [this] { return streamerStop_; });
        }
        ports_.timers.EndPeriod(1);
    });
}

void TUsbProtocol::StopStreamer() {
    std::lock_guard lock(writerMutex_);
    if (!streamer_.joinable()) return;
    {
        std::lock_guard stop(streamerMutex_);
        streamerStop_ = true;
    }
    streamerWake_.notify_all();
    streamer_.join();
}

void TUsbProtocol::ResetDirectOutput() {
    uint8_t phases = 0;
    for (int i = 0; i < kMotorCount; ++i)
        phases = static_cast<uint8_t>(phases | (motors_[i]->Phase() & 3) << (2 * i));
    mailbox_.Reset(phases);
}

void TUsbProtocol::TakeModulePhase(int motorIndex, uint8_t phase) {
    motion::TStepperMotor& motor = *motors_[motorIndex];
    // A host-timed run or a jog steps this motor: the host's phase is the newer one.
    if (motor.Jogging() || (motor.Running() && motor.HostTimed())) return;
    mailbox_.TakeModulePhase(motorIndex, phase, [&motor](uint8_t p) { motor.SetPhase(p); });
}

// ---- Starts -----------------------------------------------------------------------------

void TUsbProtocol::StartMotor(int32_t motorIndex) {
    if (motorIndex < 0 || motorIndex >= kMotorCount) return;
    if (ProgramCount(motorIndex) <= 0) return;
    // Without the module nothing would play the run: the motor stays idle.
    if (!Connected()) return;
    ResumeRunInOrder();
    motion::TStepperMotor& motor = *motors_[motorIndex];
    // Stop first and outside the ring lock (it waits for the motor's timer event); a stopped
    // motor is not filled, so nothing new is queued before the discard below.
    motor.Stop();
    {
        MotorChannel& channel = channels_[motorIndex];
        std::lock_guard lock(channel.mutex);
        ClearBeforeStart(1u << motorIndex);
        channel.Discard();
        channel.startGroup = ++startGroup_;
        // Only the motor at the in-order index is streamed while "Run in order" is checked: a
        // start with no chain running begins the chain here, as a host-timed start does.
        if (runInOrder_.load() && !motors_[inOrderIndex_.load()]->Running()) {
            inOrderIndex_.store(motorIndex);
            inOrderWrapped_.store(false);
        }
        motor.SetRunning(true);
        BeginPlayback(motorIndex);
    }
    mailbox_.ModuleMoves(motorIndex);
    GetMotorStatus();
}

void TUsbProtocol::StartAll() {
    for (motion::TStepperMotor* motor : motors_)
        motor->Stop();
    if (!Connected()) return;  // nothing would play the runs: every motor stays idle
    ResumeRunInOrder();
    {
        RingLocks locks = LockAllRings();
        ClearBeforeStart(0x0F);
        const uint64_t group = ++startGroup_;
        for (MotorChannel& channel : channels_) {
            channel.Discard();
            channel.startGroup = group;
        }
        inOrderIndex_.store(0);
        inOrderWrapped_.store(false);
        const bool runInOrder = runInOrder_.load();
        for (int i = 0; i < kMotorCount; ++i) {
            if (i == 0 || !runInOrder) {
                channels_[i].startedTogether = !runInOrder;
                motors_[i]->SetRunning(true);
                BeginPlayback(i);
                mailbox_.ModuleMoves(i);
            }
        }
    }
    GetMotorStatus();
}

void TUsbProtocol::ClearBeforeStart(unsigned mask) {
    // A motor whose list may still play (an earlier run, a reset) is cleared in the module, or
    // the old queue would play first and the new run's segments would chain to it.
    const double now = ModuleNow();
    unsigned busy = 0;
    for (int i = 0; i < kMotorCount; ++i)
        if ((mask & (1u << i)) != 0 && !channels_[i].account.Empty(now)) busy |= 1u << i;
    // A run whose list has played out ends with every step it was sent.
    for (int i = 0; i < kMotorCount; ++i)
        if ((mask & ~busy & (1u << i)) != 0) SettlePlayed(i);
    if (busy == 0) return;
    const bool sent = portSetting_.load() == kPortUsb && Connected();
    if (sent) {
        if ((busy & (busy - 1)) == 0) {
            int motor = 0;
            while ((busy & (1u << motor)) == 0)
                ++motor;
            ports_.channel.SendReport(ClearCommandListReport(static_cast<uint8_t>(motor + 1)));
        } else {
            // Several motors: only the common start asks for that, and it restarts all four.
            ports_.channel.SendReport(ClearCommandListReport(0));
            busy = 0x0F;
        }
    }
    // The start's own status request, sent after this clear, brings the phases.
    const double clearTick = ModuleNow();
    for (int i = 0; i < kMotorCount; ++i) {
        if ((busy & (1u << i)) == 0) continue;
        SettleCleared(i, clearTick, sent);
        channels_[i].account.Clear();
    }
}

// ---- Module reset -----------------------------------------------------------------------

void TUsbProtocol::StartReset(int32_t target) {
    if (!Connected()) return;
    const bool one = target >= 1 && target <= kMotorCount;
    const int first = one ? target - 1 : 0;
    const int last = one ? target - 1 : kMotorCount - 1;
    // The reset interrupts the runs of the motors it resets, and a chain ends with it. The
    // motors stop before their rings are locked (a Stop waits for the motor's timer event).
    EndRunInOrder();
    for (int i = first; i <= last; ++i)
        motors_[i]->Stop();
    // From the clear to the start-reset request the range's rings stay locked: no program
    // segment of these motors can go out between their reset segments and the request.
    std::array<std::unique_lock<std::mutex>, kMotorCount> locks;
    for (int i = first; i <= last; ++i)
        locks[i] = std::unique_lock(channels_[i].mutex);
    UsbReport lastSegment{};
    ClearCommandListLocked(one ? target : 0, false);

    // Until the start-reset request has gone out, no status report may narrow the mask: one
    // answering an earlier request would end the new reset before the module has begun it.
    {
        std::lock_guard lock(statusMutex_);
        resetAnswersFrom_ = UINT64_MAX;
    }
    uint8_t mask = 0x0F;
    if (one) {
        const uint8_t bit = static_cast<uint8_t>(1u << first);
        mask = motors_[first]->ResetDirection() != motion::kDirNone
                   ? static_cast<uint8_t>(resetMask_.fetch_or(bit) | bit)
                   : resetMask_.load();
    } else {
        resetMask_.store(mask);
    }

    for (int i = first; i <= last; ++i) {
        const motion::TStepperMotor& motor = *motors_[i];
        const uint8_t direction = motor.ResetDirection();
        if (direction == motion::kDirNone) continue;
        mailbox_.ModuleMoves(i);
        const double maxFrequency = motor.MaxFrequency();
        // The period is held in single precision, as the module's reset pace always was.
        const float period = maxFrequency > 0 ? static_cast<float>(2 / maxFrequency) : 0.05f;
        int64_t ticks = SecondsToTicks(period);
        // A pace the 14 bits cannot hold would play at an arbitrary speed: keep it in range.
        if (ticks < 1) ticks = 1;
        if (ticks > kMaxPeriodTicks) ticks = kMaxPeriodTicks;
        lastSegment = SegmentReport(i + 1, ticks, direction == motion::kDirLeft ? kLeftBit : 0,
                                    kMaxSegmentSteps, kResetDelayTicks);
        ports_.channel.SendReport(lastSegment);
        channels_[i].account.SentUntilCleared(3);  // until the next clear or start
    }
    ports_.channel.SendReport(StartResetReport(mask, lastSegment));
    // The module answers requests in order: only answers to requests sent from now on, read
    // after a clock report the module surely made after it had the request, tell about this
    // reset.
    const double now = ModuleNow();
    std::lock_guard lock(statusMutex_);
    resetAnswersFrom_ = statusRequestsSent_;
    resetFreshFromTick_ = std::max(now, 0.0) + kFreshReportSeconds * TicksPerSecond();
}

void TUsbProtocol::CancelReset(int32_t target) {
    if (!Connected()) return;
    ports_.channel.SendReport(ResetCancelReport());
    ClearCommandList(target);
}

// ---- Link hooks -------------------------------------------------------------------------

void TUsbProtocol::ClearSegmentRings() {
    RingLocks locks = LockAllRings();
    // A new opening: what the module played since the last report is all the host can tell.
    const double now = ModuleNow();
    for (int i = 0; i < kMotorCount; ++i) {
        SettleCleared(i, now, false);
        channels_[i].Clear();
    }
}

void TUsbProtocol::ResetUsbBuffers() {
    // The motors first, so that none refills its ring after the clear.
    for (motion::TStepperMotor* motor : motors_)
        motor->Stop();
    ClearSegmentRings();
    clock_.Clear();
    ResetDirectOutput();
    AbandonReset();
    std::lock_guard lock(statusMutex_);
    statusRequests_.clear();  // a new opening: no answer to an old request will come
    resetAnswersFrom_ = statusRequestsSent_;
    roundTripCount_ = 0;  // nor is the read lag the old one's
    readLagSeconds_.store(0);
    openings_.fetch_add(1);
}

void TUsbProtocol::AbandonReset() {
    // No module will tell this reset's end any more: it ends in the window too.
    if (resetMask_.exchange(0) == 0) return;
    for (int32_t button = 0; button <= kMotorCount; ++button)
        ports_.window.ShowResetCaption(button);
    ports_.window.SetResetIdle();
}

void TUsbProtocol::ReceiveThreadStarted() {
    ports_.timers.RaiseThreadPriority();
    clock_.SetDefault();
    for (MotorChannel& channel : channels_)
        channel.freePlaces.store(0);
}

void TUsbProtocol::BeginPass() {
    sendFlag_ = false;
}

void TUsbProtocol::DispatchReport(const UsbReport& report, double hostSeconds) {
    if (const uint64_t openings = openings_.load(); openings != openingsSeen_) {
        openingsSeen_ = openings;
        lastClockTick_ = -1;
    }
    switch (report[1]) {
        case kClockReport:
            HandleClockReport(report, hostSeconds);
            break;
        case kStatusReport:
            HandleStatusReport(report, hostSeconds);
            break;
        default:
            return;  // a read time-out, a stack answer, anything else
    }
    // Only "USB" streams: in "USB (slow)" the host times the steps, and with a parallel port
    // selected the link is closed and the motors are host-timed.
    if (sendFlag_ && portSetting_.load() == kPortUsb) {
        // A pass of the streamer under way refills the lists as well as this one would.
        if (std::unique_lock lock(streamMutex_, std::try_to_lock); lock) {
            const double began = Now();
            Stream();
            // Reports waited unread behind this pass's writes (a start writes a dozen segments):
            // an answer read after it tells of them, not of how late reports are read.
            const double ended = Now();
            if (ended - began > kLongPassSeconds) longPassEnded_ = ended;
        }
    }
    ShowPlayback();
}

// ---- Reports ----------------------------------------------------------------------------

double TUsbProtocol::ModuleNow() const {
    return clock_.ModuleTicksAt(Now());
}

double TUsbProtocol::ReadLagTicks() const {
    // The round trips tell how late reports are read as a rule; the estimate may lag further
    // now, where every report of the latest quarter second was read late (a receive thread that
    // lost the processor a while): by as far as the line through the least delayed report since
    // the opening runs ahead of it.
    const double host = Now();
    const double behind = clock_.EnvelopeTicksAt(host) - clock_.ModuleTicksAt(host);
    return std::max(readLagSeconds_.load() * TicksPerSecond(), behind);
}

void TUsbProtocol::TakeRoundTrip(double sentSeconds, double hostSeconds) {
    // A report the module sent on its own is taken for the answer to the oldest request and
    // shortens that trip (and the next, while requests wait). A lag taken too short would have
    // the host believe segments played before they have, so the shortest trip is no measure.
    if (sentSeconds < 0 || hostSeconds < sentSeconds ||
        hostSeconds - sentSeconds > kFreshReportSeconds || sentSeconds < longPassEnded_)
        return;
    roundTrips_[nextRoundTrip_] = hostSeconds - sentSeconds;
    nextRoundTrip_ = (nextRoundTrip_ + 1) % kRoundTrips;
    roundTripCount_ = std::min(roundTripCount_ + 1, kRoundTrips);
    std::array<double, kRoundTrips> trips = roundTrips_;
    const auto middle = trips.begin() + static_cast<std::ptrdiff_t>(roundTripCount_ / 2);
    std::nth_element(trips.begin(), middle, trips.begin() + roundTripCount_);
    readLagSeconds_.store(*middle);
}

bool TUsbProtocol::StreamingWanted() const {
    for (int i = 0; i < kMotorCount; ++i) {
        if (motors_[i]->Running() || !NothingQueued(i)) return true;
    }
    return false;
}

void TUsbProtocol::LowerAccount(int motorIndex, double madeTick, int taken) {
    MotorChannel& channel = channels_[motorIndex];
    std::lock_guard lock(channel.mutex);
    FollowClock(channel);
    channel.account.Report(madeTick, taken);
    channel.freePlaces.store(channel.account.Free(ModuleNow()));
}

void TUsbProtocol::FollowClock(MotorChannel& channel) {
    if (!channel.hasOrigin || channel.originEstimate < 0) return;
    const double ahead =
        ModuleNow() - channel.originEstimate - (Now() - channel.originHost) * TicksPerSecond();
    if (ahead <= channel.caughtUp) return;
    // The largest lag shown so far, not a sum: a read that comes a little earlier than the last
    // one moves nothing that an earlier one has moved already.
    const double more = ahead - channel.caughtUp;
    channel.caughtUp = ahead;
    channel.origin += more;
    channel.account.Later(more);
}

void TUsbProtocol::TimedFrom(MotorChannel& channel, double estimate, double host) {
    channel.originEstimate = estimate;
    channel.originHost = host;
    channel.caughtUp = 0;
}

double TUsbProtocol::LateArrival(bool chained, double sentTick, double listEnd,
                                 double previousRef) const {
    // The write has returned, so the module has the segment: by the tick the host's clock
    // estimate gives now, and as much later as the module's reports are read late.
    const double arrived = std::max(ModuleNow(), 0.0) + ReadLagTicks();
    if (!chained) {
        // Timed from its arrival, a read lag after the host's lower bound: the account's
        // margin covers a write of up to one millisecond with half of it to spare; one held
        // longer, and the lag, start the new chain as much later, so that the margin always
        // keeps that spare (a segment placed where it may have ended would let the next one be
        // timed from its arrival while the module still plays it).
        return std::max(0.0, arrived - sentTick - kMarginTicks / 2);
    }
    // Chained to a list that may have run dry before the segment came (a write held up by a
    // loaded host or a busy bus): the module times it from its arrival instead of from its
    // predecessor, and every segment chained after it follows: at most the estimate's age later
    // than that. Never earlier than chained: the list may still have been playing. A segment
    // that comes in the tick of the list's last step may find it played (the module counts
    // whole ticks).
    return arrived > listEnd - 1 ? std::max(arrived + kMarginTicks / 2 - previousRef, 0.0) : 0.0;
}

bool TUsbProtocol::FinishPlayedPasses() {
    // On the module's word: the account, lowered by every report so far, has nothing playing at
    // the tick of the latest report. A list that plays later than planned (a segment that came
    // after it ran dry) showed places taken in that report, so its motor is not finished early
    // and "Run in order" never starts the next motor under the last steps of this one.
    const double now = lastClockTick_;
    if (now < 0) return false;
    bool finished = false;
    for (int i = 0; i < kMotorCount; ++i) {
        motion::TStepperMotor& motor = *motors_[i];
        if (!motor.PassCompleted()) continue;
        bool played;
        {
            MotorChannel& channel = channels_[i];
            std::lock_guard lock(channel.mutex);
            FollowClock(channel);
            played = channel.ring.AtSend().Empty() && channel.account.Empty(now);
        }
        // The module has played everything of the pass, and the host has nothing of it left to
        // send. Taken in one step, so that a Stop in between gives the pass up instead of
        // finishing it.
        if (played && motor.TakeCompletedPass()) {
            if (!motor.Running()) {
                std::lock_guard lock(channels_[i].mutex);
                SettlePlayed(i);
            }
            finished = true;
            if (StartNextInOrder()) sendFlag_ = true;
        }
    }
    return finished;
}

void TUsbProtocol::HandleClockReport(const UsbReport& report, double hostSeconds) {
    uint64_t moduleTicks = 0;
    for (int b = 7; b >= 2; --b)
        moduleTicks = moduleTicks << 8 | report[b];
    const int pairs = clock_.AddSample(hostSeconds, static_cast<double>(moduleTicks));
    // The module's first clock reports after an opening bring a status request.
    if (pairs == 2) GetMotorStatus();
    const double made = static_cast<double>(moduleTicks);
    lastClockTick_ = std::max(lastClockTick_, made);
    // A position cut short by a clear takes its phase from a status report made after the clear
    // reached the module: once a clock report shows that time has passed, one is asked for.
    bool askPhase = false;
    for (MotorChannel& channel : channels_) {
        std::lock_guard lock(channel.mutex);
        askPhase = channel.playback.AsksForFreshPhase(lastClockTick_) || askPhase;
    }
    if (askPhase) GetMotorStatus();

    // Each level promises at least its places free; the places taken are at least those below
    // the next level (0-2 free give level 0, 3-5 level 1, 6-11 level 2, 12 level 3).
    static constexpr int kTakenAtLeast[4] = {10, 7, 1, 0};
    const uint8_t levels = report[8];
    for (int i = 0; i < kMotorCount; ++i)
        LowerAccount(i, made, kTakenAtLeast[levels >> (2 * i) & 3]);
    SetSendFlag();
    if (FinishPlayedPasses()) ShowRunInOrderState();
    // Without a request the end of a module reset might never be learnt, and the Reset buttons
    // would go on offering "Cancel".
    if (resetMask_.load() != 0 && hostSeconds - lastResetPoll_ >= kResetPollSeconds) {
        lastResetPoll_ = hostSeconds;
        GetMotorStatus();
    } else if (sendFlag_ && portSetting_.load() == kPortUsb &&
               hostSeconds - lastLagProbe_ >= kLagProbeSeconds) {
        // The read lag may change while a run streams (a host that gets busy).
        lastLagProbe_ = hostSeconds;
        GetMotorStatus();
    }
}

bool TUsbProtocol::NothingQueued(int motorIndex) const {
    std::lock_guard lock(channels_[motorIndex].mutex);
    return channels_[motorIndex].ring.AtSend().Empty();
}

void TUsbProtocol::HandleStatusReport(const UsbReport& report, double hostSeconds) {
    // Host-timed steps (jogging) go on from the phase where the module left each motor.
    for (int i = 0; i < kMotorCount; ++i)
        TakeModulePhase(i, static_cast<uint8_t>(report[3] >> (2 * i) & 3));

    // Answers come in the order of the requests, but the module also reports on its own (a list
    // run empty, a reset ended): a report answers the oldest request still waiting as far as
    // the reset is concerned. Only answers to requests sent after the start-reset request, made
    // after the module had it, may narrow the reset mask.
    bool aboutTheReset = false;
    uint64_t answered;
    {
        std::lock_guard lock(statusMutex_);
        answered = statusRequestsSent_;
        if (!statusRequests_.empty()) {
            answered = statusRequests_.front().Number;
            TakeRoundTrip(statusRequests_.front().SentSeconds, hostSeconds);
            statusRequests_.pop_front();
        }
        aboutTheReset = answered > resetAnswersFrom_ && lastClockTick_ >= resetFreshFromTick_;
    }
    // Positions cut short by a clear take their phase from the answer to a request sent after it,
    // made after the latest clock report (outside the status lock: a settle holds a ring lock and
    // takes the status lock).
    CorrectToPhases(answered, lastClockTick_, report[3]);
    if (resetMask_.load() != 0 && aboutTheReset) {
        const uint8_t still = static_cast<uint8_t>(report[2] & 0x0F);
        const uint8_t mask = static_cast<uint8_t>(resetMask_.fetch_and(still) & still);
        for (int i = 0; i < kMotorCount; ++i) {
            if ((mask & (1u << i)) == 0) ports_.window.ShowResetCaption(i + 1);
        }
        if (mask == 0) {
            ports_.window.ShowResetCaption(0);
            ports_.window.SetResetIdle();
        }
    }

    // The exact places, made no earlier than the latest clock report: they may lower the
    // account, never raise it, whether the report answers a request or came on its own. A
    // motor whose reset has ended has an empty list.
    for (int i = 0; i < kMotorCount; ++i) {
        if ((report[2] & (1u << i)) == 0 && (resetMask_.load() & (1u << i)) == 0) {
            std::lock_guard lock(channels_[i].mutex);
            if (channels_[i].account.LastEnd() >= ModuleListAccount::kForever)
                channels_[i].account.Clear();
        }
        if (lastClockTick_ >= 0)
            LowerAccount(i, lastClockTick_,
                         kCommandListPlaces - std::min<int>(report[4 + i], kCommandListPlaces));
    }
    SetSendFlag();
    FinishPlayedPasses();
    ShowRunInOrderState();
}

void TUsbProtocol::ShowRunInOrderState() {
    // In "USB (slow)" the host times the runs and the window keeps "Run in order" itself.
    if (portSetting_.load() != kPortUsb) return;
    bool allIdle = true;
    for (const motion::TStepperMotor* motor : motors_)
        allIdle = allIdle && motor->Idle();
    ports_.window.EnableRunInOrder(allIdle);
}

bool TUsbProtocol::StartNextInOrder() {
    if (!runInOrder_.load()) return false;
    // Held across the start, so that a synchronous Stop or a reset (EndRunInOrder, then their
    // Stops) either comes first and no motor starts, or comes after and stops this one.
    std::lock_guard chain(chainMutex_);
    if (chainEnded_) return false;
    // Past motor 4 the chain goes on only with "Loop".
    if (inOrderWrapped_.load() && !runInOrderLoop_.load()) return false;
    const int32_t next = inOrderIndex_.load();
    if (ProgramCount(next) <= 0) return false;  // the chain found no motor with a step
    motion::TStepperMotor& motor = *motors_[next];
    motor.Stop();  // outside the ring lock: it waits for the motor's timer event
    {
        MotorChannel& channel = channels_[next];
        std::lock_guard lock(channel.mutex);
        SettlePlayed(next);
        channel.Discard();  // unsent records are given up
        inOrderWrapped_.store(false);
        motor.SetRunning(true);
        BeginPlayback(next);
    }
    mailbox_.ModuleMoves(next);
    return true;
}

// ---- What the window shows of the module's play -------------------------------------------

void TUsbProtocol::BeginPlayback(int motorIndex) {
    motion::TStepperMotor& motor = *motors_[motorIndex];
    channels_[motorIndex].playback.Begin(motor.Position(), motor.Phase(),
                                         {motor.FillStepIndex(), motor.FillStepCounter()},
                                         motor.PositionSets());
}

void TUsbProtocol::ShowPlayback() {
    if (portSetting_.load() != kPortUsb) return;
    const double now = ModuleNow();
    if (now < 0) return;
    for (int i = 0; i < kMotorCount; ++i) {
        MotorChannel& channel = channels_[i];
        // Under the ring lock: a settle on the window's thread cannot slip between the view and
        // its showing, so the last position shown is the settled one.
        std::lock_guard lock(channel.mutex);
        if (!channel.playback.Active()) continue;
        const ModulePlayback::View view = channel.playback.At(now);
        motors_[i]->ShowPlayed(view.moved, view.place.stepIndex, view.place.stepCounter);
    }
}

void TUsbProtocol::SettlePlayed(int motorIndex) {
    ModulePlayback& playback = channels_[motorIndex].playback;
    if (!playback.Active()) return;
    const ModulePlayback::View view = playback.SettlePlayed();
    motion::TStepperMotor& motor = *motors_[motorIndex];
    motor.ShowPlayed(view.moved, view.place.stepIndex, view.place.stepCounter);
    motor.EndShowPlayed();
    TakeSettledPhase(motorIndex);
}

bool TUsbProtocol::SettleCleared(int motorIndex, double clearTick, bool correctPhase) {
    ModulePlayback& playback = channels_[motorIndex].playback;
    // A reset moves the motor from here: a correction still awaited would mean nothing.
    if (!correctPhase) playback.DropCorrection();
    if (!playback.Active()) return false;
    const ModulePlayback::View view = playback.SettleAt(clearTick);
    motion::TStepperMotor& motor = *motors_[motorIndex];
    motor.ShowPlayed(view.moved, view.place.stepIndex, view.place.stepCounter);
    motor.EndShowPlayed();
    // Without a clear in the module (a new opening: perhaps another module) or where a reset
    // moves the motor next, the module's own reports tell its phase.
    if (!correctPhase) return false;
    TakeSettledPhase(motorIndex);
    uint64_t next;
    {
        std::lock_guard lock(statusMutex_);
        next = statusRequestsSent_ + 1;
    }
    // The clear reached the module by the estimate after the write, later by the read lag at
    // most: a report made after that tick knows the phase the clear left.
    playback.AwaitPhase(next, motor.Position(), motor.PositionSets(), clearTick + ReadLagTicks());
    return true;
}

void TUsbProtocol::TakeSettledPhase(int motorIndex) {
    // The host's phase of a motor the module played is the last status report's, from before
    // or during the run: a jog right after a Stop would step on from there and rewrite the
    // coils. The settled position tells the module's phase (exact wherever the position is);
    // the status answer, when one is asked for, has the last word.
    const motion::TStepperMotor& motor = *motors_[motorIndex];
    if (const std::optional<uint8_t> phase =
            channels_[motorIndex].playback.PhaseAt(motor.Position(), motor.PositionSets()))
        TakeModulePhase(motorIndex, *phase);
}

void TUsbProtocol::CorrectToPhases(uint64_t answered, double madeTick, uint8_t phases) {
    for (int i = 0; i < kMotorCount; ++i) {
        MotorChannel& channel = channels_[i];
        std::lock_guard lock(channel.mutex);
        motion::TStepperMotor& motor = *motors_[i];
        const std::optional<int32_t> steps = channel.playback.PhaseReported(
            answered, madeTick, static_cast<uint8_t>(phases >> (2 * i) & 3), motor.PositionSets());
        if (steps && *steps != 0) motor.CorrectPosition(*steps);
    }
}

// ---- Streaming --------------------------------------------------------------------------

void TUsbProtocol::Stream() {
    for (int i = 0; i < kMotorCount; ++i) {
        std::lock_guard lock(channels_[i].mutex);
        Fill(i);
    }
    // One segment per motor in turn: motors started together get their first segments out
    // back to back, instead of the last one waiting for every segment of the others (each
    // write takes the link a millisecond or more).
    for (bool sent = true; sent;) {
        sent = false;
        for (int i = 0; i < kMotorCount; ++i) {
            std::lock_guard lock(channels_[i].mutex);
            sent = SendNext(i) || sent;
        }
    }
}

void TUsbProtocol::AdvanceInOrder() {
    // StartNextInOrder ends the chain where the next motor's program is empty, or where it
    // wrapped without "Loop" (which may still be checked until then).
    const motion::InOrderNext next = motion::NextInOrder(
        inOrderIndex_.load(), kMotorCount, [this](int32_t m) { return ProgramCount(m); });
    if (next.wrapped) inOrderWrapped_.store(true);
    inOrderIndex_.store(next.motor);
}

void TUsbProtocol::Fill(int motorIndex) {
    motion::TStepperMotor& motor = *motors_[motorIndex];
    MotorChannel& channel = channels_[motorIndex];
    SegmentRing& ring = channel.ring;
    if (!motor.Running()) return;

    for (int pulled = 0; pulled < kMaxStepsPerFill;) {
        const bool runInOrder = runInOrder_.load();
        if (runInOrder && motorIndex != inOrderIndex_.load()) return;
        if (ring.Waiting() >= kMaxWaitingRecords) return;

        const double p = motor.NextPeriod();
        if (motor.PassCompleted() && runInOrder) {
            // The program has been handed out: the chain moves on, and this motor's run ends
            // with it (a looping one would otherwise be streamed again when the chain comes
            // round). The step of p stays; the next start begins at the first step anyway.
            motor.SetRunning(false);
            AdvanceInOrder();
            return;
        }
        // A period of 0 or less is never timed: the run stalls here, as a host-timed one does.
        if (!(p > 0)) return;
        // The end marker is no step: the program stays at its first step for the next start.
        if (p > kEndOfProgramLimit) return;
        const double due = motor.StepDue();
        const double stepTime = motor.NextStepTime();
        motor.AdvanceStep();
        ++pulled;

        // The run's schedule in ticks at the rate calibrated now: a better rate takes over
        // from this step on, continuing from where the steps before it lie.
        const double rate = TicksPerSecond();
        if (channel.rate == 0) {
            channel.rate = rate;
            channel.anchorDue = due;
            channel.anchorTick = due * rate;
            channel.runStart = stepTime - due;
        } else if (rate != channel.rate) {
            channel.anchorTick += (due - channel.anchorDue) * channel.rate;
            channel.anchorDue = due;
            channel.rate = rate;
        }
        const double idealTick = channel.anchorTick + (due - channel.anchorDue) * rate;
        const uint8_t direction = motor.CurrentDirection();
        if (direction != motion::kDirLeft && direction != motion::kDirRight) {
            channel.playback.Pulled(idealTick + channel.planner.Behind(), p * rate, false,
                                    {motor.FillStepIndex(), motor.FillStepCounter()});
            // A pause: no step, but its time passes; the next step begins a new record.
            if (channel.planner.Break()) {
                Record(ring.AtFill(), channel.planner.Closed(), channel);
                ring.FillIndex = SegmentRing::Next(ring.FillIndex);
            }
            continue;
        }
        channel.playback.Pulled(idealTick + channel.planner.Behind(), p * rate, true,
                                {motor.FillStepIndex(), motor.FillStepCounter()});
        const uint8_t directionBit = direction == motion::kDirLeft ? kLeftBit : 0;
        if (channel.planner.Add(idealTick, p * rate, directionBit, motor.PassCount())) {
            Record(ring.AtFill(), channel.planner.Closed(), channel);
            ring.FillIndex = SegmentRing::Next(ring.FillIndex);
        }
        Record(ring.AtFill(), channel.planner.Open(), channel);
    }
}

bool TUsbProtocol::HeldUp(double hostSeconds, double moduleTick) {
    // How long the segment written after reckoning at hostSeconds (module tick moduleTick)
    // took to reach the module, against the one before it where that went out lately: a link
    // that is slow for every write (a busy bus, a busy host) holds up none of them, and taking
    // segments back would only slow it further.
    const double took = clock_.ModuleTicksAt(Now()) - moduleTick;
    const double usual = hostSeconds - lastWriteHost_ < kLeadSeconds ? lastWriteTicks_ : 0;
    lastWriteTicks_ = took;
    lastWriteHost_ = hostSeconds;
    return took > std::max(kMarginTicks, usual + kMarginTicks / 2);
}

int64_t TUsbProtocol::DelayFromArrival(MotorChannel& channel, double now) {
    // The module times a segment that reaches an idle list from its arrival: its first step is
    // due at the run's origin plus its tick. A segment that can no longer make that (the list
    // ran dry) goes at once, and the rest of the run follows it.
    const SegmentRecord& record = channel.ring.AtSend();
    const double due = channel.origin + static_cast<double>(record.RefTick);
    int64_t delay = static_cast<int64_t>(std::llround(due - std::max(now, 0.0)));
    if (delay < 1) {
        channel.origin += static_cast<double>(1 - delay);
        delay = 1;
    }
    return delay;
}

void TUsbProtocol::Record(SegmentRecord& record, const SegmentPlanner::Segment& segment,
                          const MotorChannel& channel) {
    record = SegmentRecord{
        segment.period,    channel.runStart + static_cast<double>(segment.refTick) / channel.rate,
        segment.steps - 1, segment.directionBit,
        segment.pass,      true,
        segment.refTick};
}

bool TUsbProtocol::SendNext(int motorIndex) {
    motion::TStepperMotor& motor = *motors_[motorIndex];
    MotorChannel& channel = channels_[motorIndex];
    SegmentRing& ring = channel.ring;
    SegmentRecord& record = ring.AtSend();
    if (record.Empty()) return false;

    FollowClock(channel);
    double hostNow = Now();
    double now = clock_.ModuleTicksAt(hostNow);
    const int32_t places = channel.account.Free(now);
    channel.freePlaces.store(places);
    const int32_t needed = record.ExtraSteps > 0 ? 3 : 2;
    if (places < needed) return false;

    // The run's first segment fixes its origin, the module tick of its tick 0: a lead from now,
    // shared by the motors started with it.
    if (!channel.hasOrigin) {
        std::lock_guard lock(originMutex_);
        if (originGroup_ != channel.startGroup || channel.startGroup == 0) {
            originGroup_ = channel.startGroup;
            groupOrigin_ = std::max(now, 0.0) + kLeadSeconds * TicksPerSecond();
        }
        channel.origin = groupOrigin_;
        channel.hasOrigin = true;
    }

    const bool empty = channel.account.Empty(now);
    const bool chained = channel.chained && !empty;
    // The list this segment joins: the earliest its last step may lie, and the first step of
    // the segment it is chained to as the host places it.
    const double listEnd = channel.account.LastEnd() - kMarginTicks - channel.earlyLead;
    const double previousRef = channel.origin + static_cast<double>(channel.lastRefTick);
    int64_t delay = record.RefTick - channel.lastRefTick;
    if (chained) {
        // Chained: the exact distance in ticks between the two segments' first steps as planned,
        // so the module plays the run on the planner's ticks. That needs the list still playing
        // when the segment arrives; when it may have run dry, wait until it surely has. The
        // module's clock may be ahead of the host's lower bound by the read lag.
        if (listEnd <= now + ReadLagTicks() + kMarginTicks) return false;
        if (delay > kMaxDelayTicks) return false;  // waits for the list to run empty
    } else {
        delay = DelayFromArrival(channel, now);
        if (delay > kMaxDelayTicks) return false;  // waits on the host for a later pass
    }

    const int steps = record.ExtraSteps > 0 ? record.ExtraSteps + 1 : 0;
    const auto send = [&] {
        ports_.channel.SendReport(
            SegmentReport(motorIndex + 1, record.IntervalTicks, record.DirectionBit, steps, delay));
    };
    send();
    const bool heldUp = HeldUp(hostNow, now);
    if (!channel.chained && channel.startedTogether && heldUp &&
        channel.origin + static_cast<double>(record.RefTick) >
            clock_.ModuleTicksAt(Now()) + ReadLagTicks() + kMarginTicks) {
        // The first segment of a motor started with others, whose write was held up (the host
        // lost the processor between reckoning its delay and writing it): timed from its
        // arrival, it would start this motor as much after the others. The lead leaves time to
        // take it back before its first step and send it again, timed anew. Once: a second
        // write held up as long starts the motor late, and the rest of its run follows.
        ports_.channel.SendReport(ClearCommandListReport(static_cast<uint8_t>(motorIndex + 1)));
        hostNow = Now();
        now = clock_.ModuleTicksAt(hostNow);
        delay = DelayFromArrival(channel, now);
        send();
        HeldUp(hostNow, now);
    }
    // A segment the module times from its arrival times the run anew, from the estimate its
    // delay was reckoned from, or from the one after the write where that came too late.
    const double late = LateArrival(chained, std::max(now, 0.0), listEnd, previousRef);
    channel.origin += late;
    // The earliest the module can play the segment: chained, as early as its predecessor (even
    // where it came after the list ran dry, which it then did after that predecessor's first
    // step); timed from its arrival, as if it arrived the moment the delay was reckoned. Less
    // the read lag, which the place includes and the test for a chain adds to the clock.
    const double lag = ReadLagTicks();
    if (chained) {
        channel.earlyLead += std::max(late - lag, 0.0);
    } else {
        channel.earlyLead = std::max(channel.origin + static_cast<double>(record.RefTick) -
                                         (std::max(now, 0.0) + static_cast<double>(delay)) - lag,
                                     0.0);
    }
    if (late > 0) {
        const double after = Now();
        TimedFrom(channel, clock_.ModuleTicksAt(after), after);
    } else if (!chained) {
        TimedFrom(channel, now, hostNow);
    }
    const double lastStep = channel.origin + static_cast<double>(record.RefTick) +
                            static_cast<double>(record.ExtraSteps * record.IntervalTicks);
    channel.account.Sent(needed, lastStep + kMarginTicks);
    const double firstTick = channel.origin + static_cast<double>(record.RefTick);
    const double period = static_cast<double>(record.IntervalTicks);
    const int32_t playedSteps = record.ExtraSteps + 1;
    const int sign = record.DirectionBit == kLeftBit ? -1 : 1;
    channel.freePlaces.store(places - needed);
    channel.lastRefTick = record.RefTick;
    channel.chained = true;
    motor.SetLastSentTime(record.RefTime);
    record = SegmentRecord{};
    // A segment timed from its arrival plays as much later as the link held it (the write
    // returns once the module has it), and the segments chained to it with it. LateArrival
    // moves the origin only beyond its margin; the record places the steps to the tick.
    if (!chained) channel.playLag = std::max(ModuleNow() - now, 0.0);
    // The first segment after a clear starts the steps that a report of the phase the clear
    // left must come before.
    if (!chained) channel.playback.CloseCorrection(firstTick - channel.earlyLead);
    channel.playback.Sent(firstTick + channel.playLag, period, playedSteps, sign,
                          channel.origin + channel.playLag);
    // Sending the open record closes it: the fill goes on in the next one. Otherwise
    // SendIndex would run one ahead of FillIndex and the ring would read as full for ever.
    if (ring.SendIndex == ring.FillIndex) {
        ring.FillIndex = SegmentRing::Next(ring.FillIndex);
        channel.planner.Close();
    }
    ring.SendIndex = SegmentRing::Next(ring.SendIndex);
    return true;
}

}  // namespace usb
