// TUsbProtocol: the host side of the USB motor controller module's command set.
//
// In the port setting "USB" (0) the module times the steps: the receive thread turns each
// running motor's program into timed segments (a period in module ticks, a direction, up to 255
// steps, a delay from the motor's previous segment), keeps up to 8 of them per motor in a
// SegmentRing, and sends them as the module's clock and status reports show free places in its
// command list of 12 places. The reports also calibrate the module's tick rate, bring back the
// motor phases, end module resets and finish motors ("Run in order" goes on from here). In "USB
// (slow)" (1) nothing is streamed: the host times the steps and sends the phases as direct
// output. The commands of the window's buttons (clear, status, stack, reset, starts) live here
// too, each sent only in the port settings that use it.
//
// Promises beyond the bare command set:
// - Step times: every step is due at its time on the run's ideal schedule (TStepSchedule, via
//   the sequencer's StepDue), turned into module ticks from the run's start at the rate the
//   calibration gives when the step is planned: a better rate takes over from the step where it
//   comes, continuing from the ticks before it, so a run follows the calibration as it improves
//   without a jump. Pauses advance that schedule without sending anything.
// - Free places: the host's own account of each motor's list (ModuleListAccount), from the
//   segments it sent and the module's clock: a segment frees its places when its last step has
//   surely played. Clock and status reports, asked for or sent by the module on its own, in
//   whatever order they come, can only lower that account, never raise it. So the host never
//   overfills a list (the module drops what does not fit) and never waits for a report to send.
//   A write that returns later than planned (a loaded host, a busy bus) may have brought a
//   chained segment after its list ran dry: the module then plays it, and the rest of the run
//   chained after it, from its arrival; the run's origin moves on by as much as that can be, so
//   the account never frees their places early. Likewise when the host's estimate of the
//   module's clock catches up (reports read late while the origin was timed, at the run's start
//   or when a segment went to a list that had run dry, then at once): the origin lagged by as
//   much, and moves on with it. Where the host cannot tell when a write reached the module, it
//   frees places at the latest end the list may have and chains a segment only while even the
//   earliest end lies ahead (earlyLead), whatever order and timing the reports and writes have.
// - Stocked ahead: a streamer thread of its own refills each running motor's list every
//   kStreamPassSeconds with as many segments as places have come free by the account (one
//   segment per motor in turn), and so does every report at once; the ring keeps up to 7 more
//   planned on the host. Streaming thus never waits for a report: a receive thread held up
//   (300 ms, say) or reports that come late or in a burst leave the lists stocked. A list holds at
//   least three of its segments less those 2 ms and the link's queue: some 100 ms at 1000
//   steps/s, 50 ms at 2500, and 10 to 20 ms at 5000 to 7000 steps/s with four motors on the 1 ms
//   link. At high rates the places set the limit, not the host: whole-tick periods drift from the
//   schedule's interval (1 and 2 ticks against 1.56 at 5000 steps/s, half a tick a step), so a
//   segment that keeps every step within the bound holds about 28 steps (6 ms), and 12 places
//   hold about 22 ms; no planner can make segments longer without breaking the bound. A write
//   held up longer than what a list holds runs it dry: the next segment is timed from its
//   arrival, the rest of the run follows it, and nothing is lost or played out of order.
// - Segments are planned by a SegmentPlanner: whole-tick periods and lengths that keep every
//   step within 8 ticks (1 ms) of its due tick, each segment beginning where its predecessor
//   ended, so that no segment is due before its predecessor's last step.
//   A record's RefTick is its first step's tick from the run's start and RefTime the host time
//   of it; a chained segment's delay is the difference of the two RefTicks, exact in ticks.
// - Every delay sent lies in 1..16382 ticks and every period in 1..16383. The planner keeps the
//   next reference within reach while the steps are closer than 16382 ticks; a segment whose
//   gap does not fit (a long pause, steps slower than about 0.48 per second) waits on the host
//   until the module's list is empty, and then goes out with its delay from now, so the module
//   never counts it from a segment still playing. A lone slow step's period does not matter
//   (it plays one step): it is sent as 16383.
// - A start clears the list of a motor whose list may still play (an earlier run, a reset), so
//   the new run never plays after an old queue. The run's first step is due kLeadSeconds after
//   its first segment goes out, so the first segments of every motor started with it reach the
//   module before it; motors started together share that first tick. The module times a first
//   segment from its arrival, so one whose write was held up more than kMarginTicks is cleared
//   from its list and sent again, timed anew, and starts with the others. Every later segment is
//   chained to the one before; one that finds the list run dry is timed from now to its tick on
//   the run's schedule, or at once when that has passed (the rest of the run follows it).
// - A step period of 0 or less (a frequency of 0, or negative) stalls the stream at that step
//   with the motor still running, as a host-timed run stalls. Steps closer than one tick (above
//   7812.5 per second) play one tick apart, the fastest the module can time, and the run falls
//   behind its schedule by as much; the steps after them keep their own spacing.
// - Discarding a motor's queue (its start) empties every record still queued, also the open
//   one, so nothing of an earlier run is sent or merged into the new one.
// - Sending the open record (the sender has caught up with the fill) closes it, so that the
//   fill goes on in the next record instead of finding the ring full for ever.
// - The last records of a program stay chained after the program's end has been pulled: the
//   delay counts from the last segment sent since the ring was emptied, which the protocol
//   keeps itself (the sequencer clears LastSentTime at the end of a program).
// - "Run in order": the search for the next motor with a program step looks at each motor once
//   at most; a chain in which no motor has a step ends. A chain that has passed motor 4 goes on
//   with the first motor only when the run-in-order "Loop" is checked, whatever motor it goes
//   on with, and a motor with an empty program is never started by the chain.
// - A motor whose streamed pass has played to its end by the host's account is finished at the
//   next report, without asking for a status report.
// - The window follows the module (ModulePlayback): at every report each running motor's
//   position, symbol and program place move to what has played by the module's clock as the
//   host knows it. A run that ends by itself leaves the position at the steps the module
//   played; one cut short by a clear leaves the plan's count at the tick the clear took effect,
//   corrected by the phase of a status report surely made after the clear reached the module
//   (a clock report made since was read before it) and before the next run's first step.
// - One fill pulls at most kMaxStepsPerFill steps from a motor, so that a long pause (or a
//   looping program of pauses only) cannot hold the receive thread.
// - A stream pass sends one segment per motor in turn, so that the first segments of motors
//   started together reach the module back to back and their runs begin within a millisecond.
// - Direct output (host-timed steps in "USB (slow)", jogs and space steps in both USB modes)
//   never holds the thread that steps: the phases go into a DirectOutputMailbox, and a writer
//   thread sends the latest of them whenever the link is free, so one report carries every
//   motor's latest phase. A motor whose last change the writer has not yet taken does not step
//   (MayStep, the motors' step gate): its step waits for the link rather than skip a phase code.
// - While the module plays a run or a reset of any motor, no direct output goes out (it would
//   set that motor's coils to the host's stale phase); the host's steps of the other motors go
//   out as one-step segments through their own lists instead.
// - A status report's phases replace the host's only for motors that no host-timed run or jog
//   steps, that the module has moved itself since the host last set them, and whose change is
//   not waiting or being written (DirectOutputMailbox): a report older than the host's latest
//   direct output never sets a motor back by a step.
//
// Threads and locks:
// - Receive thread: ReceiveThreadStarted, BeginPass, DispatchReport (with the streaming).
// - The streamer's thread: StreamPass. One stream pass runs at a time (streamMutex_, taken
//   before any ring lock); a report that comes while the streamer streams leaves it to it.
// - Window's thread: the commands, the starts, the reset, ClearSegmentRings, ResetUsbBuffers,
//   the window-state setters. DirectOutput and MayStep also from a motor's timer thread; they
//   never wait for the link. The direct-output writer's thread: WriteDirectOutput, which takes
//   no ring lock (it sends only to motors the module does not play). The receive, streamer
//   and writer threads run ahead of the PC's ordinary work (RaiseThreadPriority): their
//   delays cost steps.
// - Each motor's ring and its two indices are guarded by that motor's ring lock: the receive
//   thread holds it for one motor's fill and send, the window's thread while it clears, starts
//   or discards. Lock order: ring locks (ascending motor index when several) before a motor's
//   own lock and before the write channel. So a ring lock may be held across SendReport and
//   across motor calls that do not wait (NextPeriod, SetRunning, the field accessors), but
//   never across TStepperMotor::Stop (it waits for the motor's timer event, which may be
//   sending) or a call of the window port. Nothing that holds a motor's lock or the write
//   channel ever asks for a ring lock, so no cycle can form; a window-thread caller waits at
//   most for one segment's write.
// - Each motor's list account lives under its ring lock. The origin shared by motors started
//   together is guarded by a lock of its own, taken under a ring lock and holding nothing else.
// - The window state (port setting, the two check boxes), the reset mask, the in-order index
//   and the free places are atomics. The window must not hold a motor's program lock
//   (TStepperMotor::LockProgram) while it calls in here.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

#include "motion/PortSetting.h"
#include "motion/StepGate.h"
#include "motion/StepperMotor.h"
#include "platform/TimerService.h"
#include "usb/ClockCalibration.h"
#include "usb/DirectOutputMailbox.h"
#include "usb/ModuleListAccount.h"
#include "usb/ModulePlayback.h"
#include "usb/ReportChannel.h"
#include "usb/SegmentPlanner.h"
#include "usb/SegmentRing.h"
#include "usb/UsbProtocolWindow.h"
#include "usb/UsbReport.h"

namespace usb {

class TUsbProtocol final : public motion::StepGate {
  public:
    static constexpr int kMotorCount = 4;
    static constexpr int16_t kPortUsb = motion::kUsbPortSetting;
    static constexpr int16_t kPortUsbSlow = motion::kUsbSlowPortSetting;

    static constexpr int kMaxWaitingRecords = 7;  // closed records per motor on the host
    static constexpr int kMaxStepsPerFill = 4096;
    // Status requests whose answers are awaited; older ones are taken as never answered.
    static constexpr size_t kMaxStatusRequestsWaiting = 16;
    // NextPeriod answers above this mean that no further step follows.
    static constexpr double kEndOfProgramLimit = 99999900000000.0;
    // A run's first step is due this long after the first of its segments goes out, so that the
    // first segments of every motor started together are in the module before it: 16 segments
    // (four motors, four each) take 16 ms on a link of one report per millisecond, 32 ms at 2 ms
    // a report. Motors started together share that first tick.
    static constexpr double kLeadSeconds = 0.05;
    // What the host cannot know of the module's clock when it plans a segment's end: the link's
    // wait for its frame and the age of the freshest clock report (2 ms).
    static constexpr double kMarginTicks = 16;
    // While a module reset goes on, a status request at most this often: the module tells the end
    // of a reset only in status reports, and sends those only when asked.
    static constexpr double kResetPollSeconds = 0.05;
    // Wider than the host's estimate of the module's clock can run behind it.
    static constexpr double kFreshReportSeconds = 0.05;
    // A receive thread's stream pass this long (a few segment writes) left reports unread: the
    // round trips of requests sent before it ended are no measure of the read lag.
    static constexpr double kLongPassSeconds = 0.005;
    // While a module-timed run streams, a status request at most this often: its round trip
    // measures how late the module's reports are read (ReadLagTicks).
    static constexpr double kLagProbeSeconds = 0.25;
    // The read lag is the middle one of up to this many latest round trips: a receive thread
    // held now and then lengthens single ones, a report the module sent on its own shortens
    // single ones. It may still hold a busy host's delay, and is only ever used where a lag
    // taken too long errs safe. The first trip (the request after an opening) counts already:
    // a run started before more come has a lag to go by. A trip longer than kFreshReportSeconds is
    // no lag but a stall, or an answer lost from a full buffer (the next report is then taken for
    // it, a request later): it is left out.
    static constexpr size_t kRoundTrips = 8;
    // The streamer refills the lists this often while a motor streams, and looks this often
    // for one that starts otherwise (a report's pass streams a start at once anyway).
    static constexpr double kStreamPassSeconds = 0.002;
    static constexpr double kStreamIdleSeconds = 0.05;
    // The reset segment's delay, 639 ticks.
    static constexpr int64_t kResetDelayTicks = 0x027F;

    struct Ports {
        ReportChannel& channel;
        platform::TimerService& timers;  // the host clock (its fine Seconds)
        UsbProtocolWindow& window;
    };

    // motors: the window's four motors, motor index 0 to 3; they outlive this object.
    TUsbProtocol(Ports ports, const std::array<motion::TStepperMotor*, kMotorCount>& motors);
    // Ends the direct-output writer, if started.
    ~TUsbProtocol();
    TUsbProtocol(const TUsbProtocol&) = delete;
    TUsbProtocol& operator=(const TUsbProtocol&) = delete;

    // Window state read on the receive thread; set by the window's thread.
    void SetPortSetting(int16_t value) { portSetting_.store(value); }
    int16_t PortSetting() const { return portSetting_.load(); }
    void SetRunInOrder(bool checked) { runInOrder_.store(checked); }
    void SetRunInOrderLoop(bool checked) { runInOrderLoop_.store(checked); }

    // Commands (window's thread). target 0 = all motors, 1 to 4 = one motor.
    // USB: sends the ClearCommandList command; every port setting: empties the host ring(s) and
    // their indices. A target outside 0..4 does nothing. Stop the motor(s) first, or a running
    // motor refills its ring at once.
    void ClearCommandList(int32_t target);
    // USB and USB (slow), connected: asks the module for a status report. Also receive thread.
    void GetMotorStatus();
    // USB and USB (slow), connected: kind kProgramStack or kDataStack.
    void RequestStack(uint8_t kind);
    // USB and USB (slow), connected: the output update of the motor phases. Any thread; never
    // waits for the link: the phases go into a mailbox that the direct-output writer empties.
    void DirectOutput(uint8_t phaseByte);
    // The step gate of the four motors: in the USB port settings, while connected, a motor may
    // not change again before the writer has taken its last change (DirectOutputMailbox).
    bool MayStep(int32_t motorIndex) override;
    // The direct-output writer's work: takes the latest phases, when any changed, and sends
    // them; false when there was nothing to send. While the module plays a run or a reset of
    // any motor, a direct output would rewrite that motor's coils with the host's stale phase:
    // then each changed motor's step goes out as a one-step segment through its own list
    // instead. A thread of its own runs it once started (the window); tests call it directly.
    bool WriteDirectOutput();
    void StartDirectOutputWriter();
    void StopDirectOutputWriter();

    // The streamer's work: in "USB", with the link open and the module's clock known, refills
    // the running motors' lists by the host's account alone, without a report; false when no
    // motor streams. A thread of its own runs it every kStreamPassSeconds once started (the
    // window, with the system timer at 1 ms); tests call it directly.
    bool StreamPass();
    void StartStreamer();
    void StopStreamer();

    // Starts in "USB" mode (window's thread). One motor, when its program has a step: queue
    // discarded, Stop, SetRunning(true), status request. With "Run in order" checked and no
    // chain running, the chain goes on from this motor.
    void StartMotor(int32_t motorIndex);
    // The common start: all queues discarded and all motors stopped, in-order index 0, motor 1
    // running and, without "Run in order", motors 2 to 4 as well; then a status request.
    void StartAll();

    // The operator stopped every motor (synchronous Stop) or a reset begins: "Run in order"
    // starts no further motor until the next start (window's thread, before the Stops).
    void EndRunInOrder();

    // Module reset (window's thread, when connected). target 0 (or outside 1..4) = all motors.
    // The motors it resets stop first, and the chain ends.
    void StartReset(int32_t target);
    void CancelReset(int32_t target);
    // The reset in progress can no longer end in the module (the link was reopened or closed):
    // the mask is emptied, every Reset button shows "Reset" and the reset-idle flag is set.
    void AbandonReset();

    // Hooks of the link (UsbLinkClient's receive-side and buffer calls, forwarded by the
    // window, which keeps ReleaseParallelPort for itself).
    void ClearSegmentRings();     // window's thread, opening
    void ResetUsbBuffers();       // window's thread, opening and start-up
    void ReceiveThreadStarted();  // receive thread
    void BeginPass();             // receive thread
    void DispatchReport(const UsbReport& report, double hostSeconds);  // receive thread

    // State, any thread.
    double TicksPerSecond() const { return clock_.TicksPerSecond(); }
    int64_t SecondsToTicks(double seconds) const { return clock_.SecondsToTicks(seconds); }
    int ClockSampleIndex() const { return clock_.ClockSampleIndex(); }
    uint8_t ResetMask() const { return resetMask_.load(); }
    int32_t InOrderIndex() const { return inOrderIndex_.load(); }
    int32_t FreePlaces(int motorIndex) const { return channels_[motorIndex].freePlaces.load(); }
    bool SendFlag() const { return sendFlag_; }  // receive thread
    struct RingState {
        int FillIndex;
        int SendIndex;
        int Waiting;           // closed records between SendIndex and FillIndex
        SegmentRecord AtSend;  // the next record to send
        SegmentRecord AtFill;  // the open record
    };
    RingState Ring(int motorIndex) const;

  private:
    struct MotorChannel {
        mutable std::mutex mutex;  // the ring lock
        SegmentRing ring;
        std::atomic<int32_t> freePlaces{0};  // the account's figure after the last pass
        ModuleListAccount account;
        // The run being streamed: its segments as planned, in ticks from the run's first tick.
        // The run's schedule in seconds turns into ticks at the calibrated rate of the moment
        // each step is planned, joined without a jump: a step at `due` seconds lies at
        // anchorTick + (due - anchorDue) x rate. `origin` is the module tick of the run's tick 0,
        // fixed when its first segment goes out (shared by the motors started together).
        SegmentPlanner planner;
        // How far the module has played the run, for the window, and how much later than
        // planned the run plays (the link held its latest segment timed from arrival).
        ModulePlayback playback;
        double playLag = 0;
        double rate = 0;  // 0: no step of the run planned yet
        double anchorDue = 0, anchorTick = 0;
        double runStart = 0;  // host seconds of the run's schedule start
        uint64_t startGroup = 0;
        bool startedTogether = false;  // by the common start, beside the other motors
        bool hasOrigin = false;
        double origin = 0;
        // The host's estimate of the module's clock (and the host time) that the origin was
        // last timed from: the send of a segment the module times from its arrival. And how far
        // later estimates have shown that one to lag (FollowClock).
        double originEstimate = 0, originHost = 0, caughtUp = 0;
        int64_t lastRefTick = 0;
        bool chained = false;
        // How much earlier than the origin has it the module may play this list. A segment
        // timed from its arrival is placed at the latest arrival the host can tell (so that the
        // account never frees its places early), but it may have arrived at any moment of its
        // write: a segment chained to it is sent only while even the earliest end lies ahead.
        double earlyLead = 0;

        void Clear() {
            ring.Clear();
            account.Clear();
            NewRun();
        }
        void Discard() {
            ring.Discard();
            NewRun();
        }
        void NewRun() {
            planner.Reset();
            rate = 0;
            anchorDue = anchorTick = runStart = 0;
            hasOrigin = false;
            origin = originEstimate = originHost = caughtUp = 0;
            lastRefTick = 0;
            chained = false;
            startedTogether = false;
            playLag = 0;
            earlyLead = 0;
        }
    };
    using RingLocks = std::array<std::unique_lock<std::mutex>, kMotorCount>;

    bool Connected() const { return ports_.channel.Connected(); }
    bool UsbPort() const;  // port setting 0 or 1
    double Now() const;
    RingLocks LockAllRings();
    // ClearCommandList with the ring locks of its target already held.
    // correctPhase: a position cut short is corrected to the module's phase afterwards (not
    // where a reset moves the motor next).
    void ClearCommandListLocked(int32_t target, bool correctPhase = true);
    // The window follows the module's play of each motor's run (under the motor's ring lock):
    // BeginPlayback as a run starts (after SetRunning), ShowPlayback at every report, and the
    // settles as the run ends: every segment played, or cut short by a clear that took effect at
    // module tick clearTick. SettleCleared returns true when it awaits a status report's phase:
    // the caller then asks for one, after the clear.
    void BeginPlayback(int motorIndex);
    void ShowPlayback();
    void SettlePlayed(int motorIndex);
    bool SettleCleared(int motorIndex, double clearTick, bool correctPhase);
    // The settled position's phase becomes the host's (under the ring lock).
    void TakeSettledPhase(int motorIndex);
    // A status report answering request `answered`, made at module tick madeTick or later,
    // corrects the positions that await it.
    void CorrectToPhases(uint64_t answered, double madeTick, uint8_t phases);
    void ResumeRunInOrder();
    int32_t ProgramCount(int motorIndex) const;
    // A motor runs or has records queued (no ring lock held): the send flag's rule.
    bool StreamingWanted() const;
    void SetSendFlag() { sendFlag_ = sendFlag_ || StreamingWanted(); }

    // No record of the motor waits on the host (takes the ring lock).
    bool NothingQueued(int motorIndex) const;
    // The module's clock now as the host knows it, at the least (-1 before any clock report).
    double ModuleNow() const;
    // How late the module's reports are read, in ticks (0 until measured). Reports that are
    // always read a few milliseconds late look like an offset of the clock, and ModuleNow runs
    // that much behind: a segment meant to join a list still playing would reach one that has
    // run dry and play later than the account has it, which frees its places too early. So
    // whether a list may have run dry, and when a segment arrived, count with the lag; places
    // still come free on ModuleNow alone, never before they truly are. A lag taken too long
    // only holds a segment back or moves the account later. Reports read later for a while than
    // the round trips have shown count as well (ClockCalibration::EnvelopeTicksAt).
    double ReadLagTicks() const;
    // A report made at madeTick or later shows at least `taken` places of the motor taken.
    void LowerAccount(int motorIndex, double madeTick, int taken);
    // The run's origin was timed from the host's estimate of the module's clock (when its first
    // segment went out, and again whenever a segment went to a list that had run dry), which
    // lags the module by as late as the freshest reports were read. When a later estimate runs
    // ahead of that one carried on at the rate, the origin lagged by at least as much: the
    // module plays the run that much later than planned, so the origin and the account's ends
    // move on. Under the channel's ring lock.
    void FollowClock(MotorChannel& channel);
    // The origin was timed anew from the estimate `estimate` taken at host time `host`.
    static void TimedFrom(MotorChannel& channel, double estimate, double host);
    // After a segment's write: how many ticks later than planned the module may play it (and
    // the run chained after it). sentTick: the module's clock when the send was decided;
    // listEnd: the planned tick of the last step it joins; previousRef: the first step of the
    // segment it is chained to.
    double LateArrival(bool chained, double sentTick, double listEnd, double previousRef) const;
    // Finishes every motor whose streamed pass the module has played to its end; true when one
    // was finished.
    bool FinishPlayedPasses();
    // In "USB": tells the window whether every motor is idle, so "Run in order" may be used.
    void ShowRunInOrderState();
    // Clears the command lists in the module of the motors in `mask` (bit i = motor i) that may
    // still hold segments, before a new run. Their ring locks held.
    void ClearBeforeStart(unsigned mask);
    // The module plays a run or a reset of the motor: its coils are the module's.
    bool ModulePlays(int motorIndex) const;
    // A changed motor's step as a segment of one step, due a tick after it arrives.
    void SendOneStepSegments(const DirectOutputMailbox::Output& output);
    // A new opening: no direct output waits, and the module's phases count for every motor.
    void ResetDirectOutput();
    // The status report's phase of a motor, where it may replace the host's.
    void TakeModulePhase(int motorIndex, uint8_t phase);
    void HandleClockReport(const UsbReport& report, double hostSeconds);
    void HandleStatusReport(const UsbReport& report, double hostSeconds);
    // A status answer read at hostSeconds to a request that went out at sentSeconds.
    void TakeRoundTrip(double sentSeconds, double hostSeconds);
    // Starts the motor at the in-order index after a finished one; false when none is started.
    bool StartNextInOrder();
    void Stream();
    // Under the motor's ring lock.
    void Fill(int motorIndex);
    // Sends the motor's next segment when the module has room for it; false when none went.
    bool SendNext(int motorIndex);
    // The delay of the motor's next segment when the module times it from its arrival, reckoned
    // at module tick now; moves the run's origin on where that tick has passed.
    static int64_t DelayFromArrival(MotorChannel& channel, double now);
    // Whether the segment just written after reckoning at hostSeconds took much longer than the
    // link's writes do lately; remembers how long it took. Under streamMutex_.
    bool HeldUp(double hostSeconds, double moduleTick);
    // Writes a planned segment into a ring record.
    static void Record(SegmentRecord& record, const SegmentPlanner::Segment& segment,
                       const MotorChannel& channel);
    void AdvanceInOrder();

    Ports ports_;
    std::array<motion::TStepperMotor*, kMotorCount> motors_;
    ClockCalibration clock_;
    std::array<MotorChannel, kMotorCount> channels_;

    std::atomic<int16_t> portSetting_{kPortUsb};
    std::atomic<bool> runInOrder_{false};
    std::atomic<bool> runInOrderLoop_{false};
    std::atomic<uint8_t> resetMask_{0};
    std::atomic<int32_t> inOrderIndex_{0};
    // The run-in-order search has passed from motor 4 to motor 1 since the chain last started.
    std::atomic<bool> inOrderWrapped_{false};
    // The number of status requests sent so far when each one not yet answered went out. Under
    // statusMutex_.
    struct StatusRequest {
        uint64_t Number;          // 1 for the first request ever sent
        double SentSeconds = -1;  // when its write returned: the module had it
    };
    std::mutex statusMutex_;
    // The requests not yet answered, oldest first (the module answers in order); the number of
    // requests sent so far; and that number when the latest start-reset request went out: only
    // answers to later requests may narrow the reset mask. UINT64_MAX while a reset is being
    // started. Under statusMutex_.
    std::deque<StatusRequest> statusRequests_;
    uint64_t statusRequestsSent_ = 0;
    uint64_t resetAnswersFrom_ = 0;
    // The module also reports on its own, and a report it made before it had the start-reset
    // request (a cancelled reset's end, say) may still be on its way and be taken for the
    // answer to a later request. Reports are read in the order they were made, so once a clock
    // report made kFreshReportSeconds after the request went out has been read (lastClockTick_
    // has reached this tick), every later report tells about this reset. Under statusMutex_.
    double resetFreshFromTick_ = -1;
    // The latest round trips of status requests (seconds; the first roundTripCount_ hold one),
    // and the read lag they give. The trips under statusMutex_.
    std::array<double, kRoundTrips> roundTrips_{};
    size_t roundTripCount_ = 0;
    size_t nextRoundTrip_ = 0;
    std::atomic<double> readLagSeconds_{0};
    double lastLagProbe_ = -1e300;  // host seconds; receive thread only
    // When the receive thread's latest stream pass longer than kLongPassSeconds ended: the answer
    // to a request sent before then may have waited behind its writes. Receive thread only.
    double longPassEnded_ = -1e300;
    // "Run in order" was ended by a synchronous Stop or a reset; cleared by the starts.
    std::mutex chainMutex_;
    bool chainEnded_ = false;
    bool sendFlag_ = false;          // receive thread only
    double lastResetPoll_ = -1e300;  // host seconds; receive thread only
    // The tick of the latest clock report dispatched: a status report was made no earlier.
    // Receive thread only; -1 before the first of the module opened last (a module plugged in
    // again counts from its power-up). ResetUsbBuffers counts the openings; the receive thread
    // forgets the old tick when it sees a new one.
    double lastClockTick_ = -1;
    std::atomic<uint64_t> openings_{0};
    uint64_t openingsSeen_ = 0;  // receive thread only
    // Motors started together share their first tick: each start opens a group, and the first
    // of its segments to go out fixes the group's origin. Under the ring locks of its motors.
    std::atomic<uint64_t> startGroup_{0};
    std::mutex originMutex_;
    uint64_t originGroup_ = 0;
    double groupOrigin_ = 0;
    DirectOutputMailbox mailbox_;
    std::mutex writerMutex_;  // guards writer_ and streamer_ (the window starts and stops them)
    std::thread writer_;
    std::mutex streamMutex_;  // one stream pass at a time
    // The latest segment write: how long it took, in ticks, and the host time it was reckoned
    // at. Under streamMutex_.
    double lastWriteTicks_ = 0;
    double lastWriteHost_ = -1;
    std::mutex streamerMutex_;  // guards streamerStop_
    std::condition_variable streamerWake_;
    bool streamerStop_ = false;
    std::thread streamer_;
};

}  // namespace usb
