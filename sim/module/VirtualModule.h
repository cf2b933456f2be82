// VirtualModule: the firmware of the USB motor controller module as the simulator plays it, free
// of any OS call.
//
// The caller owns time: every method takes the caller's clock in microseconds (monotonic, any
// origin, never going back), so tests run the module in virtual time and the simulator passes
// its performance counter. Nothing happens between calls: Advance (and Receive, which advances
// first) plays every step that fell due up to the time it is given, each at its own tick.
//
// Clock. 7812.5 ticks per second (one tick every 128 us) from the power-up, as a 48-bit number
// that wraps to 0. Internally the module schedules on the ticks since the power-up, which never
// wrap, so a segment that plays across the wrap keeps its rhythm.
//
// Reports it sends:
// - A clock report (type 4) every 8 ms of module time, from Advance: bytes 2 to 7 the tick
//   count, low byte first; byte 8 each motor's free-place level (2 bits per motor). The level
//   is the largest of 0, 1, 2, 3 (standing for 0, 3, 6, 12 free places) whose count is not above
//   the free places, so a level never promises room that is not there: 0-2 free places give 0,
//   3-5 give 1, 6-11 give 2, 12 gives 3. Each report carries the tick at which it is made. A
//   caller that comes back late by more than a period gets one report, made then, not a burst
//   of old ones: the hardware makes its reports on time, and the bursts a host does see come
//   from reports waiting in the link's buffers while it does not read (ModuleLink).
// - A status report (type 5) answering GetMotorStatus (0x04, byte 2 = 5): byte 2 the reset mask
//   (bit set = the motor's reset goes on), byte 3 the four phases (motor 1 in bits 0 and 1),
//   bytes 4 to 7 the exact free places of motors 1 to 4.
// - The same status report on its own, unasked, as the hardware sends it: when a motor's list
//   runs empty by playing its last step, and when a motor's reset ends (at its switch, by the
//   reset cancel, or at once for a motor with nothing to do). It carries the state at that tick
//   and is indistinguishable from an answer, so a host that pairs status reports with its
//   requests in order is misled. On by default; SetUnaskedStatusReports(false) turns it off.
//
// Command lists. Per motor 12 places; a segment without step count takes 2, one with a count 3.
// A segment keeps its places until its last step has been played, so 12 free places mean the
// motor has played everything it was sent. A segment that does not fit the free places is
// dropped and counted (RejectedSegments); the list stays as it was.
//
// Segments (byte 1 = motor × 16): period = byte 2 | (byte 3 bits 0-5) << 8 ticks; byte 3 bit 6
// set = left (position down), clear = right (position up); bit 7 set = byte 4 holds the step
// count, else one step; delay = bytes 5 and 6, low byte first. A count of 0 or 1 with bit 7
// set plays one step; a period of 0 plays as 1 tick.
//
// Timing rule (what the host's delays are measured against):
// - Each segment has a reference tick: the tick its first step is due.
// - A segment that arrives while its motor is idle (nothing playing, list empty) is due at its
//   arrival tick + delay.
// - Any other segment is due at the reference tick of the segment before it on that motor +
//   its delay. The reference is the due tick, not the tick the first step was actually
//   played, so a late start does not shift the segments after it.
// - Its steps follow at first + k × period, k = 0 .. count-1, where first is the due tick, or,
//   when the previous segment has not yet played its last step by then, the tick after that
//   last step: a motor plays its segments in order and never two steps in one tick.
// So when the host sends each delay as the time between the first steps of consecutive
// segments, the module plays every step at the tick the host intended, as long as the list
// never runs empty in between (an idle motor counts from the arrival).
//
// Strictness: the module repairs nothing silently. It counts and traces
// - an overlap: a chained segment due at or before the tick of its predecessor's last step
//   (played from the tick after it, so that the steps keep their order);
// - an underrun: a segment that cannot play at its chained due tick (the reference of the
//   segment before + its delay) because its list ran dry before it came: the list ran dry by
//   playing its last segment (not by a clear, a reset or a power-up), and the segment arrives
//   within kUnderrunWindowTicks of that last step, or later but with its chained due tick still
//   ahead (a continuation after a pause that came too late). It plays from its arrival + its
//   delay instead, so it counts also when that delay still lies ahead. A segment that starts a
//   chain of its own is no underrun, but the bytes do not say which segments do: the module
//   takes a lone step timed from its arrival at an idle list (a jog's step sent beside a run,
//   a step slower than a delay can chain) as a chain of its own, so whatever comes after it
//   starts a new one (a run whose very first segment is a lone step and whose second comes too
//   late is missed). It cannot tell the first segment of a new run from a late one otherwise:
//   a new run started on the same motor within half a second of the last one's final step
//   counts as well;
// - a coil overwrite: a direct output that changes the phase of a motor whose segments are
//   playing (its list is not empty). The phase is set as asked, so the motor loses its step.
//
// Steps advance the motor's 2-bit phase in the Gray code (right 0→1→3→2→0, left 0→2→3→1→0)
// and its position counter (right +1, left -1); each step is one line in the trace.
//
// Other commands (byte 1):
// - 0x0A direct output: byte 2 sets the four phases; positions do not change.
// - ClearCommandList (low nibble 7, motor 1-4 in the high nibble, 0 = all; 5-15 do nothing):
//   empties the motor's list, stops the segment it plays and its reset.
// - 0x09 start-reset request, byte 2 = mask: each motor in the mask turns the last segment it
//   was sent (the reset segment sent just before) into a reset: it steps in that segment's
//   direction at its period, from the segment's due tick on, until its reference switch is
//   closed, then its mask bit clears and the segment leaves the list. The switch is closed when
//   the position stands at the switch's position (SetReferenceSwitch, default 0) or beyond it
//   in the reset's direction, so every reset ends. A motor of the mask with nothing in its list
//   has nothing to step with, and one whose switch is closed already, ends its reset at once.
//   Segments queued behind a reset count their delay from the tick the reset ended. Bytes 3 to
//   6 of the request are not used.
// - 0x03 with byte 2 = 19, byte 3 = 0 and bytes 7 and 8 = 0: reset cancel; every reset stops
//   where it is and its bit clears.
// - The probe (0x08), the stack requests, start-up commands 1, 3 (with 0xFF in bytes 7 and 8)
//   and 5 are accepted and change nothing. A report that is not 16 bytes long or does not carry
//   report id 0 is traced and ignored, as a HID device refuses it.
//
// Every report received is traced as it arrives; every step as it is played.
// Runs on the caller's one thread; not thread-safe.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

namespace sim {

class ModuleTrace;

constexpr size_t kReportLength = 16;
using Report = std::array<uint8_t, kReportLength>;

// One step as the module played it.
struct ModuleStep {
    uint64_t tick;     // the module's 48-bit clock
    uint64_t elapsed;  // ticks since the power-up, never wrapping
    uint64_t timeUs;   // the caller's time of that tick
    int motor;         // 1 to 4
    int direction;     // 1 = left, 2 = right
    uint8_t phase;     // after the step
    int32_t position;  // after the step
};

class VirtualModule {
  public:
    static constexpr uint64_t kMicrosecondsPerTick = 128;  // 7812.5 ticks per second
    static constexpr uint64_t kClockMask = (uint64_t{1} << 48) - 1;
    static constexpr uint64_t kClockReportPeriodUs = 8000;
    static constexpr int kMotors = 4;
    static constexpr uint8_t kCommandListPlaces = 12;
    // How long after a motor's list ran dry a late segment still counts as an underrun: half a
    // second.
    static constexpr uint64_t kUnderrunWindowTicks = 3906;

    // Output report commands (byte 1, low nibble where a motor rides in the high one).
    static constexpr uint8_t kSegment = 0x00;
    static constexpr uint8_t kCommand3 = 0x03;
    static constexpr uint8_t kGetMotorStatus = 0x04;
    static constexpr uint8_t kClearCommandList = 0x07;
    static constexpr uint8_t kProbe = 0x08;
    static constexpr uint8_t kStartReset = 0x09;
    static constexpr uint8_t kDirectOutput = 0x0A;
    static constexpr uint8_t kStatusRequestKind = 5;  // byte 2 of a GetMotorStatus request
    static constexpr uint8_t kResetCancelCode = 19;   // byte 2 of command 3
    // Input report types.
    static constexpr uint8_t kClockReportType = 4;
    static constexpr uint8_t kStatusReportType = 5;

    // trace: where received reports and steps are written; null for none. Must outlive the
    // module.
    explicit VirtualModule(ModuleTrace* trace = nullptr);

    // The module is plugged in at nowUs: it starts afresh (empty lists, phases and positions 0,
    // no reset), its clock at startTick (masked to 48 bits; tests start near the end of the
    // range to see the wrap). The reference switches keep their positions.
    void PowerUp(uint64_t nowUs, uint64_t startTick = 0);

    // The tick count at nowUs (48 bits). A time before the power-up counts as the power-up.
    uint64_t Ticks(uint64_t nowUs) const;

    // The clock report the module would send at nowUs (as it stands; plays nothing).
    Report ClockReport(uint64_t nowUs) const;

    // Plays every step due up to nowUs and appends the clock report when one is due.
    void Advance(uint64_t nowUs, std::vector<Report>& reports);

    // One output report of length bytes as the host wrote it, received at nowUs: first
    // advances to nowUs (a clock report due goes first into answers), then takes the report.
    // The input reports it causes are appended to answers, in the order the module sends them.
    void Receive(const uint8_t* report, size_t length, uint64_t nowUs,
                 std::vector<Report>& answers);

    // The caller's time of the next thing the module does on its own (a step or a clock
    // report); never before the last time given.
    uint64_t NextEventUs() const;

    // Position at which motor m's (1 to 4) reference switch closes.
    void SetReferenceSwitch(int motor, int32_t position);

    // Called for every step played (after the trace line); may be empty.
    void SetStepListener(std::function<void(const ModuleStep&)> listener);

    // Whether the module sends status reports on its own (see above); on by default.
    void SetUnaskedStatusReports(bool on) { unaskedStatus_ = on; }
    bool UnaskedStatusReports() const { return unaskedStatus_; }
    // Status reports sent unasked since the power-up.
    uint64_t UnaskedStatusCount() const { return unaskedCount_; }

    // State of motor m (1 to 4), for tests and the simulator's console.
    int32_t Position(int motor) const { return motors_[Index(motor)].position; }
    uint8_t Phase(int motor) const { return motors_[Index(motor)].phase; }
    int FreePlaces(int motor) const;
    bool Playing(int motor) const { return !motors_[Index(motor)].list.empty(); }
    // The tick (since the power-up) at which motor m's list, as it stands, plays its last step
    // if nothing comes late; 0 when the list is empty. What the host has stocked ahead.
    uint64_t ListEndElapsed(int motor) const;
    uint64_t RejectedSegments(int motor) const { return motors_[Index(motor)].rejected; }
    uint64_t Overlaps(int motor) const { return motors_[Index(motor)].overlaps; }
    uint64_t Underruns(int motor) const { return motors_[Index(motor)].underruns; }
    uint64_t CoilOverwrites(int motor) const { return motors_[Index(motor)].overwrites; }
    uint8_t ResetMask() const { return resetMask_; }
    uint8_t PhaseByte() const;

    // Free-place level for the clock report (see above).
    static uint8_t FreePlaceLevel(int freePlaces);

  private:
    struct Segment {
        uint16_t period = 1;  // ticks, at least 1
        bool left = false;
        int steps = 1;
        uint16_t delay = 0;
        uint8_t places = 2;
        bool reset = false;  // steps until the reference switch instead of `steps`
    };
    struct Motor {
        std::deque<Segment> list;  // the front one plays (or waits for its due tick)
        uint64_t reference = 0;    // due tick of the front segment
        uint64_t nextStep = 0;     // tick of the front segment's next step
        int stepsLeft = 0;         // of the front segment (unused for a reset)
        bool stepped = false;      // lastStep is valid
        uint64_t lastStep = 0;
        uint8_t phase = 0;
        int32_t position = 0;
        int32_t switchPosition = 0;
        uint64_t rejected = 0;
        uint64_t overlaps = 0;
        uint64_t underruns = 0;
        uint64_t overwrites = 0;
        bool dry = false;               // the list ran dry by playing; no clear or reset since
        uint64_t dryReference = 0;      // reference tick of the segment it played last
        bool frontStartsChain = false;  // the front segment was timed from its arrival
        // The list ran dry by playing a lone step timed from its arrival: no run to continue.
        bool dryAfterLoneStep = false;
    };

    static size_t Index(int motor) { return static_cast<size_t>(motor - 1); }
    uint64_t Elapsed(uint64_t nowUs) const;
    uint64_t TimeUs(uint64_t elapsed) const { return powerUpUs_ + elapsed * kMicrosecondsPerTick; }
    Report StatusReport() const;
    // Queues an unasked status report (when they are on); Advance and Receive hand the queue
    // to their caller in the order the reports were made.
    void SendUnaskedStatus();
    void TakeOutbox(std::vector<Report>& reports);

    // Carries out one well-formed output report at tick `now`.
    void Take(const uint8_t* report, uint64_t now, std::vector<Report>& answers);
    void TakeSegment(int motor, const uint8_t* report, uint64_t now);
    void DirectOutput(uint8_t phases);
    void ClearCommandList(int target);
    void StartReset(uint8_t mask, uint64_t now);
    void CancelResets(uint64_t now);
    void StopMotor(int motor);
    // Schedules the front segment of motor m, due at `due`; chained: counted from the segment
    // before (an overlap is possible), else from its arrival at an idle motor.
    void Schedule(int motor, uint64_t due, bool chained);
    // The front segment is done at tick `now`: it leaves the list and the next one is
    // scheduled `delay` after `reference`.
    void FinishFront(int motor, uint64_t reference);
    void EndReset(int motor, uint64_t now);
    bool SwitchClosed(const Motor& m, bool left) const;
    void PlayStep(int motor);
    // The motor whose next step is the earliest, 0 when none plays.
    int NextMotor() const;

    ModuleTrace* trace_;
    std::function<void(const ModuleStep&)> listener_;
    uint64_t powerUpUs_ = 0;
    uint64_t startTick_ = 0;
    uint64_t nowUs_ = 0;  // the latest time given
    uint64_t nextClockUs_ = 0;
    uint8_t resetMask_ = 0;  // bit m-1 set while motor m's reset is going on
    bool unaskedStatus_ = true;
    uint64_t unaskedCount_ = 0;
    std::vector<Report> outbox_;  // unasked reports made during the current call
    std::array<Motor, kMotors> motors_;
};

}  // namespace sim
