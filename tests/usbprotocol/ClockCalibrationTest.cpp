// ClockCalibration: SecondsToTicks rounding, the nominal rate below 20 pairs (one slot of the
// ring always empty, so 30 pairs at most), the long fit's accuracy under read latency and a
// coarse host clock, pairs without host time passing, and the emptying on every opening.
#include "usb/ClockCalibration.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

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

TEST(ClockCalibrationTest, NominalRateUntilTwentyPairsThenTheFit) {
    ClockCalibration clock;
    for (int k = 0; k < 40; ++k) {
        const int pairs = clock.AddSample(1 + k * 0.01, k * 80.0);
        EXPECT_EQ(pairs, std::min(k, 30)) << k;
        if (k < 20) {
            EXPECT_EQ(clock.TicksPerSecond(), 7812) << k;
        } else {
            EXPECT_NEAR(clock.TicksPerSecond(), 8000, 1e-6) << k;
        }
    }
    EXPECT_EQ(clock.ClockSampleIndex(), 40 % 32);
    EXPECT_EQ(clock.SecondsToTicks(0.5), 4000);
}

TEST(ClockCalibrationTest, TheRateIsGoodEnoughForTheStepBoundSoonAfterOpening) {
    // The module reports every 8 ms at 7812.5 ticks/s; the host reads each 0 to 2 ms late (one
    // in 50 up to 30 ms late) and stamps it with its millisecond tick count, which counts in
    // steps of 1 ms (Wine) or 15.625 ms (a coarse Windows clock).
    struct Case {
        double resolution;  // seconds
        double after2s;     // largest relative error after 2 s and after 10 s
        double after10s;
    };
    for (const Case c : {Case{0.001, 0.0005, 0.0001}, Case{0.015625, 0.0005, 0.0001}}) {
        ClockCalibration clock;
        std::mt19937 random(7);
        std::uniform_real_distribution<double> late(0, 0.002);
        for (int k = 0; k <= 1250; ++k) {
            const double sent = 100.0 + k * 0.008;
            double read = sent + late(random) + (k % 50 == 17 ? 0.028 : 0);
            read = std::floor(read / c.resolution) * c.resolution;
            clock.AddSample(read, 5000 + k * 62.5);
            const double error = std::fabs(clock.TicksPerSecond() / 7812.5 - 1);
            if (k == 250) {
                EXPECT_LE(error, c.after2s) << c.resolution;
            }
            if (k >= 1250) {
                EXPECT_LE(error, c.after10s) << c.resolution;
            }
        }
    }
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
