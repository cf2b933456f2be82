// usb_streaming: four motors run ramped programs through the program's USB command protocol
// into the virtual module's firmware, in virtual time. Prints per motor the steps played against
// the steps programmed, the underruns (the module's list ran empty in the middle of a program)
// and the mean and maximum deviation of each played step from the ideal schedule (the sum of the
// ramp formula's periods), in module ticks (128 us each). Last line:
//
//   RESULT platform=native lost_steps=<n> underruns=<n> max_dev_ticks=<x> mean_dev_ticks=<x>
//
// The 10 kHz plateau asks for more than the module's clock can time (one step per tick, 7812.5
// per second): its periods go out as 1 tick, so that motor falls behind its schedule by design.
#include "StreamingBench.h"
#include "sim/StreamingRig.h"

int main() {
    sim::testing::StreamingRig rig;
    rig.Open();
    rig.Run(300);  // the host's clock calibration has its 20 pairs
    bench::SetPrograms(rig);
    rig.StartAll();
    rig.RunToEnd(120000);
    std::printf("reports sent by the host: %llu\n",
                static_cast<unsigned long long>(rig.SentReports()));
    bench::Report(rig, "native");
    return 0;
}
