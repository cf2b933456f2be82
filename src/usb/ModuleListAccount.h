// ModuleListAccount: one motor's command list in the module as the host accounts for it.
//
// The module frees a segment's places when its last step has played, and the host knows when
// that is: it planned the segment's steps on the module's clock. So the host keeps its own
// account of the list: every segment it sent with its places and the module tick by which its
// last step has surely played (the planned tick plus a margin for what the host cannot know
// exactly, such as when the first segment of a run arrived). A segment frees its places when
// the module's clock, as the host knows it at the least, has passed that tick. The account never
// believes a place free before it truly is, whatever order the reports come in.
//
// Reports can only confirm the account or lower it, never raise it. A report made at module
// tick M that shows more places taken than the account has segments still playing at M proves
// that the newest of the segments the account thought played by M was still playing then: the
// account moves that segment's end, and those of every later one, past M by kLateSlackTicks
// (the module's list plays later than planned by at least that much; the next report, 8 ms
// later, tells whether it is later still). Segments sent after
// the report was made are counted as still playing, so a report that does not know them yet
// cannot lower the account by mistake.
//
// Every method is O(kMaxSegments). No lock: TUsbProtocol keeps one per motor under that motor's
// ring lock.
#pragma once

#include <array>
#include <cstdint>

#include "usb/UsbReport.h"

namespace usb {

class ModuleListAccount {
  public:
    // Segments remembered: more than the list holds (kCommandListPlaces, 2 or 3 a segment), so that
    // a report about the recent past still finds those it counted.
    static constexpr int kMaxSegments = 16;
    static constexpr double kForever = 1e300;
    // How far past a report's tick a segment it shows still playing is held: a clock report's
    // period (8 ms).
    static constexpr double kLateSlackTicks = kClockReportPeriodTicks;

    // The module's list is empty (a clear of it went out, or the link was opened).
    void Clear();
    // A segment went out: places (2 or 3) taken until module tick endTick.
    void Sent(int places, double endTick);
    // A segment whose end the host cannot tell (a reset's): held until the next Clear.
    void SentUntilCleared(int places) { Sent(places, kForever); }

    // Free places at module tick nowTick (a lower bound of the module's clock).
    int Free(double nowTick) const;
    // No segment plays at nowTick any more.
    bool Empty(double nowTick) const { return LastEnd() <= nowTick; }
    // The tick by which every segment sent has played; -kForever when none was sent.
    double LastEnd() const;

    // The list plays `ticks` later than the account has it: every end moves on by as much.
    void Later(double ticks);

    // A report made at module tick madeTick (or later) shows at least takenAtLeast places
    // taken. Returns true when it lowered the account.
    bool Report(double madeTick, int takenAtLeast);

  private:
    struct Segment {
        int places = 0;
        double end = 0;
    };
    std::array<Segment, kMaxSegments> segments_{};  // oldest first
    int count_ = 0;
};

}  // namespace usb
