// Test support for the sequencer: a recorder of the three callbacks on the virtual clock, and
// a compact trace of them ("R@0 R@10 F@30 C@30": a right step at 0 ms, another at 10 ms, the
// program finished at 30 ms and the program step changed after it).
#pragma once

#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "motion/StepperMotor.h"
#include "platform/virtual/VirtualTimerService.h"
#include "testsupport/MotorPrograms.h"

namespace motion {

struct MotorRecorder : TextDisplay {
    platform::VirtualTimerService& service;
    std::vector<std::string> events;
    std::vector<std::string> texts;  // what the position display was given
    void (*onStep)(MotorRecorder&, uint8_t direction) = nullptr;  // runs inside OnStep
    platform::TimerService* fineClock = nullptr;  // when set, stepMs holds each step's time
    std::vector<double> stepMs;

    explicit MotorRecorder(platform::VirtualTimerService& s) : service(s) {}

    void Attach(TStepperMotor& motor) {
        motor.SetOnStep(TStepperMotor::StepEvent::Bind<&MotorRecorder::Stepped>(this));
        motor.SetOnStepChanged(TStepperMotor::MotorEvent::Bind<&MotorRecorder::Changed>(this));
        motor.SetOnFinished(TStepperMotor::MotorEvent::Bind<&MotorRecorder::Finished>(this));
        motor.SetPositionDisplay(this);
    }

    void Stepped(int32_t, uint8_t direction) {
        Add(direction == kDirRight ? "R" : direction == kDirLeft ? "L" : "?");
        if (fineClock != nullptr)
            stepMs.push_back(static_cast<double>(fineClock->Microseconds()) / 1000.0);
        if (onStep != nullptr) onStep(*this, direction);
    }
    void Changed(int32_t) { Add("C"); }
    void Finished(int32_t) { Add("F"); }
    void SetText(std::string_view text) override { texts.emplace_back(text); }

    void Add(const char* kind) {
        events.push_back(std::string(kind) + "@" + std::to_string(service.NowMs()));
    }

    std::string Trace() const {
        std::ostringstream out;
        for (size_t i = 0; i < events.size(); ++i)
            out << (i ? " " : "") << events[i];
        return out.str();
    }

    // The times (ms) of the steps that moved the motor, in order.
    std::vector<uint64_t> StepTimes() const {
        std::vector<uint64_t> times;
        for (const std::string& e : events)
            if (e[0] == 'R' || e[0] == 'L') times.push_back(std::stoull(e.substr(2)));
        return times;
    }

    size_t Count(char kind) const {
        size_t n = 0;
        for (const std::string& e : events)
            n += e[0] == kind;
        return n;
    }
};

// A timer service in front of the virtual one, for one timer: each event goes through
// OnTimerEvent, which a test service shapes before the motor's handler runs.
struct TimerServiceInFront : platform::TimerService, protected platform::TimerEventSink {
    explicit TimerServiceInFront(platform::VirtualTimerService& s) : inner(s) {}
    bool GetDevCaps(platform::TimerCaps& caps) override { return inner.GetDevCaps(caps); }
    void BeginPeriod(uint32_t ms) override { inner.BeginPeriod(ms); }
    void EndPeriod(uint32_t ms) override { inner.EndPeriod(ms); }
    uint32_t SetEvent(uint32_t delayMs, uint32_t resolutionMs,
                      platform::TimerEventSink* s) override {
        sink = s;
        Armed();
        return inner.SetEvent(delayMs, resolutionMs, this);
    }
    void KillEvent(uint32_t id) override { inner.KillEvent(id); }
    uint32_t TickCount() override { return inner.TickCount(); }
    void Sleep(uint32_t ms) override { inner.Sleep(ms); }
    virtual void Armed() {}
    platform::VirtualTimerService& inner;
    platform::TimerEventSink* sink = nullptr;
};

// A timer service whose events start late: each is due on the service's schedule, but its
// handler runs lateMs later (the thread wakes late), as winmm's do. The periodic schedule itself
// is kept, as winmm keeps it: the next event is due one delay after this one's due time.
struct LateStartTimerService final : TimerServiceInFront {
    LateStartTimerService(platform::VirtualTimerService& s, uint32_t late)
        : TimerServiceInFront(s), lateMs(late) {}
    void OnTimerEvent(uint32_t id) override {
        inner.Sleep(lateMs);
        sink->OnTimerEvent(id);
    }
    uint32_t lateMs;
};

// A timer service whose events come between the milliseconds, as on a loaded system: an event
// armed from now comes its delay after the moment of arming, on the fine clock, and each handler
// starts workUs after its event (the callbacks before it), so the moments of arming drift
// through the millisecond.
//
// driftUs: the events come that much later in each millisecond than in the one before, modulo a
// millisecond, whenever they were armed, as Wine's winmm thread delivers a one-millisecond
// periodic event: 1.1 ms apart (driftUs 100), and every tenth, a period it owes, at once.
struct BetweenMillisecondsTimerService final : TimerServiceInFront {
    BetweenMillisecondsTimerService(platform::VirtualTimerService& s, uint64_t work,
                                    uint64_t drift = 0)
        : TimerServiceInFront(s), workUs(work), driftUs(drift) {}
    void Armed() override { armedPhaseUs = phaseUs; }
    uint32_t TickCount() override { return static_cast<uint32_t>(Microseconds() / 1000); }
    uint64_t Microseconds() override { return inner.NowMs() * 1000 + phaseUs; }
    bool FinerThanMilliseconds() const override { return true; }
    // A wait on the fine clock takes the handler's own time, not the service's millisecond.
    void WaitUntil(uint64_t us) override {
        const uint64_t waitUs = us - std::min(us, Microseconds());
        phaseUs += waitUs;
        waitedUs += waitUs;
    }
    void OnTimerEvent(uint32_t id) override {
        // Never before the callback ahead of it has ended.
        const uint64_t ms = inner.NowMs();
        const uint64_t msUs = ms * 1000;
        const uint64_t duePhaseUs = driftUs != 0 ? ms * driftUs % 1000 : armedPhaseUs;
        phaseUs = std::max(duePhaseUs, endUs > msUs ? endUs - msUs : 0) + workUs;
        sink->OnTimerEvent(id);
        endUs = Microseconds();
    }
    uint64_t workUs;
    uint64_t driftUs;
    uint64_t phaseUs = 0;
    uint64_t armedPhaseUs = 0;
    uint64_t waitedUs = 0;  // on the fine clock, in all
    uint64_t endUs = 0;     // when the last callback ended
};

using testsupport::SetProgram;

// One motor on a between-milliseconds timer, with its steps' times on the fine clock.
struct FineClockRun {
    explicit FineClockRun(uint64_t workUs, uint64_t driftUs = 0) : fine{service, workUs, driftUs} {
        recorder.fineClock = &fine;
        recorder.Attach(motor);
    }
    // Plays one program step for ms and returns the steps' times.
    const std::vector<double>& Play(const TsmProgramStep& step, uint64_t ms) {
        SetProgram(motor, {step});
        motor.StartProgram();
        service.Advance(ms);
        return recorder.stepMs;
    }
    platform::VirtualTimerService service;
    BetweenMillisecondsTimerService fine;
    TStepperMotor motor{1, fine};
    MotorRecorder recorder{service};
};

}  // namespace motion
