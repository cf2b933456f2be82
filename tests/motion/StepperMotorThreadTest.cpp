// Four motors on the platform's real timer service while another thread edits their programs,
// starts, stops and jogs them: run under ThreadSanitizer natively, and as a Windows exe on winmm.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "motion/StepperMotor.h"

namespace motion {
namespace {

using std::chrono::milliseconds;

struct Counters {
    std::array<std::atomic<int>, 4> steps{};
    std::array<std::atomic<int>, 4> finished{};
    std::array<std::unique_ptr<TStepperMotor>, 4>* motors = nullptr;
    bool chain = false;  // "run in order": a finished motor starts the next one

    void Step(int32_t motor, uint8_t) { ++steps[motor]; }
    void Finished(int32_t motor) {
        ++finished[motor];
        if (chain && motor < 3) (*motors)[motor + 1]->StartProgram();
    }
};

class MotorsOnRealTimers : public ::testing::Test {
  protected:
    MotorsOnRealTimers() {
        counters.motors = &motors;
        for (int32_t i = 0; i < 4; ++i) {
            motors[i] = std::make_unique<TStepperMotor>(i, platform::SystemTimerService());
            motors[i]->SetOnStep(TStepperMotor::StepEvent::Bind<&Counters::Step>(&counters));
            motors[i]->SetOnFinished(
                TStepperMotor::MotorEvent::Bind<&Counters::Finished>(&counters));
        }
    }
    int TotalSteps() const {
        int n = 0;
        for (const auto& s : counters.steps)
            n += s;
        return n;
    }

    Counters counters;
    std::array<std::unique_ptr<TStepperMotor>, 4> motors;
};

TEST_F(MotorsOnRealTimers, EditingProgramsWhileTheyRunIsSafe) {
    for (auto& motor : motors) {
        {
            auto program = motor->LockProgram();
            program->Add() = {20, 500.0, 0.01, kDirRight};
            program->Add() = {20, 400.0, 0.0, kDirLeft};
            program->Looping = true;
        }
        motor->StartProgram();
    }
    const auto end = std::chrono::steady_clock::now() + milliseconds(600);
    for (int round = 0; std::chrono::steady_clock::now() < end; ++round) {
        for (auto& motor : motors) {
            auto program = motor->LockProgram();
            switch (round % 5) {
                case 0:
                    program->Add() = {3, 300.0, 0.0, kDirRight};
                    break;
                case 1:
                    program->Insert(1) = {2, 200.0, 0.005, kDirLeft};
                    break;
                case 2:
                    program->Delete(0);
                    break;
                case 3:
                    program->Items(0) = {5, 700.0, 0.0, kDirRight};
                    break;
                case 4:
                    if (program->Count() > 100) program->Clear();
                    program->Add() = {4, 450.0, 0.0, kDirLeft};
                    break;
            }
        }
        motors[round % 4]->SetMaxFrequency(round % 2 ? 1000.0 : 800.0);
        std::this_thread::sleep_for(milliseconds(1));
    }
    for (auto& motor : motors)
        motor->Stop();
    const int atStop = TotalSteps();
    EXPECT_GT(atStop, 100);
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_EQ(TotalSteps(), atStop);  // no step after Stop has returned
}

TEST_F(MotorsOnRealTimers, StopAndStartFromTheWindowThreadWhileRunning) {
    for (auto& motor : motors) {
        auto program = motor->LockProgram();
        program->Add() = {1'000'000, 1000.0, 0.0, kDirRight};
    }
    for (int round = 0; round < 40; ++round) {
        TStepperMotor& motor = *motors[round % 4];
        motor.StartProgram();
        std::this_thread::sleep_for(milliseconds(3));
        motor.Stop();
        const int atStop = counters.steps[round % 4];
        std::this_thread::sleep_for(milliseconds(2));
        ASSERT_EQ(counters.steps[round % 4], atStop) << "round " << round;
        EXPECT_FALSE(motor.Running());
    }
}

TEST_F(MotorsOnRealTimers, FinishedCallbackStartsTheNextMotorFromTheTimerThread) {
    counters.chain = true;
    for (auto& motor : motors) {
        auto program = motor->LockProgram();
        program->Add() = {5, 500.0, 0.0, kDirLeft};
    }
    motors[0]->StartProgram();
    for (int wait = 0; wait < 200 && counters.finished[3] == 0; ++wait) {
        std::this_thread::sleep_for(milliseconds(10));
    }
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(counters.steps[i], 5) << "motor " << i;
        EXPECT_EQ(counters.finished[i], 1) << "motor " << i;
        EXPECT_EQ(motors[i]->Position(), -5);
    }
}

TEST_F(MotorsOnRealTimers, JoggingAndSpaceKeyStepsFromTwoThreads) {
    TStepperMotor& motor = *motors[0];
    motor.SetControlFrequency(500);
    motor.SetMaxFrequency(0);
    motor.Step(kDirRight);
    motor.StartJog(kDirRight);
    for (int i = 0; i < 50; ++i) {
        motor.Step(kDirLeft);  // the space key on the window thread
        std::this_thread::sleep_for(milliseconds(1));
    }
    motor.Stop();
    const int steps = counters.steps[0];
    EXPECT_GT(steps, 51);
    // Every step moved the position by one: right steps minus the 50 left ones.
    EXPECT_EQ(motor.Position(), (steps - 50) - 50);
}

TEST_F(MotorsOnRealTimers, AStopEndsARateLimiterWaitAtOnceAndNoStepFollows) {
    // 0.1 Hz: the program's second step waits 10 s in the limiter on the timer thread.
    TStepperMotor& motor = *motors[0];
    motor.SetMaxFrequency(0.1);
    {
        auto program = motor.LockProgram();
        program->Add() = {5, 100.0, 0.0, kDirRight};
    }
    motor.StartProgram();
    std::this_thread::sleep_for(milliseconds(100));  // the second step is waiting now
    const auto start = std::chrono::steady_clock::now();
    motor.Stop();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(2));  // not the rest of the 10 s wait
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_EQ(counters.steps[0].load(), 1);
}

}  // namespace
}  // namespace motion
