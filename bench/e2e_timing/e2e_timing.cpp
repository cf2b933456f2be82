// Step timing of the real Q417_Stepper.exe through the simulator kit (Windows, run under Wine
// with a display: xvfb-run). Each half lays out a folder of its own with a copy of the program
// and the kit's DLLs, starts the program, types the programs into its panels and presses the
// "Synchronous" group's Start, as an operator does; the figures come from the kit's traces only.
//
//   1. Parallel port (LPT1 through "default.smp", the kit's inpout32.dll): four motors at 1000,
//      700, 450 and 300 Hz for 5 s each without ramps, all together. Missed steps (programmed
//      against traced, per motor, summed as magnitudes), the worst mean-rate error and the 95th
//      percentile of each step's absolute error against its ideal time on the schedule, over
//      all four motors.
//   2. USB (q417-sim.exe's virtual module at its hardware-like defaults: unasked status reports,
//      one output report per millisecond): the four programs of the usb_streaming benchmark,
//      run twice: undisturbed, and with the program's receive side held 300 ms, 1 s after the
//      start (the simulator holds back every report meanwhile, then hands them over at once).
//      Lost steps (programmed against played, summed as magnitudes), the module's overlaps,
//      underruns and coil overwrites (its trace's fault lines), the worst absolute error in
//      module ticks at each run's best-fit rate and the worst mean-rate error, as usb_streaming
//      reports them, and the start skew of the four motors' first steps.
//
// Last line:
// RESULT bench=e2e_timing lpt_missed=<n> lpt_rate_err_pct=<x> lpt_p95_abs_ms=<x>
//        lpt_within1ms_700hz_pct=<x> lpt_within1ms_300hz_pct=<x> usb_lost=<n>
//        usb_overlaps=<n> usb_underruns=<n> usb_overwrites=<n> usb_max_abs_ticks=<x>
//        usb_rate_err_pct=<x> usb_start_skew_ticks=<x> usb_stall300_lost=<n>
//        usb_stall300_overlaps=<n> usb_stall300_underruns=<n> usb_stall300_max_abs_ticks=<x>
//        usb_stall300_start_skew_ticks=<x>
// (the share of the 700 and 300 Hz motors' intervals that lie within 1 ms of the period)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "../usb_streaming/StreamingBench.h"
#include "TimingFigures.h"
#include "e2e/driver/ModulePlayback.h"
#include "e2e/driver/RampSchedule.h"
#include "e2e/driver/RemoteControls.h"
#include "e2e/driver/StepperSession.h"
#include "e2e/driver/TraceFile.h"
#include "e2e/driver/Wait.h"

namespace {

constexpr const char* kPortTrace = "q417-sim-lpt-trace.csv";
constexpr double kPortFrequencies[4] = {1000.0, 700.0, 450.0, 300.0};
constexpr double kPortSeconds = 5.0;
// Time for a run to end beyond its own length, on a busy machine.
constexpr DWORD kSlackMs = 30000;

struct PortResult {
    long Missed = 0;
    double RateErrPct = 0;
    double P95Ms = 0;
    // Share of the intervals within 1 ms of the period, per motor (1000, 700, 450, 300 Hz).
    double Within1MsPct[4] = {0, 0, 0, 0};
};

struct ModuleResult {
    long Lost = 0;
    int Overlaps = 0;
    int Underruns = 0;
    int Overwrites = 0;
    double MaxAbsTicks = 0;
    double RateErrPct = 0;
    double StartSkewTicks = 0;
};

const char* DirectionCaption(uint8_t direction) {
    return direction == motion::kDirRight  ? "Right"
           : direction == motion::kDirLeft ? "Left"
                                           : "Pause";
}

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

// Types the program into the motor's panel and checks that the list holds it as typed.
std::string TypeProgram(e2e::MainWindow& window, int motor,
                        const std::vector<motion::TsmProgramStep>& program) {
    for (const motion::TsmProgramStep& step : program) {
        const e2e::TypedStep typed{std::to_string(step.Steps), Number(step.Frequency),
                                   DirectionCaption(step.Direction), Number(step.RampTime)};
        if (!window.AddProgramStep(motor, typed))
            return "cannot type a program step into motor " + std::to_string(motor + 1);
    }
    const auto rows = window.ProgramRows(motor);
    if (rows.size() != program.size())
        return "motor " + std::to_string(motor + 1) + "'s list holds " +
               std::to_string(rows.size()) + " rows, typed " + std::to_string(program.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].size() < 2 || rows[i][1] != std::to_string(program[i].Steps))
            return "motor " + std::to_string(motor + 1) + "'s row " + std::to_string(i + 1) +
                   " does not show the typed steps";
    }
    return "";
}

// Presses the "Synchronous" Start, does `meanwhile` and waits until every motor has finished:
// the handler takes "Run in order" away, the program gives it back once no motor runs. Polls
// only that control's state, so the wait costs the program nothing while it times its steps.
bool RunSynchronously(e2e::MainWindow& window, DWORD timeoutMs, double& elapsedMs,
                      const std::function<void()>& meanwhile = {}) {
    if (!e2e::Click(window.SynchronousStart())) return false;
    e2e::Stopwatch watch;
    if (meanwhile) meanwhile();
    const bool ended =
        e2e::WaitUntil([&] { return IsWindowEnabled(window.RunInOrder()) != 0; }, timeoutMs);
    elapsedMs = watch.ElapsedMs();
    return ended;
}

std::string RunParallelPort(PortResult& result) {
    e2e::StepperSession session;
    if (std::string e = session.LayOut("bench-e2e_timing-lpt", e2e::TestFolder::kPortLibrary);
        !e.empty())
        return e;
    if (!session.Folder().Write("default.smp", "Port = 378\r\n")) return "cannot write default.smp";
    if (std::string e = session.StartProgram(); !e.empty()) return e;
    e2e::MainWindow& window = session.Window();
    if (!e2e::WaitText(window.PortStatus(), "LPT1 (0378)", e2e::kWindowTimeoutMs))
        return "the port status shows \"" + window.PortStatusText() + "\", not LPT1";
    std::vector<motion::TsmProgramStep> programs[4];
    for (int m = 0; m < 4; ++m) {
        const uint8_t direction = m % 2 == 0 ? motion::kDirRight : motion::kDirLeft;
        const double f = kPortFrequencies[m];
        programs[m] = {{static_cast<int32_t>(f * kPortSeconds), f, 0.0, direction}};
        if (std::string e = TypeProgram(window, m, programs[m]); !e.empty()) return e;
    }

    std::printf("parallel port: 1000, 700, 450 and 300 Hz for %.0f s, synchronous start\n",
                kPortSeconds);
    double elapsedMs = 0;
    const bool ended =
        RunSynchronously(window, static_cast<DWORD>(kPortSeconds * 1000) + kSlackMs, elapsedMs);
    std::printf("  %s after %.0f ms\n", ended ? "ended" : "NOT ENDED", elapsedMs);
    const std::vector<e2e::TraceLine> trace = e2e::ReadTrace(session.Folder().FilePath(kPortTrace));

    std::vector<double> all;
    for (int motor = 1; motor <= 4; ++motor) {
        const bench::PortScheduleTiming t = bench::PortSchedule(trace, motor, programs[motor - 1]);
        const long missed = t.Programmed - t.Traced;
        result.Missed += std::labs(missed);
        result.RateErrPct = std::max(result.RateErrPct, t.RateErrPct);
        all.insert(all.end(), t.AbsErrorsMs.begin(), t.AbsErrorsMs.end());
        std::printf(
            "  motor %d (%.0f Hz): traced %d of %d (missed %ld), mean-rate error %.3f %%, error "
            "against the ideal time p95 %.3f p99 %.3f max %.3f ms\n",
            motor, kPortFrequencies[motor - 1], t.Traced, t.Programmed, missed, t.RateErrPct,
            bench::Percentile(t.AbsErrorsMs, 0.95), bench::Percentile(t.AbsErrorsMs, 0.99),
            bench::Percentile(t.AbsErrorsMs, 1.0));
        // Interval by interval: the share a motor can follow without a jolt.
        const double periodMs = 1000 / kPortFrequencies[motor - 1];
        const bench::PortMotorTiming intervals = bench::PortTiming(trace, motor, periodMs);
        const auto within =
            std::count_if(intervals.DeviationsMs.begin(), intervals.DeviationsMs.end(),
                          [](double d) { return d <= 1.0; });
        if (!intervals.DeviationsMs.empty()) {
            result.Within1MsPct[motor - 1] = 100.0 * static_cast<double>(within) /
                                             static_cast<double>(intervals.DeviationsMs.size());
        }
        std::printf(
            "  motor %d: %.2f %% of %zu intervals within 1 ms of the period, worst %.3f ms "
            "off\n",
            motor, result.Within1MsPct[motor - 1], intervals.DeviationsMs.size(),
            bench::Percentile(intervals.DeviationsMs, 1.0));
    }
    result.P95Ms = bench::Percentile(all, 0.95);
    return "";
}

e2e::ProgramStepValues Values(const motion::TsmProgramStep& step) {
    return {step.Steps, step.Frequency, step.RampTime, step.Direction};
}

// stallMs: the program's receive side held this long, 1 s after the start (0: none).
std::string RunModule(ModuleResult& result, int stallMs) {
    e2e::StepperSession session;
    if (std::string e = session.LayOut("bench-e2e_timing-usb", e2e::TestFolder::kModuleLocator);
        !e.empty())
        return e;
    if (std::string e = session.StartSimulator(); !e.empty()) return e;
    if (std::string e = session.StartProgram(); !e.empty()) return e;
    e2e::MainWindow& window = session.Window();
    if (!e2e::WaitText(window.PortStatus(), "USB (connected)", e2e::kWindowTimeoutMs))
        return "the port status shows \"" + window.PortStatusText() + "\", not the module";
    for (int m = 0; m < 4; ++m) {
        if (std::string e = TypeProgram(window, m, bench::kPrograms[m].steps); !e.empty()) return e;
    }

    const std::string& tracePath = session.Simulator().TracePath();
    const size_t from = e2e::ReadTrace(tracePath).size();
    std::printf(
        "USB: the four ramped programs of usb_streaming, synchronous start%s\n",
        stallMs > 0 ? (", receive side held " + std::to_string(stallMs) + " ms").c_str() : "");
    double elapsedMs = 0;
    const bool ended = RunSynchronously(window, 60000, elapsedMs, [&] {
        if (stallMs <= 0) return;
        Sleep(1000);
        const std::string answer = session.Simulator().Control("stall " + std::to_string(stallMs));
        if (answer != "ok") std::printf("  stall: %s\n", answer.c_str());
    });
    std::printf("  %s after %.0f ms\n", ended ? "ended" : "NOT ENDED", elapsedMs);
    Sleep(300);  // the trace's last lines
    std::vector<e2e::TraceLine> trace = e2e::ReadTrace(tracePath);
    trace.erase(trace.begin(),
                trace.begin() + static_cast<std::ptrdiff_t>(std::min(from, trace.size())));

    double firstStart = 0, lastStart = 0;
    bool started = false;
    for (int m = 0; m < 4; ++m) {
        const int motor = m + 1;
        const std::vector<motion::TsmProgramStep>& program = bench::kPrograms[m].steps;
        std::vector<e2e::ProgramStepValues> values;
        for (const motion::TsmProgramStep& step : program)
            values.push_back(Values(step));
        const std::vector<e2e::ScheduledStep> schedule = e2e::RampSchedule(values);

        const bench::ModuleStalls stalls = bench::CountStalls(trace, motor, schedule);
        const sim::testing::MotorFigures f = sim::testing::ScheduleFigures(
            program, e2e::PlayedSteps(trace, motor), e2e::ModuleEvents(trace, "underrun", motor),
            e2e::ModuleEvents(trace, "overlap", motor),
            e2e::ModuleEvents(trace, "coil overwrite", motor));
        const e2e::PlaybackFigures p = e2e::ComparePlayback(trace, motor, schedule);
        const int sent = e2e::SegmentSteps(trace, motor);

        result.Lost += f.Lost();
        result.Overlaps += f.overlaps;
        result.Underruns += f.underruns;
        result.Overwrites += f.overwrites;
        result.MaxAbsTicks = std::max(result.MaxAbsTicks, f.maxAbsTicks);
        result.RateErrPct = std::max(result.RateErrPct, f.rateErrPct);
        if (f.played > 0) {
            firstStart = started ? std::min(firstStart, f.startTicks) : f.startTicks;
            lastStart = started ? std::max(lastStart, f.startTicks) : f.startTicks;
            started = true;
            result.StartSkewTicks = lastStart - firstStart;
        }
        std::printf(
            "  motor %d (%s): played %d of %d (sent %d in %d segments), %s, overlaps %d, "
            "underruns %d (late segments after an idle list by the host's view %d), coil "
            "overwrites %d, mean-rate error %.4f %%, worst error %.2f ticks at that rate, worst "
            "interval error %.2f ticks, first step %+.1f ticks off\n",
            motor, bench::kPrograms[m].name, f.played, f.programmed, sent, p.Segments,
            f.inOrder && p.InOrder ? "in order" : "OUT OF ORDER", f.overlaps, f.underruns,
            stalls.Underruns, f.overwrites, f.rateErrPct, f.maxAbsTicks, f.maxIntervalTicks,
            f.startTicks);
    }
    return "";
}

}  // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    PortResult port;
    if (const std::string e = RunParallelPort(port); !e.empty()) {
        std::fprintf(stderr, "e2e_timing: parallel port: %s\n", e.c_str());
        return 1;
    }
    ModuleResult module, stalled;
    for (auto [result, stallMs] : {std::pair{&module, 0}, std::pair{&stalled, 300}}) {
        if (const std::string e = RunModule(*result, stallMs); !e.empty()) {
            std::fprintf(stderr, "e2e_timing: USB: %s\n", e.c_str());
            return 1;
        }
    }
    std::printf(
        "RESULT bench=e2e_timing lpt_missed=%ld lpt_rate_err_pct=%.3f lpt_p95_abs_ms=%.3f "
        "lpt_within1ms_700hz_pct=%.2f lpt_within1ms_300hz_pct=%.2f usb_lost=%ld usb_overlaps=%d "
        "usb_underruns=%d usb_overwrites=%d usb_max_abs_ticks=%.2f usb_rate_err_pct=%.4f "
        "usb_start_skew_ticks=%.1f usb_stall300_lost=%ld usb_stall300_overlaps=%d "
        "usb_stall300_underruns=%d usb_stall300_max_abs_ticks=%.2f "
        "usb_stall300_start_skew_ticks=%.1f\n",
        port.Missed, port.RateErrPct, port.P95Ms, port.Within1MsPct[1], port.Within1MsPct[3],
        module.Lost, module.Overlaps, module.Underruns, module.Overwrites, module.MaxAbsTicks,
        module.RateErrPct, module.StartSkewTicks, stalled.Lost, stalled.Overlaps, stalled.Underruns,
        stalled.MaxAbsTicks, stalled.StartSkewTicks);
    return 0;
}
