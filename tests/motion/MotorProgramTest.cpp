#include "motion/MotorProgram.h"

#include <gtest/gtest.h>

#include <utility>

namespace motion {
namespace {

TsmProgramStep Record(int32_t steps) {
    return {steps, steps * 1.5, steps * 0.25, kDirRight};
}

// Fills a program with records whose Steps are 0, 1, 2, ... so positions can be checked.
void Fill(TsmProgram& program, int32_t count) {
    for (int32_t i = 0; i < count; ++i)
        program.Add() = Record(i);
}

std::vector<int32_t> StepsOf(const TsmProgram& program) {
    std::vector<int32_t> steps;
    for (int32_t i = 0; i < program.Count(); ++i)
        steps.push_back(program.Items(i).Steps);
    return steps;
}

TEST(TsmProgram, NewProgramIsEmptyWithoutStorage) {
    TsmProgram program;
    EXPECT_EQ(program.Count(), 0);
    EXPECT_EQ(program.Capacity(), 0);
    EXPECT_FALSE(program.Looping);
}

TEST(TsmProgram, InsertOutsideTheListAppendsLikeAdd) {
    for (int32_t index : {3, 4, -1, -100}) {
        TsmProgram program;
        Fill(program, 3);
        program.Insert(index) = Record(9);
        EXPECT_EQ(StepsOf(program), (std::vector<int32_t>{0, 1, 2, 9})) << "index " << index;
    }
}

TEST(TsmProgram, InsertAtFrontMovesEveryRecordUpAndKeepsACopyInTheSlot) {
    TsmProgram program;
    Fill(program, 3);
    TsmProgramStep& slot = program.Insert(0);
    EXPECT_EQ(&slot, &program.Items(0));
    EXPECT_EQ(slot.Steps, 0);  // still the old record 0 until the caller overwrites it
    slot = Record(7);
    EXPECT_EQ(StepsOf(program), (std::vector<int32_t>{7, 0, 1, 2}));
}

TEST(TsmProgram, InsertInTheMiddleWhenFullGrowsAndKeepsOrder) {
    TsmProgram program;
    Fill(program, 64);
    program.Insert(10) = Record(1000);
    EXPECT_EQ(program.Capacity(), 128);
    ASSERT_EQ(program.Count(), 65);
    EXPECT_EQ(program.Items(9).Steps, 9);
    EXPECT_EQ(program.Items(10).Steps, 1000);
    EXPECT_EQ(program.Items(11).Steps, 10);
    EXPECT_EQ(program.Items(64).Steps, 63);
}

TEST(TsmProgram, DeleteOutsideTheListChangesNothing) {
    TsmProgram program;
    Fill(program, 3);
    program.Delete(3);
    program.Delete(-1);
    EXPECT_EQ(StepsOf(program), (std::vector<int32_t>{0, 1, 2}));
}

TEST(TsmProgram, DeleteMovesTheLaterRecordsDownAndNeverShrinks) {
    TsmProgram program;
    Fill(program, 65);
    program.Delete(0);
    program.Delete(63);  // the last one
    program.Delete(30);
    EXPECT_EQ(program.Capacity(), 128);
    ASSERT_EQ(program.Count(), 62);
    EXPECT_EQ(program.Items(0).Steps, 1);
    EXPECT_EQ(program.Items(29).Steps, 30);
    EXPECT_EQ(program.Items(30).Steps, 32);
    EXPECT_EQ(program.Items(61).Steps, 63);
}

TEST(TsmProgram, CapacityGrowsInWholeBlocksOf64KeepingTheRecords) {
    TsmProgram program;
    program.Add() = Record(0);
    EXPECT_EQ(program.Capacity(), 64);
    Fill(program, 63);  // 64 records: still one block
    EXPECT_EQ(program.Capacity(), 64);
    program.Add() = {-5, 2.5, 0.5, kDirLeft};  // the 65th
    EXPECT_EQ(program.Capacity(), 128);
    EXPECT_EQ(program.Count(), 65);
    EXPECT_EQ(program.Items(0).Steps, 0);
    for (int32_t i = 1; i < 64; ++i) {
        ASSERT_EQ(program.Items(i).Steps, i - 1);
        ASSERT_EQ(program.Items(i).Frequency, (i - 1) * 1.5);
    }
    EXPECT_EQ(program.Items(64).Steps, -5);  // never validated
    EXPECT_EQ(program.Items(64).Direction, kDirLeft);
}

// Appending doubles the storage (in whole blocks of 64), so that a program of a million records
// is built with some twenty reallocations instead of 15,625 copies of a growing program.
TEST(TsmProgram, CapacityDoublesSoThatLongProgramsAreBuiltInLinearTime) {
    const std::pair<int32_t, int32_t> cases[] = {
        {1, 64}, {64, 64}, {65, 128}, {129, 256}, {1000, 1024}, {1000000, 1048576},
    };
    for (const auto& [count, capacity] : cases) {
        TsmProgram program;
        int grown = 0;
        for (int32_t i = 0; i < count; ++i) {
            const int32_t before = program.Capacity();
            program.Add() = Record(i);
            grown += program.Capacity() != before;
        }
        EXPECT_EQ(program.Capacity(), capacity) << count;
        EXPECT_LE(grown, 15) << count;
        EXPECT_EQ(program.Items(count - 1).Steps, count - 1);
    }
}

TEST(TsmProgram, ClearReleasesEverythingButLooping) {
    TsmProgram program;
    program.Looping = true;
    Fill(program, 70);
    program.Clear();
    EXPECT_EQ(program.Count(), 0);
    EXPECT_EQ(program.Capacity(), 0);
    EXPECT_TRUE(program.Looping);
    program.Add() = Record(4);  // usable again
    EXPECT_EQ(StepsOf(program), (std::vector<int32_t>{4}));
    EXPECT_EQ(program.Capacity(), 64);
}

}  // namespace
}  // namespace motion
