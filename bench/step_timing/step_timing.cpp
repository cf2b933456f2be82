// Step-timing benchmark: four motors run host-timed on the platform's real timer service for a
// fixed time, once at a 1000 Hz plateau and once at 300 Hz (each with a 0.2 s start ramp). Every
// step's time is taken from a high-resolution clock inside the step event. Per case it prints
// the steps emitted against the steps the rounded-millisecond schedule expects, the mean and
// 99th-percentile absolute error of each interval between consecutive steps against its period
// in whole milliseconds, and the process CPU time per wall second.
//
// Usage: step_timing [seconds per case, default 10]
// Last line: RESULT platform=<native|wine|windows> missed=<n> p99_ms=<x> mean_ms=<x> cpu_pct=<x>
// (the worst figure of each kind over the cases).
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

#include "motion/RoundHalfEven.h"
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

struct CaseResult {
    long missed = 0;
    double p99Ms = 0;
    double meanMs = 0;
    double cpuPct = 0;
};

CaseResult RunCase(double frequency, double seconds) {
    const TsmProgramStep step{1'000'000'000, frequency, 0.2, motion::kDirRight};
    // The schedule in whole milliseconds: period i is the ramp period rounded halves to even.
    std::vector<double> periodMs;
    const size_t capacity = static_cast<size_t>(seconds * 1000) + 1000;
    for (size_t i = 0; i < capacity; ++i) {
        periodMs.push_back(
            motion::RoundHalfEven(TStepperMotor::RampPeriod(step, static_cast<int32_t>(i)) * 1000));
    }

    platform::TimerService& timers = platform::SystemTimerService();
    std::array<StepLog, 4> logs;
    std::array<std::unique_ptr<TStepperMotor>, 4> motors;
    for (int32_t m = 0; m < 4; ++m) {
        logs[m].times.resize(capacity);
        motors[m] = std::make_unique<TStepperMotor>(m, timers);
        motors[m]->SetOnStep(TStepperMotor::StepEvent::Bind<&StepLog::Stepped>(&logs[m]));
        motors[m]->LockProgram()->Add() = step;
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
    std::vector<double> errors;
    long emittedTotal = 0, expectedTotal = 0;
    for (int m = 0; m < 4; ++m) {
        const size_t emitted = std::min(logs[m].count.load(std::memory_order_acquire), capacity);
        if (emitted == 0) continue;
        const auto& t = logs[m].times;
        // Steps the schedule puts more than 2 ms (the timer's resolution and some slack) before
        // the stop, counted from this motor's first step: one due at the very moment of the
        // stop may fairly be cut off by it.
        const double runMs =
            std::chrono::duration<double, std::milli>(stopped[m] - t[0]).count() - 2.0;
        size_t expected = 0;
        for (double due = 0; expected < capacity && due < runMs;)
            due += periodMs[expected++];
        result.missed += expected > emitted ? static_cast<long>(expected - emitted) : 0;
        emittedTotal += static_cast<long>(emitted);
        expectedTotal += static_cast<long>(expected);
        for (size_t i = 1; i < emitted; ++i) {
            const double actual =
                std::chrono::duration<double, std::milli>(t[i] - t[i - 1]).count();
            errors.push_back(std::fabs(actual - periodMs[i - 1]));
        }
    }
    std::sort(errors.begin(), errors.end());
    if (!errors.empty()) {
        double sum = 0;
        for (double e : errors)
            sum += e;
        result.meanMs = sum / errors.size();
        result.p99Ms = errors[std::min(errors.size() - 1, errors.size() * 99 / 100)];
    }
    const double wall = std::chrono::duration<double>(wallAfter - wallBefore).count();
    result.cpuPct = 100 * (cpuAfter - cpuBefore) / wall;

    std::printf(
        "%4.0f Hz plateau, 4 motors, %.1f s: steps %ld of %ld expected (missed %ld), "
        "interval error mean %.3f ms p99 %.3f ms max %.3f ms, cpu %.2f %% of one core\n",
        frequency, seconds, emittedTotal, expectedTotal, result.missed, result.meanMs, result.p99Ms,
        errors.empty() ? 0.0 : errors.back(), result.cpuPct);
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    if (!(seconds > 0 && seconds <= 600)) {
        std::fprintf(stderr, "usage: step_timing [seconds per case, 0 < s <= 600]\n");
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    CaseResult worst;
    for (double frequency : {1000.0, 300.0}) {
        const CaseResult r = RunCase(frequency, seconds);
        worst.missed = std::max(worst.missed, r.missed);
        worst.p99Ms = std::max(worst.p99Ms, r.p99Ms);
        worst.meanMs = std::max(worst.meanMs, r.meanMs);
        worst.cpuPct = std::max(worst.cpuPct, r.cpuPct);
    }
    std::printf("RESULT platform=%s missed=%ld p99_ms=%.3f mean_ms=%.3f cpu_pct=%.2f\n",
                PlatformName(), worst.missed, worst.p99Ms, worst.meanMs, worst.cpuPct);
    return 0;
}
