// ClockCalibration: SecondsToTicks rounding, the nominal rate below 20 pairs (one slot of the
// ring always empty, so 30 pairs at most), the long fit's accuracy under read latency and a
// coarse host clock, pairs without host time passing, and the emptying on every opening.
#include "usb/ClockCalibration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <utility>
#include <vector>

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
    // The module reports every 8 ms at 7830 ticks/s (0.23 % off the nominal rate); the host
    // reads each 0 to 2 ms late (one in 50 up to 30 ms late) and stamps it with a clock that
    // counts in steps of 1 ms (Wine) or 15.625 ms (a coarse Windows clock).
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
            clock.AddSample(read, 5000 + k * 0.008 * 7830);
            const double error = std::fabs(clock.TicksPerSecond() / 7830 - 1);
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

TEST(ClockCalibrationTest, ABurstAfterABlockedReceiveThreadDoesNotBendTheRate) {
    // The module reports every 8 ms at 7812.5 ticks/s from the opening; the host reads each up
    // to 1 ms late, on a 1 ms clock. From 0.5 s to 1.0 s the receive thread is
    // held: the reports of that time wait in a buffer of 32 (the oldest dropped) and are read
    // back to back when it goes on. The rate seen at a moment after the burst must match the
    // rate of the same link without the hold.
    struct Case {
        double resolution;  // seconds
        double at;          // seconds after the opening
    };
    const Case cases[] = {{0.001, 1.0}, {0.001, 1.1}, {0.001, 3.0}, {0.001, 10.0}};
    for (const Case& c : cases) {
        double rates[2] = {};
        for (int held = 0; held < 2; ++held) {
            ClockCalibration clock;
            std::mt19937 random(11);
            std::uniform_real_distribution<double> late(0, 0.001);
            std::vector<std::pair<double, double>> buffer;  // (made, ticks) waiting
            auto read = [&](double at, double ticks) {
                clock.AddSample(std::floor((100 + at) / c.resolution) * c.resolution, ticks);
            };
            for (int k = 0; 8 * k <= 1000 * c.at; ++k) {
                const double made = k * 0.008;
                const double ticks = 5000 + k * 62.5;
                const double lateBy = late(random);
                if (held == 1 && made >= 0.5 && made < 1.0) {
                    buffer.emplace_back(made, ticks);
                    if (buffer.size() > 32) buffer.erase(buffer.begin());
                    continue;
                }
                for (size_t b = 0; b < buffer.size(); ++b)  // back to back, 20 us apart
                    read(1.0 + b * 0.00002, buffer[b].second);
                buffer.clear();
                read(made + lateBy, ticks);
            }
            rates[held] = clock.TicksPerSecond();
        }
        EXPECT_NE(rates[0], 7812) << c.resolution << " at " << c.at;
        EXPECT_LT(std::fabs(rates[1] / rates[0] - 1), 0.0001)
            << c.resolution << " at " << c.at << ": " << rates[0] << " vs " << rates[1];
    }
}

TEST(ClockCalibrationTest, ReportsThatComeLateForAWhileThenAtOnceDoNotBendTheRate) {
    // Reports every 8 ms at 7830 ticks/s, read `lateBy` late until `until` seconds after the
    // opening and at once from then on, in the order they were made (the ones waiting back to
    // back): the rate at every report after that stays close.
    struct Case {
        double lateBy, until;
    };
    for (const Case c : {Case{0.008, 2.4}, Case{0.012, 1.0}, Case{0.006, 5.0}}) {
        ClockCalibration clock;
        double worst = 0, lastRead = 0;
        for (int k = 0; 8 * k <= 8000; ++k) {
            const double made = k * 0.008;
            const double read =
                std::max(100 + made + (made < c.until ? c.lateBy : 0), lastRead + 0.00002);
            lastRead = read;
            clock.AddSample(read, 5000 + k * 0.008 * 7830);
            if (made >= c.until)
                worst = std::max(worst, std::fabs(clock.TicksPerSecond() / 7830 - 1));
        }
        EXPECT_LT(worst, 0.0005) << c.lateBy << " s late until " << c.until;
    }
}

TEST(ClockCalibrationTest, TheEnvelopeKeepsTheClockWhereTheLatestReportsAllCameLate) {
    // Reports every 8 ms at 7830 ticks/s, read at once for 3 s and then `lateBy` late for half a
    // second: the latest 32 reports all came late, and ModuleTicksAt lags by as much, while the
    // line through the least delayed report stays within half a millisecond of the module's
    // clock (reports a few milliseconds late still count a little in the fitted rate).
    for (const double lateBy : {0.004, 0.012, 0.030}) {
        ClockCalibration clock;
        double read = 0;
        for (int k = 0; 8 * k <= 3500; ++k) {
            const double made = k * 0.008;
            read = 100 + made + (made >= 3.0 ? lateBy : 0);
            clock.AddSample(read, 5000 + made * 7830);
        }
        const double truth = 5000 + (read - 100) * 7830;
        EXPECT_NEAR(clock.ModuleTicksAt(read), truth - lateBy * 7830, 1.0) << lateBy;
        EXPECT_NEAR(clock.EnvelopeTicksAt(read), truth, 4.0) << lateBy;
    }
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
