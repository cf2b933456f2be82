// The streaming benchmark in real time (Windows, run under Wine): the same four programs as the
// native virtual-time run, streamed by the real protocol and link into q417-sim.exe, with the
// played steps read back from the simulator's trace.
//
// Last line: RESULT platform=wine lost_steps=<n> underruns=<n> max_dev_ticks=<x> mean_dev_ticks=<x>
#include <cstdio>
#include <cstdlib>

#include "sim/SimulatorStreaming.h"

using motion::kDirLeft;
using motion::kDirNone;
using motion::kDirRight;
using sim::testing::MotorFigures;
using sim::testing::SimulatorStreaming;

int main() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    SimulatorStreaming run;
    const std::string error = run.Start(Q417_SIM_EXE);
    if (!error.empty()) {
        std::fprintf(stderr, "usb_streaming: %s\n", error.c_str());
        return 1;
    }
    const char* names[4] = {"2000 steps at 2000 Hz, 0.5 s ramps",
                            "20000 steps at 10 kHz, 0.5 s ramps",
                            "1000 right, 200 pause, 1000 left at 1000 Hz, 0.2 s ramps",
                            "300 steps at 20 Hz, 1 s ramps"};
    run.SetProgram(0, {{2000, 2000.0, 0.5, kDirRight}});
    run.SetProgram(1, {{20000, 10000.0, 0.5, kDirLeft}});
    run.SetProgram(2, {{1000, 1000.0, 0.2, kDirRight},
                       {200, 1000.0, 0.0, kDirNone},
                       {1000, 1000.0, 0.2, kDirLeft}});
    run.SetProgram(3, {{300, 20.0, 1.0, kDirRight}});
    run.StartAll();
    const bool finished = run.WaitFinished(60000);
    Sleep(300);  // the trace's last lines

    long lost = 0;
    int underruns = 0;
    double maxDev = 0, devSum = 0;
    long devCount = 0;
    for (int m = 0; m < 4; ++m) {
        const MotorFigures f = run.Figures(m);
        std::printf(
            "motor %d (%s): played %d of %d, %s, underruns %d, deviation mean %.2f max %.2f "
            "ticks\n",
            m + 1, names[m], f.played, f.programmed, f.inOrder ? "in order" : "OUT OF ORDER",
            f.underruns, f.meanDeviation, f.maxDeviation);
        lost += std::labs(static_cast<long>(f.programmed) - f.played);
        underruns += f.underruns;
        if (f.maxDeviation > maxDev) maxDev = f.maxDeviation;
        devSum += f.meanDeviation * f.played;
        devCount += f.played;
    }
    if (!finished) std::printf("not every motor finished within 60 s\n");
    std::printf(
        "RESULT platform=wine lost_steps=%ld underruns=%d max_dev_ticks=%.2f mean_dev_ticks=%.2f\n",
        lost, underruns, maxDev, devCount > 0 ? devSum / static_cast<double>(devCount) : 0.0);
    return 0;
}
