#include "usb/SegmentRing.h"

namespace usb {

void SegmentRing::Clear() {
    records_.fill(SegmentRecord{});
    FillIndex = 0;
    SendIndex = 0;
}

void SegmentRing::Discard() {
    // Emptying only SendIndex..FillIndex would do; the whole ring costs no more than 6 KB of
    // stores and leaves nothing to reason about.
    records_.fill(SegmentRecord{});
    SendIndex = FillIndex;
}

}  // namespace usb
