// The motor program: an ordered list of program steps that a motor plays from first to last,
// optionally over and over. A plain growable array with an explicit capacity, always a multiple
// of 64 records and doubled when full (so that appending a million records costs time linear
// in their number); it validates nothing and knows no user interface. It has no lock of its own:
// the owning TStepperMotor hands it out only under the motor's lock.
#pragma once

#include <cstdint>

namespace motion {

// Direction codes shared by programs, motors, project files and the USB protocol.
enum : uint8_t { kDirNone = 0, kDirLeft = 1, kDirRight = 2 };

struct TsmProgramStep {
    int32_t Steps;      // steps to emit; 0 or less: skipped without a step and without a wait
    double Frequency;   // plateau rate in Hz; 0 without a ramp: no further step is timed
    double RampTime;    // seconds to accelerate to Frequency and back; 0 or less: no ramp
    uint8_t Direction;  // kDirNone (a pause of Steps periods), kDirLeft, kDirRight
    bool operator==(const TsmProgramStep&) const = default;
};

class TsmProgram {
  public:
    static constexpr int32_t kGrowBy = 64;

    TsmProgram() = default;
    ~TsmProgram();
    TsmProgram(const TsmProgram&) = delete;
    TsmProgram& operator=(const TsmProgram&) = delete;

    // A new record at the end. Its contents are undefined: write all four fields.
    TsmProgramStep& Add();
    // A slot at index, the records from index on moved one place up; the slot still holds a
    // copy of the old record. An index < 0 or >= Count appends exactly as Add does.
    TsmProgramStep& Insert(int32_t index);
    // Removes the record at index; an index < 0 or >= Count changes nothing. Never shrinks.
    void Delete(int32_t index);
    // Releases the storage; Looping keeps its value.
    void Clear();

    int32_t Count() const { return count_; }
    int32_t Capacity() const { return capacity_; }
    // No range check: callers keep 0 <= index < Count.
    TsmProgramStep& Items(int32_t index) { return items_[index]; }
    const TsmProgramStep& Items(int32_t index) const { return items_[index]; }

    bool Looping = false;

  private:
    void Grow();

    int32_t capacity_ = 0;
    int32_t count_ = 0;
    TsmProgramStep* items_ = nullptr;
};

}  // namespace motion
