#include "platform/win32/Win32TimerService.h"

#include <windows.h>
// After <windows.h>, which it needs.
#include <mmsystem.h>

namespace platform {

namespace {

// Runs on winmm's timer thread; the user data is the sink that armed the event.
void CALLBACK TimerProc(UINT timerId, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
    reinterpret_cast<TimerEventSink*>(user)->OnTimerEvent(timerId);
}

}  // namespace

bool Win32TimerService::GetDevCaps(TimerCaps& caps) {
    TIMECAPS tc{};
    if (timeGetDevCaps(&tc, sizeof tc) != TIMERR_NOERROR) return false;
    caps.wPeriodMin = tc.wPeriodMin;
    caps.wPeriodMax = tc.wPeriodMax;
    return true;
}

void Win32TimerService::BeginPeriod(uint32_t periodMs) {
    timeBeginPeriod(periodMs);
}

void Win32TimerService::EndPeriod(uint32_t periodMs) {
    timeEndPeriod(periodMs);
}

uint32_t Win32TimerService::SetEvent(uint32_t delayMs, uint32_t resolutionMs,
                                     TimerEventSink* sink) {
    return timeSetEvent(delayMs, resolutionMs, TimerProc, reinterpret_cast<DWORD_PTR>(sink),
                        TIME_PERIODIC | TIME_CALLBACK_FUNCTION | TIME_KILL_SYNCHRONOUS);
}

void Win32TimerService::KillEvent(uint32_t timerId) {
    timeKillEvent(timerId);
}

uint32_t Win32TimerService::TickCount() {
    return GetTickCount();
}

uint64_t Win32TimerService::Microseconds() {
    // The counter's frequency is fixed at boot: asked once, not in every timer event.
    static const uint64_t f = [] {
        LARGE_INTEGER frequency;
        return QueryPerformanceFrequency(&frequency) && frequency.QuadPart > 0
                   ? static_cast<uint64_t>(frequency.QuadPart)
                   : 0;
    }();
    LARGE_INTEGER count;
    if (f == 0 || !QueryPerformanceCounter(&count)) return uint64_t{GetTickCount()} * 1000;
    const uint64_t c = static_cast<uint64_t>(count.QuadPart);
    return c / f * 1000000 + c % f * 1000000 / f;
}

void Win32TimerService::Sleep(uint32_t periodMs) {
    ::Sleep(periodMs);
}

void Win32TimerService::RaiseThreadPriority() {
    // winmm's timer thread runs at THREAD_PRIORITY_TIME_CRITICAL: host-timed steps keep the
    // lead. A refusal leaves the thread as it was.
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
}

TimerService& SystemTimerService() {
    static Win32TimerService service;
    return service;
}

}  // namespace platform
