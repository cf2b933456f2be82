// Step-timing benchmark: four motors run host-timed on the platform's real timer service for a
// fixed time, at 1000, 700, 450 and 300 Hz plateaus (each with a 0.2 s start ramp). Every
// step's time is taken from a high-resolution clock inside the step event and compared with its
// ideal time on the schedule (TStepSchedule), counted from the motor's first step. Per motor it
// prints the steps emitted against the steps due before the stop, the mean-rate error (the
// least-squares scale of played against ideal times) and the p95, p99 and largest absolute
// error of each step against its ideal time; and the process CPU time per wall second.
//
// Then disturbed runs of one motor: a 60 ms hold of the timer thread in a 100 Hz plateau, a
// 200 Hz program under a 100 Hz MaxFrequency, and frequency edits halfway through a step. Each
// prints the shortest interval as a share of the one the program allows at that point, the
// longest gap as a multiple of it, and the steps lost or added:
//   RESULT bench=step_timing case=<name> platform=<...> shortest_share=<x>
//          longest_gap_periods=<x> lost=<n> added=<n>
//          [edit_step_late_ms=<x>: how late the first step after an edit came against one new
//          period after the last step played, or the edit where that is later]
//
// Usage: step_timing [seconds, default 10]
// Last line (missed and rate error: the sum and the worst over the motors; percentiles over
// every step of all four):
//   RESULT bench=step_timing platform=<native|wine|windows> missed=<n> max_rate_err_pct=<x>
//          p95_abs_ms=<x> p99_abs_ms=<x>
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "motion/StepSchedule.h"
#include "motion/StepperMotor.h"
#include "platform/TimerService.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;
using motion::TsmProgramStep;
using motion::TStepperMotor;
using motion::TStepSchedule;

double ProcessCpuSeconds() {
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](FILETIME t) {
        return ((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) * 1e-7;
    };
    return seconds(kernel) + seconds(user);
#else
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec * 1e-6 + usage.ru_stime.tv_sec +
           usage.ru_stime.tv_usec * 1e-6;
#endif
}

const char* PlatformName() {
#ifdef _WIN32
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr ? "wine"
                                                                                    : "windows";
#else
    return "native";
#endif
}

// Step times of one motor, written only by the thread that takes its steps.
struct StepLog {
    std::vector<Clock::time_point> times;
    std::atomic<size_t> count{0};
    void Stepped(int32_t, uint8_t) {
        const size_t n = count.load(std::memory_order_relaxed);
        if (n < times.size()) times[n] = Clock::now();
        count.store(n + 1, std::memory_order_release);
    }
};

// The p-th percentile of sorted values (0 when there are none).
double Percentile(const std::vector<double>& sorted, int p) {
    if (sorted.empty()) return 0;
    return sorted[std::min(sorted.size() - 1, sorted.size() * static_cast<size_t>(p) / 100)];
}

struct CaseResult {
    long missed = 0;
    double maxRateErrPct = 0;
    std::vector<double> absErrorsMs;  // every step of every motor
};

// Four motors at once, each at its own plateau with a 0.2 s start ramp, for `seconds`. Every
// step is compared with its ideal time on the schedule, counted from the motor's first step.
CaseResult RunCase(const std::array<double, 4>& frequencies, double seconds) {
    std::array<TsmProgramStep, 4> steps;
    const size_t capacity = static_cast<size_t>(seconds * 1000) + 1000;
    platform::TimerService& timers = platform::SystemTimerService();
    std::array<StepLog, 4> logs;
    std::array<std::unique_ptr<TStepperMotor>, 4> motors;
    for (int32_t m = 0; m < 4; ++m) {
        steps[m] = {1'000'000'000, frequencies[m], 0.2, motion::kDirRight};
        logs[m].times.resize(capacity);
        motors[m] = std::make_unique<TStepperMotor>(m, timers);
        motors[m]->SetOnStep(TStepperMotor::StepEvent::Bind<&StepLog::Stepped>(&logs[m]));
        motors[m]->LockProgram()->Add() = steps[m];
    }

    const double cpuBefore = ProcessCpuSeconds();
    const auto wallBefore = Clock::now();
    for (auto& motor : motors)
        motor->StartProgram();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    std::array<Clock::time_point, 4> stopped;
    for (int m = 0; m < 4; ++m) {
        stopped[m] = Clock::now();
        motors[m]->Stop();
    }
    const auto wallAfter = Clock::now();
    const double cpuAfter = ProcessCpuSeconds();

    CaseResult result;
    for (int m = 0; m < 4; ++m) {
        const size_t emitted = std::min(logs[m].count.load(std::memory_order_acquire), capacity);
        if (emitted < 2) continue;
        const auto& t = logs[m].times;
        // Steps due more than 2 ms (the timer's resolution and some slack) before the stop,
        // counted from this motor's first step: one due at the very moment of the stop may
        // fairly be cut off by it.
        const double runSeconds = std::chrono::duration<double>(stopped[m] - t[0]).count() - 0.002;
        size_t expected = 0;
        while (expected < capacity &&
               TStepSchedule::Offset(steps[m], static_cast<int32_t>(expected)) < runSeconds)
            ++expected;
        const long missed = expected > emitted ? static_cast<long>(expected - emitted) : 0;
        result.missed += missed;

        // The mean rate: the least-squares scale of played over ideal times through the first
        // step; then each step's error against its ideal time.
        double sumIdealPlayed = 0, sumIdealIdeal = 0;
        std::vector<double> idealMs(emitted), playedMs(emitted);
        for (size_t i = 0; i < emitted; ++i) {
            idealMs[i] = TStepSchedule::Offset(steps[m], static_cast<int32_t>(i)) * 1000;
            playedMs[i] = std::chrono::duration<double, std::milli>(t[i] - t[0]).count();
            sumIdealPlayed += idealMs[i] * playedMs[i];
            sumIdealIdeal += idealMs[i] * idealMs[i];
        }
        const double rateErrPct = 100 * std::fabs(sumIdealPlayed / sumIdealIdeal - 1);
        result.maxRateErrPct = std::max(result.maxRateErrPct, rateErrPct);
        std::vector<double> errors;
        double signedSum = 0;  // a mean far from 0 is a bias the timing could take off
        for (size_t i = 0; i < emitted; ++i) {
            errors.push_back(std::fabs(playedMs[i] - idealMs[i]));
            signedSum += playedMs[i] - idealMs[i];
        }
        result.absErrorsMs.insert(result.absErrorsMs.end(), errors.begin(), errors.end());
        std::sort(errors.begin(), errors.end());
        // Intervals on the plateau shorter than half the period: pairs a motor may not follow.
        const double periodMs = 1000 / frequencies[m];
        double shortestMs = periodMs;
        size_t pairs = 0;
        for (size_t i = 1; i < emitted; ++i) {
            if (idealMs[i - 1] < 200) continue;
            const double intervalMs = playedMs[i] - playedMs[i - 1];
            shortestMs = std::min(shortestMs, intervalMs);
            pairs += intervalMs < periodMs / 2 ? 1 : 0;
        }
        std::printf(
            "motor %d, %4.0f Hz (0.2 s ramp): %zu of %zu steps (missed %ld), mean-rate error "
            "%.3f %%, error against the ideal time mean %+.3f ms, p95 %.3f ms p99 %.3f ms max %.3f "
            "ms; plateau: shortest interval %.3f ms, %zu under half the period\n",
            m + 1, frequencies[m], emitted, expected, missed, rateErrPct,
            signedSum / static_cast<double>(emitted), Percentile(errors, 95),
            Percentile(errors, 99), errors.back(), shortestMs, pairs);
    }
    const double wall = std::chrono::duration<double>(wallAfter - wallBefore).count();
    std::printf("cpu %.2f %% of one core\n", 100 * (cpuAfter - cpuBefore) / wall);
    return result;
}

// A disturbed run of one motor: a held timer thread, a rate limit below the program, or an
// edit of the running program step. Each interval between consecutive steps is compared with
// the one the program allows at that point (its period, or 1/MaxFrequency where that is
// longer; after an edit, the new period).
struct Disturbance {
    const char* name;
    TsmProgramStep step;
    double maxFrequency = 1000;
    size_t holdAtStep = 0;  // the step's handler holds the timer thread for holdMs
    uint32_t holdMs = 0;
    size_t editAfterStep = 0;  // half a period after this step the frequency becomes editTo
    double editTo = 0;
};

struct HoldingLog : StepLog {
    size_t holdAt = 0;
    uint32_t holdMs = 0;
    void Stepped(int32_t motor, uint8_t direction) {
        StepLog::Stepped(motor, direction);
        if (holdMs != 0 && count.load(std::memory_order_relaxed) == holdAt) {
            std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
        }
    }
};

void RunDisturbed(const Disturbance& d) {
    platform::TimerService& timers = platform::SystemTimerService();
    HoldingLog log;
    log.times.resize(static_cast<size_t>(d.step.Steps) + 16);
    log.holdAt = d.holdAtStep;
    log.holdMs = d.holdMs;
    TStepperMotor motor(0, timers);
    motor.SetOnStep(TStepperMotor::StepEvent::Bind<&HoldingLog::Stepped>(&log));
    motor.SetMaxFrequency(d.maxFrequency);
    motor.LockProgram()->Add() = d.step;
    const double runSeconds = TStepSchedule::Offset(d.step, d.step.Steps) * 4 + 2;
    motor.StartProgram();
    const auto begin = Clock::now();
    Clock::time_point editedAt = Clock::time_point::max();
    while (motor.Running() && Clock::now() - begin < std::chrono::duration<double>(runSeconds)) {
        if (d.editTo > 0 && editedAt == Clock::time_point::max() &&
            log.count.load(std::memory_order_acquire) >= d.editAfterStep) {
            std::this_thread::sleep_for(std::chrono::duration<double>(0.5 / d.step.Frequency));
            editedAt = Clock::now();
            motor.LockProgram()->Items(0).Frequency = d.editTo;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    motor.Stop();
    const size_t emitted = std::min(log.count.load(std::memory_order_acquire), log.times.size());
    double shortest = 1e300, longest = 0;
    // The first step after an edit is due one new period after the last step played, or at
    // the edit itself where that has passed; how late it came against that.
    double editStepLateMs = -1;
    for (size_t i = 1; i < emitted; ++i) {
        const double frequency = log.times[i] > editedAt ? d.editTo : d.step.Frequency;
        const double allowedMs = 1000 / std::min(frequency, d.maxFrequency);
        const double ms =
            std::chrono::duration<double, std::milli>(log.times[i] - log.times[i - 1]).count();
        shortest = std::min(shortest, ms / allowedMs);
        longest = std::max(longest, ms / allowedMs);
        if (editStepLateMs < 0 && log.times[i] > editedAt) {
            const double sinceEditMs =
                std::chrono::duration<double, std::milli>(log.times[i] - editedAt).count();
            editStepLateMs = std::min(ms - allowedMs, sinceEditMs);
        }
    }
    const long programmed = d.step.Steps;
    const long played = static_cast<long>(emitted);
    char editFigures[48] = "";
    if (d.editTo > 0)
        std::snprintf(editFigures, sizeof editFigures, " edit_step_late_ms=%.2f", editStepLateMs);
    std::printf(
        "RESULT bench=step_timing case=%s platform=%s shortest_share=%.3f longest_gap_periods=%.2f "
        "lost=%ld added=%ld%s\n",
        d.name, PlatformName(), shortest, longest, std::max(programmed - played, 0L),
        std::max(played - programmed, 0L), editFigures);
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    if (!(seconds > 0 && seconds <= 600)) {
        std::fprintf(stderr, "usage: step_timing [seconds, 0 < s <= 600]\n");
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    // The disturbed cases first, on a quiet timer thread of their own.
    const Disturbance disturbances[] = {
        {"hold60ms_100hz", {300, 100.0, 0.0, motion::kDirRight}, 1000, 100, 60},
        {"limit100hz_200hz", {300, 200.0, 0.0, motion::kDirRight}, 100},
        {"edit_100_to_50hz", {200, 100.0, 0.0, motion::kDirRight}, 1000, 0, 0, 100, 50},
        {"edit_100_to_200hz", {300, 100.0, 0.0, motion::kDirRight}, 1000, 0, 0, 100, 200},
    };
    for (const Disturbance& d : disturbances)
        RunDisturbed(d);
    CaseResult r = RunCase({1000.0, 700.0, 450.0, 300.0}, seconds);
    std::sort(r.absErrorsMs.begin(), r.absErrorsMs.end());
    std::printf(
        "RESULT bench=step_timing platform=%s missed=%ld max_rate_err_pct=%.3f p95_abs_ms=%.3f "
        "p99_abs_ms=%.3f\n",
        PlatformName(), r.missed, r.maxRateErrPct, Percentile(r.absErrorsMs, 95),
        Percentile(r.absErrorsMs, 99));
    return 0;
}
