// The streaming benchmark in real time (Windows, run under Wine): the same four programs as the
// native virtual-time run, streamed by the real protocol and link into q417-sim.exe, with the
// played steps read back from the simulator's trace.
//
// Last line:
//   RESULT bench=usb_streaming platform=wine lost=<n> overlaps=<n> underruns=<n>
//          max_abs_ticks=<x> max_interval_ticks=<x> max_rate_err_pct=<x>
#include "StreamingBench.h"
#include "sim/SimulatorStreaming.h"

int main() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    sim::testing::SimulatorStreaming run;
    const std::string error = run.Start(Q417_SIM_EXE);
    if (!error.empty()) {
        std::fprintf(stderr, "usb_streaming: %s\n", error.c_str());
        return 1;
    }
    bench::SetPrograms(run);
    run.StartAll();
    if (!run.WaitFinished(60000)) std::printf("not every motor finished within 60 s\n");
    Sleep(300);  // the trace's last lines
    bench::Report(run, "wine");
    return 0;
}
