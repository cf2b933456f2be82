// ClockCalibration: SecondsToTicks rounding, the nominal rate below 20 pairs, the mean over the
// ring's pairs (one slot always empty, so 30 pairs at most), pairs without host time passing,
// and the emptying on every opening.
#include "usb/ClockCalibration.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace usb {
namespace {

TEST(ClockCalibrationTest, SecondsToTicksRoundsHalvesToEven) {
    ClockCalibration clock;
    struct Case {
        double seconds;
        int64_t ticks;
    };
    // 7812 x 0.125 = 976.5 and 7812 x 0.375 = 2929.5 exactly.
    const Case cases[] = {{0.125, 976},   {0.375, 2930},
                          {-0.125, -976}, {0.0625, 488},
                          {0.002, 16},    {0, 0},
                          {1, 7812},      {0.000064, 0},
                          {0.0000641, 1}, {1e300, std::numeric_limits<int64_t>::max()}};
    for (const Case& c : cases)
        EXPECT_EQ(clock.SecondsToTicks(c.seconds), c.ticks) << c.seconds;
    EXPECT_EQ(clock.SecondsToTicks(std::nan("")), 0);
}

// Sample k at host time k x 10 ms; the module runs at 5000 ticks/s up to sample 9 and at 8000
// after it.
double ModuleTicks(int k) {
    return k <= 9 ? k * 50.0 : 450.0 + (k - 9) * 80.0;
}

TEST(ClockCalibrationTest, NominalRateUntilTwentyPairsThenTheFitOverTheRing) {
    ClockCalibration clock;
    for (int k = 0; k < 40; ++k) {
        const int pairs = clock.AddSample(1 + k * 0.01, ModuleTicks(k));
        EXPECT_EQ(pairs, std::min(k, 30)) << k;
        if (k < 20) {
            EXPECT_EQ(clock.TicksPerSecond(), 7812) << k;
        } else if (k == 20) {
            // Pairs 1..20: nine at 5000, eleven at 8000.
            EXPECT_GT(clock.TicksPerSecond(), 5000);
            EXPECT_LT(clock.TicksPerSecond(), 8000);
        } else if (k == 38) {
            // The ring keeps 31 samples (8..38): only sample 8 lies off the 8000 line.
            EXPECT_GT(clock.TicksPerSecond(), 7900);
            EXPECT_LT(clock.TicksPerSecond(), 8000);
        } else if (k == 39) {
            // Samples 9..39 all lie on the 8000 line: the old rate is forgotten.
            EXPECT_NEAR(clock.TicksPerSecond(), 8000, 1e-6);
        }
    }
    EXPECT_EQ(clock.ClockSampleIndex(), 40 % 32);
    EXPECT_EQ(clock.SecondsToTicks(0.5), 4000);
}

TEST(ClockCalibrationTest, ReportsReadInBurstsKeepTheRateClose) {
    // The module reports every 8 ms (62.5 ticks); a busy receive thread reads them four at a
    // time, 1 ms apart, up to 24 ms late. The pairs read 1 ms apart alone would claim 62,500
    // ticks/s.
    ClockCalibration clock;
    for (int k = 0; k < 64; ++k) {
        const double sent = 1 + k * 0.008;
        const double read = 1 + (k / 4 + 1) * 0.032 + (k % 4) * 0.001;
        clock.AddSample(read, k * 62.5);
        ASSERT_GE(read, sent);
    }
    EXPECT_NEAR(clock.TicksPerSecond(), 7812.5, 7812.5 * 0.02);
}

TEST(ClockCalibrationTest, PairsWithoutHostTimePassingDoNotCount) {
    ClockCalibration clock;
    int pairs = 0;
    for (int k = 0; k < 30; ++k)  // two reports per host millisecond tick
        pairs = clock.AddSample(1 + (k / 2) * 0.008, k * 31.25);
    EXPECT_EQ(pairs, 14);
    EXPECT_EQ(clock.TicksPerSecond(), 7812);
}

TEST(ClockCalibrationTest, ASampleAtHostTimeZeroCounts) {
    ClockCalibration clock;
    clock.AddSample(0, 0);
    EXPECT_EQ(clock.AddSample(0.008, 62.5), 1);
}

TEST(ClockCalibrationTest, ClearStartsAfresh) {
    ClockCalibration clock;
    for (int k = 0; k < 25; ++k)
        clock.AddSample(1 + k * 0.01, k * 80.0);
    ASSERT_NEAR(clock.TicksPerSecond(), 8000, 1e-6);
    clock.Clear();
    EXPECT_EQ(clock.ClockSampleIndex(), 0);
    EXPECT_NEAR(clock.TicksPerSecond(), 8000, 1e-6);  // the rate stays until the next sample
    EXPECT_EQ(clock.AddSample(5, 0), 0);
    EXPECT_EQ(clock.TicksPerSecond(), 7812);
    clock.SetDefault();
    EXPECT_EQ(clock.TicksPerSecond(), 7812);
}

TEST(ClockCalibrationTest, TheFitHoldsAcrossTheWrapOfTheMillisecondCount) {
    // Reports every 8 ms at 7812.5 ticks/s while the host's 32-bit tick count wraps.
    ClockCalibration clock;
    const uint64_t startMs = 4294967296ull - 160;
    for (int k = 0; k < 60; ++k) {
        const uint64_t ms = startMs + 8 * static_cast<uint64_t>(k);
        const double host = static_cast<double>(static_cast<uint32_t>(ms)) * 0.001;
        clock.AddSample(host, 1000 + k * 62.5);
        if (k >= 20) {
            EXPECT_NEAR(clock.TicksPerSecond(), 7812.5, 0.01) << k;
        }
    }
    // After the wrap the module's clock is still told from the (wrapped) host time.
    const double nowHost = static_cast<double>(static_cast<uint32_t>(startMs + 8 * 59)) * 0.001;
    EXPECT_NEAR(clock.ModuleTicksAt(nowHost), 1000 + 59 * 62.5, 1e-3);
}

}  // namespace
}  // namespace usb
