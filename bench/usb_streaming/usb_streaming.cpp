// usb_streaming: four motors (1000 Hz, 1500 Hz, 400 Hz with 0.2 s ramps, 100 Hz with 1 s ramps)
// run through the program's USB command protocol into the virtual module's firmware, in virtual
// time, started 2 s after the link opened. Every played step is compared with the ideal
// schedule; per motor it prints the steps played against the steps programmed, the module's
// overlaps and underruns, the mean-rate error, and the worst absolute and interval errors in
// module ticks (128 us each). Last line:
//
//   RESULT bench=usb_streaming platform=native lost=<n> overlaps=<n> underruns=<n>
//          max_abs_ticks=<x> max_interval_ticks=<x> max_rate_err_pct=<x>
#include "StreamingBench.h"
#include "sim/StreamingRig.h"

int main() {
    sim::testing::StreamingRig rig;
    rig.Open();
    rig.Run(2000);  // 2 s after the link opened
    bench::SetPrograms(rig);
    rig.StartAll();
    rig.RunToEnd(120000);
    std::printf("reports sent by the host: %llu\n",
                static_cast<unsigned long long>(rig.SentReports()));
    bench::Report(rig, "native");
    return 0;
}
