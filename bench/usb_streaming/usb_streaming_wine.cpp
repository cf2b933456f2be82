// The streaming benchmark in real time (Windows, run under Wine): a set of four programs as in the
// native virtual-time run, streamed by the real protocol and link into q417-sim.exe at its
// hardware-like defaults, with the played steps read back from the simulator's trace.
//
//   usb_streaming.exe [--programs steady|ramps7000|slowsteep] [--link-ms 0|1|2] [--stall-ms N]
//
// --stall-ms holds the host's receive side for N ms, 1 s after the start. For the condition
// "two CPU-bound processes beside it", start them from the shell around the run.
//
// Last line:
//   RESULT bench=usb_streaming platform=wine program=<set> condition=<c> lost=<n> overlaps=<n>
//          underruns=<n> overwrites=<n> max_abs_ticks=<x> max_interval_ticks=<x>
//          max_rate_err_pct=<x> start_skew_ticks=<x>
#include <cstring>
#include <string>

#include "StreamingBench.h"
#include "testsupport/SimulatorStreaming.h"

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::string programs = "steady", link = "1", stall;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--programs") == 0) programs = argv[i + 1];
        if (std::strcmp(argv[i], "--link-ms") == 0) link = argv[i + 1];
        if (std::strcmp(argv[i], "--stall-ms") == 0) stall = argv[i + 1];
    }
    const bench::ProgramSet& set = programs == "ramps7000"   ? bench::kRampPrograms
                                   : programs == "slowsteep" ? bench::kSlowSteepPrograms
                                                             : bench::kPrograms;
    sim::testing::SimulatorStreaming run;
    const std::string error = run.Start(Q417_SIM_EXE, "--link-ms " + link);
    if (!error.empty()) {
        std::fprintf(stderr, "usb_streaming: %s\n", error.c_str());
        return 1;
    }
    bench::SetPrograms(run, set);
    run.StartAll();
    if (!stall.empty()) {
        Sleep(1000);
        const std::string answer = run.Control("stall " + stall);
        if (answer != "ok") std::printf("stall %s: %s\n", stall.c_str(), answer.c_str());
    }
    if (!run.WaitFinished(60000)) std::printf("not every motor finished within 60 s\n");
    Sleep(300);  // the trace's last lines
    std::string tags = " program=" + programs + " condition=link" + link + "ms";
    if (!stall.empty()) tags += "_stall" + stall;
    bench::Report(run, "wine", set, tags);
    return 0;
}
