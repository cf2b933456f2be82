// The parallel-port drive against the fake port library: binding at the first selection, the
// bytes a sequence of steps writes, the status read, the labels, and the failures (no library,
// a library without one of the two exports), release and rebinding.
#include <gtest/gtest.h>

#include "PortTestSupport.h"
#include "motion/ParallelPort.h"

namespace motion {
namespace {

constexpr const char* kMessage =
    "Could not load inpout32.dll. This Application won't be able to access the parallel port";

using Writes = std::vector<uint16_t>;

TEST_F(PortFixture, FirstSelectionBindsTheLibraryAndClearsStatusAndControlOnly) {
    EXPECT_EQ(port.Open(888), "LPT1 (0378)");
    EXPECT_TRUE(port.Bound());
    EXPECT_EQ(loader.Names, std::vector<std::string>{"inpout32.dll"});
    // The two register writes and no data byte: the lines keep their levels until a step.
    EXPECT_EQ(fake.Calls(), (std::vector<PortCall>{Out(0x379, 0), Out(0x37A, 0)}));
    EXPECT_TRUE(desktop.Messages().empty());
}

TEST_F(PortFixture, MotorOneFourStepsRightWriteTheGrayCodeWithHighByteSet) {
    port.Open(888);
    fake.Reset();
    for (int i = 0; i < 4; ++i)
        motors[0]->Step(kDirRight);
    EXPECT_EQ(fake.WritesTo(0x378), (Writes{0xFF01, 0xFF03, 0xFF02, 0xFF00}));
    EXPECT_EQ(fake.Calls().size(), 4u) << "one write per step, nothing else";
}

TEST_F(PortFixture, EveryStepWritesTheCodesOfAllFourMotors) {
    port.Open(888);
    motors[0]->SetPhase(3);
    fake.Reset();
    motors[2]->Step(kDirLeft);   // motor 3: 0 -> 2 in bits 4-5, motor 1 keeps 3
    motors[3]->Step(kDirRight);  // motor 4: 0 -> 1 in bits 6-7
    motors[1]->Step(kDirLeft);   // motor 2: 0 -> 2 in bits 2-3
    motors[0]->Step(kDirLeft);   // motor 1: 3 -> 1
    EXPECT_EQ(fake.WritesTo(0x378), (Writes{0xFF23, 0xFF63, 0xFF6B, 0xFF69}));
}

TEST(ParallelPort, PacksMotorOneLowestUpToMotorFourHighest) {
    struct Case {
        std::array<uint8_t, 4> phases;
        uint8_t byte;
    };
    const Case cases[] = {
        {{0, 0, 0, 0}, 0x00}, {{3, 0, 0, 0}, 0x03}, {{0, 1, 0, 0}, 0x04}, {{0, 0, 2, 0}, 0x20},
        {{0, 0, 0, 3}, 0xC0}, {{1, 2, 3, 1}, 0x79}, {{3, 3, 3, 3}, 0xFF}, {{2, 1, 1, 2}, 0x96},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.phases));
        EXPECT_EQ(TParallelPort::PackOutputByte(c.phases), c.byte);
    }
}

TEST_F(PortFixture, AnotherAddressWhileBoundNeitherReloadsNorClearsRegisters) {
    port.Open(888);
    fake.Reset();
    EXPECT_EQ(port.Open(632), "LPT2 (0278)");
    EXPECT_EQ(loader.Names.size(), 1u);
    EXPECT_TRUE(fake.Calls().empty());
    motors[1]->Step(kDirRight);
    EXPECT_EQ(fake.Calls(), std::vector<PortCall>{Out(0x278, 0xFF04)});
}

TEST(ParallelPort, StatusLabelNamesTheStandardPortsAndShowsFourUpperCaseHexDigits) {
    const std::pair<int16_t, const char*> cases[] = {
        {888, "LPT1 (0378)"}, {632, "LPT2 (0278)"}, {956, "LPT3 (03BC)"},
        {0x300, "(0300)"},    {0x2BC, "(02BC)"},    {2, "(0002)"},
        {0x7FFF, "(7FFF)"},   {-32768, "(8000)"},   {-1, "(FFFF)"},
    };
    for (const auto& [address, label] : cases)
        EXPECT_EQ(TParallelPort::StatusLabel(address), label) << address;
}

TEST_F(PortFixture, StatusReadTakesBasePlusOneAndItsFourSwitchBits) {
    EXPECT_EQ(port.ReadStatus(), std::nullopt) << "nothing bound yet";
    port.Open(0x3BC);
    fake.Reset(0x48);
    EXPECT_EQ(port.ReadStatus(), 0x48);
    EXPECT_EQ(fake.Calls(), (std::vector<PortCall>{{'I', 0x3BD, 0x48}}));

    struct Case {
        uint8_t status;
        std::array<bool, 4> atReset;  // motors 1 to 4
    };
    const Case cases[] = {
        {0x48, {true, false, false, true}},  {0x40, {true, false, false, false}},
        {0x20, {false, true, false, false}}, {0x10, {false, false, true, false}},
        {0x08, {false, false, false, true}}, {0x87, {false, false, false, false}},
        {0xFF, {true, true, true, true}},
    };
    for (const Case& c : cases) {
        for (int32_t m = 0; m < 4; ++m)
            EXPECT_EQ(TParallelPort::AtResetPosition(c.status, m), c.atReset[m])
                << "status " << int(c.status) << ", motor " << m + 1;
    }
    EXPECT_FALSE(TParallelPort::AtResetPosition(0xFF, 4));
    EXPECT_FALSE(TParallelPort::AtResetPosition(0xFF, -1));
}

TEST_F(PortFixture, MissingLibraryShowsTheMessageOnEachAttemptAndStepsGoOnUnwritten) {
    loader.Substitute["inpout32.dll"] = kAbsentLibrary;
    EXPECT_EQ(port.Open(888), "LPT1 (0378)");
    ASSERT_EQ(desktop.Messages().size(), 1u);
    EXPECT_EQ(desktop.Messages()[0].text, kMessage);
    EXPECT_EQ(desktop.Messages()[0].caption, "Error");
    EXPECT_FALSE(port.Bound());
    EXPECT_EQ(port.ReadStatus(), std::nullopt);

    motors[0]->Step(kDirRight);
    motors[0]->Step(kDirRight);
    EXPECT_EQ(motors[0]->Position(), 2);
    EXPECT_EQ(port.WriteOutput(Motors()), 0x03) << "the byte is still packed for the window";
    EXPECT_TRUE(fake.Calls().empty());

    // Every selection tries again; once the library is there it is bound.
    port.Open(632);
    EXPECT_EQ(desktop.Messages().size(), 2u);
    loader.Substitute.clear();
    EXPECT_EQ(port.Open(956), "LPT3 (03BC)");
    EXPECT_TRUE(port.Bound());
    EXPECT_EQ(desktop.Messages().size(), 2u);
    EXPECT_EQ(fake.Calls(), (std::vector<PortCall>{Out(0x3BD, 0), Out(0x3BE, 0)}));
}

TEST_F(PortFixture, MissingLibraryShowsTheMessageOncePerSelectionAndNeverStacked) {
    loader.Substitute["inpout32.dll"] = kAbsentLibrary;
    // A reopening while the box is up (a device change its message loop handles) tries the
    // load again but shows no second box.
    int nested = 0;
    desktop.WhileShown([&] {
        if (nested++ == 0) port.Open(888);
    });
    port.Open(888);
    EXPECT_EQ(nested, 1);
    EXPECT_EQ(desktop.Messages().size(), 1u);
    // The same port opened again (device changes) loads again, silently.
    port.Open(888);
    port.Open(888);
    EXPECT_EQ(desktop.Messages().size(), 1u);
    EXPECT_EQ(loader.Loaded, 0) << "an absent library is never loaded";
    EXPECT_EQ(loader.Names.size(), 4u) << "every opening tried it";
    // A new selection of the same port shows it again; once there the library is bound.
    port.NewSelection();
    port.Open(888);
    EXPECT_EQ(desktop.Messages().size(), 2u);
    loader.Substitute.clear();
    port.Open(888);
    EXPECT_TRUE(port.Bound());
    EXPECT_EQ(desktop.Messages().size(), 2u);
}

class LackingExport : public PortFixture, public testing::WithParamInterface<const char*> {};

TEST_P(LackingExport, CountsAsNotLoaded) {
    FakePortLibrary lacking(GetParam());  // to see whether the drive called into it
    loader.Substitute["inpout32.dll"] = GetParam();
    port.Open(888);
    EXPECT_FALSE(port.Bound());
    EXPECT_EQ(loader.Loaded, 1);
    EXPECT_EQ(loader.Freed, 1) << "freed at once";
    ASSERT_EQ(desktop.Messages().size(), 1u);
    EXPECT_EQ(desktop.Messages()[0].text, kMessage);
    EXPECT_EQ(desktop.Messages()[0].caption, "Error");

    motors[0]->Step(kDirRight);
    EXPECT_EQ(port.ReadStatus(), std::nullopt);
    EXPECT_TRUE(lacking.Calls().empty()) << "not even the register writes of a binding";
}

INSTANTIATE_TEST_SUITE_P(ParallelPort, LackingExport, testing::Values(kFakeNoOut32, kFakeNoInp32));

TEST_F(PortFixture, UsbSelectionReleasesAndTheNextPortSelectionBindsAnew) {
    port.Open(888);
    EXPECT_EQ(port.Open(0), "") << "the USB side writes its own label";
    EXPECT_FALSE(port.Bound());
    EXPECT_EQ(loader.Freed, 1);
    fake.Reset();
    motors[0]->Step(kDirRight);
    EXPECT_EQ(port.ReadStatus(), std::nullopt);
    EXPECT_TRUE(fake.Calls().empty()) << "no write after the release";

    port.Open(1);  // "USB (slow)": nothing left to release
    EXPECT_EQ(loader.Freed, 1);

    port.Open(632);
    EXPECT_EQ(loader.Names.size(), 2u);
    EXPECT_EQ(fake.Calls(), (std::vector<PortCall>{Out(0x279, 0), Out(0x27A, 0)}));
}

TEST_F(PortFixture, ReleaseAndDestructionFreeTheLibraryOnce) {
    {
        TParallelPort other(loader, desktop);
        other.Open(888);
        EXPECT_EQ(loader.Loaded, 1);
    }
    EXPECT_EQ(loader.Freed, 1);

    port.Open(888);
    port.Release();
    port.Release();
    EXPECT_EQ(loader.Loaded, 2);
    EXPECT_EQ(loader.Freed, 2);
}

}  // namespace
}  // namespace motion
