// ClockCalibration: the module's tick rate as the host sees it, from the clock reports.
//
// Each clock report gives one sample (host time of its arrival in seconds, module time in
// ticks). The samples sit in a ring of 32 of which one slot is always empty, so the ring tells
// its oldest sample without a count. Once 20 neighbouring pairs of samples in the ring have host
// time passing between them, the rate is the least-squares slope of module ticks over host
// seconds through every sample since the first one after the emptying (a baseline that grows
// with the link's age, so the rate is within 0.05 % after 2 s and within 0.01 % after 10 s
// where the ring's quarter second would keep it near 0.5 %); before, it is the nominal 7812
// ticks per second, so the rate starts afresh with every emptying.
//
// Host time enters only through AddSample's hostSeconds: the timer service's fine clock at the
// report's arrival, as the receive loop takes it (the millisecond tick count, 10 to 16 ms coarse
// on many Windows systems, would put a rate error of 0.2 % into the first seconds' fit). The
// read latency is noise that the long fit averages out. An empty
// slot is marked by a flag rather than by a host time of 0, so that a sample taken when the host
// clock reads 0 still counts.
//
// A host clock that follows the 32-bit millisecond tick count (the tests' virtual one) wraps
// every 49.7 days. Each host time is unwrapped before it is used (a time more than half a wrap
// behind the latest sample has passed a wrap), so the fit never sees time run backwards across the
// wrap.
//
// Threads: AddSample runs on the receive thread; Clear on the window's thread (every opening of
// the link); TicksPerSecond and SecondsToTicks on any thread. A lock guards the samples, and the
// rate is an atomic so that a reader never sees half a value.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

namespace usb {

class ClockCalibration {
  public:
    static constexpr double kDefaultTicksPerSecond = 7812;
    static constexpr int kSampleCount = 32;
    static constexpr int kPairsNeeded = 20;
    static constexpr double kHostWrapSeconds = 4294967.296;  // 2^32 ms

    // Stores one sample and recomputes the rate. Returns the number of pairs with a positive host
    // time difference that the rate was (or, below kPairsNeeded, would have been) taken from.
    int AddSample(double hostSeconds, double moduleTicks);
    // Empties every sample and sets ClockSampleIndex to 0; the rate is left as it is.
    void Clear();
    // Back to the nominal rate (the receive thread's start).
    void SetDefault() { ticksPerSecond_.store(kDefaultTicksPerSecond); }

    double TicksPerSecond() const { return ticksPerSecond_.load(); }
    int ClockSampleIndex() const;
    // The module's clock at hostSeconds as the samples tell it, at the least: every sample was
    // written before it arrived, so the latest estimate over the samples is the best and never
    // runs ahead of the module. -1 while there is no sample.
    double ModuleTicksAt(double hostSeconds) const;
    // TicksPerSecond x seconds, rounded to the nearest integer with halves to even. Values
    // beyond the 64-bit range are held at its ends, and NaN gives 0.
    int64_t SecondsToTicks(double seconds) const;

  private:
    struct Sample {
        double HostTime = 0;
        double ModuleTime = 0;
        bool Filled = false;
    };

    // hostSeconds on the unwrapped time line of the samples. Under the lock.
    double Unwrapped(double hostSeconds) const;

    // Running sums of the long fit, relative to its first sample.
    struct Fit {
        bool anchored = false;
        double host0 = 0, module0 = 0;
        double n = 0, t = 0, m = 0, tt = 0, tm = 0;
    };

    mutable std::mutex mutex_;
    std::array<Sample, kSampleCount> samples_{};
    Fit fit_;
    double wrapOffset_ = 0;       // whole wraps passed, in seconds
    double latestHost_ = -1e300;  // the latest unwrapped sample time
    int clockSampleIndex_ = 0;
    std::atomic<double> ticksPerSecond_{kDefaultTicksPerSecond};
};

}  // namespace usb
