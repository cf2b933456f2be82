// SegmentRing: one motor's queue of timed segments on the host, waiting for room in the module's
// command list. 256 records; the receive thread fills at FillIndex (the open record, which
// further equal steps may still join) and sends from SendIndex. A sent record is emptied at
// once, so the only records in use are those from SendIndex up to FillIndex. Emptiness is a flag
// of its own rather than a RefTime of 0, so that a run started when the host clock reads 0 (a
// virtual clock, a machine just booted) keeps its first record.
//
// No lock of its own: TUsbProtocol guards each motor's ring with that motor's ring lock.
#pragma once

#include <array>
#include <cstdint>

namespace usb {

struct SegmentRecord {
    int64_t IntervalTicks = 0;  // step period in module ticks
    double RefTime = 0;         // host seconds of the record's first step
    int32_t ExtraSteps = 0;     // steps beyond the first, 0 to 254
    uint8_t DirectionBit = 0;   // 0x40 left, 0 right
    int32_t PassTag = 0;        // the motor's PassCount when the record was begun
    bool Filled = false;        // false: an empty record (all fields 0)
    int64_t RefTick = 0;        // module ticks from the run's start to the record's first step

    bool Empty() const { return !Filled; }
};

class SegmentRing {
  public:
    static constexpr int kSize = 256;

    SegmentRecord& Record(int index) { return records_[static_cast<uint8_t>(index)]; }
    const SegmentRecord& Record(int index) const { return records_[static_cast<uint8_t>(index)]; }
    SegmentRecord& AtFill() { return Record(FillIndex); }
    SegmentRecord& AtSend() { return Record(SendIndex); }
    const SegmentRecord& AtSend() const { return Record(SendIndex); }

    static int Next(int index) { return (index + 1) % kSize; }
    // Records between SendIndex and FillIndex: the closed ones that wait to be sent.
    int Waiting() const { return (FillIndex - SendIndex + kSize) % kSize; }

    // Every record emptied and both indices 0 (a clear of the motor's command list).
    void Clear();
    // Gives up everything queued, also the open record: SendIndex := FillIndex, and no record
    // filled before stays behind to be sent later.
    void Discard();

    int FillIndex = 0;
    int SendIndex = 0;

  private:
    std::array<SegmentRecord, kSize> records_{};
};

}  // namespace usb
