// usb_streaming: motor programs run through the program's USB command protocol into the
// virtual module's firmware, in virtual time, started 2 s after the link opened, against the kit
// as strict as the hardware: status reports sent unasked, input reports buffered per handle,
// output reports paced by the link. Every played step is compared with the ideal schedule.
//
// Program sets: "steady" (1000 Hz, 1500 Hz, 400 Hz with 0.2 s ramps, 100 Hz with 1 s ramps),
// "ramps7000" (four motors with ramps up to 7000 steps/s) and "slowsteep" (a 3 Hz stretch, then a
// steep ramp to 6000 Hz, beside two steady motors). Conditions: "link1ms" (1 ms per output
// report, unasked status reports), "link1ms_stall300" (the same, the host's receive side held
// for 300 ms mid-run), "link1ms_sendstall300" (the host's writes held for 300 ms mid-run, as on
// a loaded host: a segment reaches the module after its list ran dry), "link2ms" (2 ms per
// output report), "link1ms_readlag10" (every report read 10 ms after it was made, for the
// whole run: the host's estimate of the module's clock runs that much behind).
//
// Per motor it prints the steps played against the steps programmed, the module's overlaps,
// underruns and coil overwrites, the mean-rate error, the worst absolute and interval errors in
// module ticks (128 us each) and how far its first step was off. One line per set and condition:
//
//   RESULT bench=usb_streaming platform=native program=<set> condition=<c> lost=<n>
//          overlaps=<n> underruns=<n> overwrites=<n> max_abs_ticks=<x> max_interval_ticks=<x>
//          max_rate_err_pct=<x> start_skew_ticks=<x>
#include <string>

#include "StreamingBench.h"
#include "testsupport/StreamingRig.h"

namespace {

struct Condition {
    const char* name;
    uint64_t linkPeriodUs;
    uint64_t stallMs;      // the receive side held this long, at the set's chosen moment
    uint64_t sendStallMs;  // the host's writes held this long, at the same moment
    uint64_t readLagMs;    // every report read this long after it was made, from the opening
};

struct Set {
    const char* name;
    const bench::ProgramSet& programs;
    uint64_t stallAfterStartMs;  // mid-run: in a ramp, or across the slow stretch's end
};

}  // namespace

int main() {
    const Condition conditions[] = {
        {"link1ms", 1000, 0, 0, 0},
        {"link1ms_stall300", 1000, 300, 0, 0},
        {"link1ms_sendstall300", 1000, 0, 300, 0},
        {"link2ms", 2000, 0, 0, 0},
        {"link1ms_readlag10", 1000, 0, 0, 10},
    };
    const Set sets[] = {
        {"steady", bench::kPrograms, 1000},
        {"ramps7000", bench::kRampPrograms, 500},
        {"slowsteep", bench::kSlowSteepPrograms, 1200},
    };
    for (const Set& set : sets) {
        for (const Condition& c : conditions) {
            sim::testing::StreamingRig::Options options;
            options.unaskedStatus = true;
            options.linkPeriodUs = c.linkPeriodUs;
            sim::testing::StreamingRig rig(options);
            rig.Open();
            rig.SetReadLatency(c.readLagMs);
            rig.Run(2000);  // 2 s after the link opened
            bench::SetPrograms(rig, set.programs);
            rig.StartAll();
            if (c.stallMs > 0 || c.sendStallMs > 0) {
                rig.Run(set.stallAfterStartMs);
                if (c.stallMs > 0) rig.HoldReceive(c.stallMs);
                if (c.sendStallMs > 0) rig.HoldSend(c.sendStallMs);
            }
            rig.RunToEnd(120000);
            std::printf("== %s, %s: reports sent by the host %llu, dropped unread %llu\n", set.name,
                        c.name, static_cast<unsigned long long>(rig.SentReports()),
                        static_cast<unsigned long long>(rig.Link().Dropped(0)));
            bench::Report(rig, "native", set.programs,
                          std::string(" program=") + set.name + " condition=" + c.name);
        }
    }
    return 0;
}
