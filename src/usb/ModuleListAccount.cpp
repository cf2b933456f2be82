#include "usb/ModuleListAccount.h"

#include <algorithm>

namespace usb {

void ModuleListAccount::Clear() {
    count_ = 0;
}

void ModuleListAccount::Sent(int places, double endTick) {
    if (count_ == kMaxSegments) {
        std::copy(segments_.begin() + 1, segments_.end(), segments_.begin());
        --count_;
    }
    // The module plays its segments in order: none is over before the one before it.
    if (count_ > 0) endTick = std::max(endTick, segments_[count_ - 1].end);
    segments_[count_++] = {places, endTick};
}

void ModuleListAccount::Later(double ticks) {
    for (int i = 0; i < count_; ++i)
        if (segments_[i].end < kForever) segments_[i].end += ticks;
}

int ModuleListAccount::Free(double nowTick) const {
    int taken = 0;
    for (int i = 0; i < count_; ++i)
        if (segments_[i].end > nowTick) taken += segments_[i].places;
    return std::max(0, kCommandListPlaces - taken);
}

double ModuleListAccount::LastEnd() const {
    return count_ > 0 ? segments_[count_ - 1].end : -kForever;
}

bool ModuleListAccount::Report(double madeTick, int takenAtLeast) {
    // Taken at madeTick by the account: every segment not over by then, including those sent
    // after the report was made (which it cannot show), so the account's figure is never below
    // what the report could honestly show.
    int taken = 0;
    int firstPlaying = count_;
    for (int i = 0; i < count_; ++i) {
        if (segments_[i].end > madeTick) {
            taken += segments_[i].places;
            firstPlaying = std::min(firstPlaying, i);
        }
    }
    if (takenAtLeast <= taken) return false;
    // The list plays in order: the segments still held at madeTick are the newest ones. Walk back
    // from the first one the account has playing until the report's places are accounted for.
    int i = firstPlaying;
    while (taken < takenAtLeast && i > 0)
        taken += segments_[--i].places;
    if (i == firstPlaying) return false;
    // Segment i was still playing at madeTick: it ends after it, and so does every later one.
    const double shift = madeTick + kLateSlackTicks - segments_[i].end;
    for (int k = i; k < count_; ++k)
        if (segments_[k].end < kForever) segments_[k].end += shift;
    return true;
}

}  // namespace usb
