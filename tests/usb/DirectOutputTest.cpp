// Direct output in virtual time: host-timed steps sent as the motors' phases through a link that
// carries one report per millisecond or slower, status reports that race the steps, and jogs
// beside runs that the virtual module plays.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "ProtocolFakes.h"
#include "testsupport/StreamingRig.h"

namespace usb {
namespace {

using motion::kDirLeft;
using motion::kDirNone;
using motion::kDirRight;
using motion::TStepperMotor;

// The window's output update: after every step the four phases, packed, go to DirectOutput; and
// every motor asks the protocol before it steps.
struct OutputUpdate {
    TUsbProtocol* protocol = nullptr;
    std::array<TStepperMotor*, 4> motors{};

    void Bind(TUsbProtocol& p, const std::array<TStepperMotor*, 4>& m) {
        protocol = &p;
        motors = m;
        for (TStepperMotor* motor : motors) {
            motor->SetOnStep(TStepperMotor::StepEvent::Bind<&OutputUpdate::Stepped>(this));
            motor->SetStepGate(protocol);
        }
    }
    uint8_t Phases() const {
        uint8_t byte = 0;
        for (int i = 0; i < 4; ++i)
            byte = static_cast<uint8_t>(byte | motors[i]->Phase() << (2 * i));
        return byte;
    }
    void Stepped(int32_t, uint8_t) { protocol->DirectOutput(Phases()); }
};

uint8_t PhaseOf(uint8_t byte, int motor) {
    return static_cast<uint8_t>(byte >> (2 * motor) & 3);
}

// ---- The link carries every step ----------------------------------------------------------

class DirectOutputLinkTest : public ::testing::Test, public testing::ProtocolBench {
  protected:
    OutputUpdate output;
    void SetUp() override {
        output.Bind(*protocol,
                    {motors[0].get(), motors[1].get(), motors[2].get(), motors[3].get()});
        protocol->SetPortSetting(TUsbProtocol::kPortUsbSlow);
    }
};

TEST_F(DirectOutputLinkTest, EveryStepReachesTheModuleAndNoneSkipsAPhase) {
    struct Case {
        std::array<double, 4> rates;  // Hz; 0: the motor has no program
        int linkMs;                   // one report every linkMs
    };
    const Case cases[] = {
        {{1000, 1000, 1000, 1000}, 1},  // four motors together at four times the link's rate
        {{1000, 1000, 1000, 1000}, 2},  // and on a link of 2 ms
        {{1000, 500, 0, 0}, 3},         // a 1000 Hz motor on a link of 3 ms
        {{333, 250, 200, 100}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("link " + std::to_string(c.linkMs) + " ms, motor 1 at " +
                     std::to_string(c.rates[0]) + " Hz");
        constexpr int kSteps = 60;
        for (int i = 0; i < 4; ++i) {
            motors[i]->Stop();
            motors[i]->SetPosition(0);
            motors[i]->SetPhase(0);
            SetProgram(i, {{c.rates[i] > 0 ? kSteps : 0, c.rates[i], 0.0,
                            i % 2 == 0 ? kDirRight : kDirLeft}});
        }
        protocol->ResetUsbBuffers();
        channel.Take();
        for (int i = 0; i < 4; ++i)
            motors[i]->StartProgram();
        for (int ms = 1; ms <= 2000; ++ms) {
            timers.Advance(1);
            if (ms % c.linkMs == 0) protocol->WriteDirectOutput();
        }
        while (protocol->WriteDirectOutput()) {
        }

        // Each report moves each motor by one phase code at most, in its direction.
        std::array<int, 4> steps{};
        uint8_t before = 0;
        for (const UsbReport& report : channel.Take()) {
            ASSERT_EQ(report[1], 0x0A);
            for (int i = 0; i < 4; ++i) {
                const uint8_t from = PhaseOf(before, i);
                const uint8_t to = PhaseOf(report[2], i);
                if (from == to) continue;
                const uint8_t direction = i % 2 == 0 ? kDirRight : kDirLeft;
                ASSERT_EQ(to, TStepperMotor::NextPhase(from, direction))
                    << "motor " << i + 1 << " skipped a phase code";
                ++steps[i];
            }
            before = report[2];
        }
        for (int i = 0; i < 4; ++i) {
            const int expected = c.rates[i] > 0 ? kSteps : 0;
            EXPECT_EQ(steps[i], expected) << "motor " << i + 1;
            EXPECT_EQ(std::abs(motors[i]->Position()), expected) << "motor " << i + 1;
            EXPECT_FALSE(motors[i]->Running()) << "motor " << i + 1;
        }
        EXPECT_EQ(before, output.Phases());  // the last report carries the latest phases
    }
}

TEST_F(DirectOutputLinkTest, AJogStepWaitsForAHeldLinkAndTheJogKeepsItsPace) {
    // A 100 Hz jog; the link takes nothing from 25 to 80 ms (a write time-out).
    motors[0]->SetControlFrequency(100);
    motors[0]->StartJog(kDirRight, true);
    std::vector<int> stepMs;
    for (int ms = 1; ms <= 300; ++ms) {
        const int32_t before = motors[0]->Position();
        timers.Advance(1);
        if (motors[0]->Position() != before) stepMs.push_back(ms);
        if (ms < 25 || ms > 80) protocol->WriteDirectOutput();
    }
    motors[0]->Stop();
    ASSERT_GE(stepMs.size(), 20u);
    bool waited = false;
    for (size_t k = 1; k < stepMs.size(); ++k) {
        const int interval = stepMs[k] - stepMs[k - 1];
        EXPECT_GE(interval, 10) << "step " << k << " at " << stepMs[k] << " ms";
        waited = waited || interval > 50;  // the step due at 30 ms waited for the link
    }
    EXPECT_TRUE(waited);
}

// ---- Status reports and host steps --------------------------------------------------------

class StatusPhaseTest : public DirectOutputLinkTest {
  protected:
    void SetUp() override {
        DirectOutputLinkTest::SetUp();
        protocol->ResetUsbBuffers();
    }
};

TEST_F(StatusPhaseTest, AReportTakesTheModulesPhaseOnlyWhereNoHostStepCanBeUndone) {
    enum class Before {
        kNothing,          // the link was just opened: the module knows the phases
        kJogging,          // motor 1 jogs
        kJogInFlight,      // a jog step ended, its direct output is being written
        kJogWritten,       // a jog step ended and went out: the report may be older
        kHostRun,          // motor 1 runs a host-timed program
        kModuleRunLater,   // after the jog, the module played a run of motor 1
        kModuleResetLater  // after the jog, the module reset motor 1
    };
    struct Case {
        const char* name;
        Before before;
        bool taken;
    };
    const Case cases[] = {
        {"fresh link", Before::kNothing, true},
        {"jogging", Before::kJogging, false},
        {"output in flight", Before::kJogInFlight, false},
        {"output written", Before::kJogWritten, false},
        {"host-timed run", Before::kHostRun, false},
        {"module run since", Before::kModuleRunLater, true},
        {"module reset since", Before::kModuleResetLater, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (auto& motor : motors) {
            motor->Stop();
            motor->SetPhase(0);
        }
        protocol->SetPortSetting(TUsbProtocol::kPortUsbSlow);
        protocol->ResetUsbBuffers();
        channel.Take();
        SetProgram(0, {{100, 100.0, 0.0, kDirRight}});
        switch (c.before) {
            case Before::kNothing:
                break;
            case Before::kJogging:
                motors[0]->StartJog(kDirRight, true);
                timers.Advance(1);  // the jog's first step: phase 0 -> 1
                break;
            case Before::kJogInFlight:
            case Before::kJogWritten:
            case Before::kModuleRunLater:
            case Before::kModuleResetLater:
                motors[0]->StartJog(kDirRight, true);
                timers.Advance(1);
                motors[0]->Stop();
                break;
            case Before::kHostRun:
                motors[0]->StartProgram();
                break;
        }
        ASSERT_EQ(c.before == Before::kNothing ? 0 : 1, motors[0]->Phase());
        if (c.before == Before::kJogInFlight) {
            // The writer has taken the step and is writing it: the report below races it.
            channel.onSend = [&] { Dispatch(Status({12, 12, 12, 12}, 0, 0)); };
        }
        if (c.before != Before::kNothing) protocol->WriteDirectOutput();
        channel.onSend = nullptr;
        if (c.before == Before::kModuleRunLater) {
            protocol->SetPortSetting(TUsbProtocol::kPortUsb);
            protocol->StartMotor(0);
        }
        if (c.before == Before::kModuleResetLater) protocol->StartReset(1);
        // A report that the module made before the step arrived: phase 0 for motor 1, 2 for the
        // idle motor 2.
        Dispatch(Status({12, 12, 12, 12}, 0, 0b10'00));
        EXPECT_EQ(motors[0]->Phase(), c.taken ? 0 : 1);
        EXPECT_EQ(motors[1]->Phase(), 2);  // nothing stepped it: the module's phase counts
    }
}

// ---- Jogs beside runs the module plays ----------------------------------------------------

TEST(DirectOutputModuleTest, AJogNeverRewritesTheCoilsOfAMotorTheModulePlays) {
    struct Case {
        const char* name;
        bool moduleRun;  // motor 1 plays a run in the module meanwhile
        bool space;      // space steps of motor 2 instead of a jog
    };
    const Case cases[] = {
        {"jog beside a run", true, false},
        {"space steps beside a run", true, true},
        {"jog alone", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::testing::StreamingRig rig;
        OutputUpdate output;
        output.Bind(rig.Protocol(), {&rig.Motor(0), &rig.Motor(1), &rig.Motor(2), &rig.Motor(3)});
        rig.Open();
        rig.Run(300);
        rig.SetProgram(0, {{c.moduleRun ? 600 : 0, 400.0, 0.2, kDirRight}});
        rig.SetProgram(1, {});
        rig.SetProgram(2, {});
        rig.SetProgram(3, {});
        if (c.moduleRun) rig.StartAll();
        // Motor 2 is moved by the host while motor 1 plays (1.7 s): 40 jog steps at 50 Hz, or
        // space steps every 20 ms. The writer sends once per millisecond, as the link carries them.
        auto& jogged = rig.Motor(1);
        jogged.SetControlFrequency(50);
        if (!c.space) jogged.StartJog(kDirLeft, true);
        int spaceSteps = 0;
        uint8_t moduleRunPhase = 0;
        size_t seenSteps = 0;
        for (int ms = 1; ms <= 2500; ++ms) {
            if (c.space && ms % 20 == 0 && spaceSteps < 40) spaceSteps += jogged.TryStep(kDirLeft);
            if (!c.space && jogged.Position() <= -40) jogged.Stop();
            rig.Run(1);
            rig.Protocol().WriteDirectOutput();
            // Motor 1's coils follow its own steps, and nothing else.
            const auto& played = rig.Played(0);
            for (; seenSteps < played.size(); ++seenSteps) {
                ASSERT_EQ(played[seenSteps].phase,
                          TStepperMotor::NextPhase(moduleRunPhase, kDirRight))
                    << "step " << seenSteps << " of motor 1";
                moduleRunPhase = played[seenSteps].phase;
            }
            ASSERT_EQ(rig.Module().Phase(1), moduleRunPhase) << "at " << ms << " ms";
        }
        EXPECT_EQ(rig.Played(0).size(), c.moduleRun ? 600u : 0u);
        EXPECT_EQ(jogged.Position(), -40);
        // Beside a run every host step of motor 2 was played as a step (a direct output sets
        // phases only).
        if (c.moduleRun) {
            EXPECT_EQ(rig.Module().Position(2), -40);
        }
        EXPECT_EQ(rig.Module().Phase(2), jogged.Phase());
    }
}

}  // namespace
}  // namespace usb
