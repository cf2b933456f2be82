// ClockCalibration: the module's tick rate as the host sees it, from the clock reports.
//
// Each clock report gives one sample (host time of its arrival in seconds, module time in
// ticks). The samples sit in a ring of 32 of which one slot is always empty, so the ring tells
// its oldest sample without a count. Once 20 neighbouring pairs of samples in the ring have host
// time passing between them (or, on a host clock too coarse for that, once the samples span a
// quarter of a second), the rate is fitted through every sample since the first one after
// the emptying (a baseline that grows with the link's age, so the rate is within 0.05 % after 2 s
// and within 0.01 % after 10 s where the ring's quarter second would keep it near 0.5 %); before,
// it is the nominal 7812 ticks per second, so the rate starts afresh with every emptying.
//
// A report can reach the host late, never early: a receive thread that was held (a write
// time-out blocks it for up to 600 ms) reads the buffered reports back to back, with nearly
// equal arrival times for very different module times. So the fit takes the early envelope:
// in the plane of host time and module time every sample lies on or below the line of the
// true clock, the least delayed ones on it. The upper hull of the samples traces that line; a
// sample further below the hull than a step of the host clock and kEnvelopeBandSeconds was
// read late and is left out, and of the reports read at one host time only the newest counts;
// the rate is the least-squares slope through the samples that remain (which averages a coarse
// host clock's steps instead of hugging its extremes). A burst therefore adds its newest
// report, read at once, and nothing of the ones that waited.
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
#include <vector>

namespace usb {

class ClockCalibration {
  public:
    static constexpr double kDefaultTicksPerSecond = 7812;
    static constexpr int kSampleCount = 32;
    static constexpr int kPairsNeeded = 20;
    static constexpr double kHostWrapSeconds = 4294967.296;  // 2^32 ms
    // How far below the early envelope a sample may lie and still count, beyond the host
    // clock's own step (the smallest host time seen to pass between two reports): a read that
    // comes a little late.
    static constexpr double kEnvelopeBandSeconds = 0.002;
    // Samples kept for the fit (32 s of reports every 8 ms); when full, every other one goes
    // and from then on only every other report is kept, so the baseline goes on growing.
    static constexpr size_t kFitCapacity = 4096;
    // A host clock that counts in steps coarser than the reports' 8 ms stamps neighbouring
    // reports alike, so the ring never holds 20 pairs with time passing between them; the fit
    // is trusted as well once its samples span this much host time.
    static constexpr double kTrustedSpanSeconds = 0.25;

    ClockCalibration();

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
    // The module's clock at hostSeconds by the line of the fitted rate through the least
    // delayed report since the emptying: as near as the host can tell, and no later than a
    // prompt report would show, while ModuleTicksAt counts only the latest 32 reports and
    // falls behind by as late as all of those were read. No bound either way (the rate's error
    // grows with the distance from that report). -1 while there is no sample.
    double EnvelopeTicksAt(double hostSeconds) const;
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

    // The long fit's samples, relative to its first one (host seconds, module ticks), in order
    // of host time.
    struct Point {
        double t = 0, m = 0;
    };
    struct Fit {
        bool anchored = false;
        double host0 = 0, module0 = 0;
        size_t stride = 1;     // every stride-th sample is kept
        uint64_t arrived = 0;  // samples since the anchor
        double hostStep = 0;   // the smallest host time seen to pass between two samples
        double lastHost = 0;
        bool fitted = false;  // a rate has been fitted since the anchor
        // The line of the rate through the least delayed sample: its module time at t = 0.
        double envelopeOffset = 0;
    };
    void KeepFitSample(Point p);
    // The module time at t = 0 of the line of slope rate through the least delayed sample.
    double SupportOffset(double rate) const;
    // The least-squares slope through the samples near the early envelope; 0 when there is
    // none.
    double EnvelopeRate();

    mutable std::mutex mutex_;
    std::array<Sample, kSampleCount> samples_{};
    Fit fit_;
    std::vector<Point> points_;   // reserved once, kFitCapacity
    std::vector<Point> hull_;     // scratch of EnvelopeRate, reserved once
    double wrapOffset_ = 0;       // whole wraps passed, in seconds
    double latestHost_ = -1e300;  // the latest unwrapped sample time
    int clockSampleIndex_ = 0;
    std::atomic<double> ticksPerSecond_{kDefaultTicksPerSecond};
};

}  // namespace usb
