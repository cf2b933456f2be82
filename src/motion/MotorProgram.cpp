#include "motion/MotorProgram.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <new>

namespace motion {

TsmProgram::~TsmProgram() {
    std::free(items_);
}

void TsmProgram::Grow() {
    if (count_ < capacity_) return;
    // Doubling keeps loading a long program linear in its length (growing by one block each
    // time copied the whole program again every 64 records); the capacity stays a multiple of
    // the block. Should the doubled block not be had, one block more is tried.
    constexpr int32_t kMost = std::numeric_limits<int32_t>::max() / kGrowBy * kGrowBy;
    constexpr size_t kMostBytes = std::numeric_limits<size_t>::max() / sizeof(TsmProgramStep);
    if (capacity_ >= kMost) throw std::bad_alloc();
    const int32_t doubled = capacity_ == 0          ? kGrowBy
                            : capacity_ > kMost / 2 ? kMost
                                                    : capacity_ * 2;
    for (const int32_t capacity : {doubled, capacity_ + kGrowBy}) {
        if (static_cast<size_t>(capacity) > kMostBytes) continue;  // beyond a 32-bit address space
        // TsmProgramStep is trivially copyable: realloc keeps the existing records.
        void* items = std::realloc(items_, sizeof(TsmProgramStep) * static_cast<size_t>(capacity));
        if (items == nullptr) continue;
        items_ = static_cast<TsmProgramStep*>(items);
        capacity_ = capacity;
        return;
    }
    throw std::bad_alloc();
}

TsmProgramStep& TsmProgram::Add() {
    Grow();
    return items_[count_++];
}

TsmProgramStep& TsmProgram::Insert(int32_t index) {
    if (index < 0 || index >= count_) return Add();
    Grow();
    std::copy_backward(items_ + index, items_ + count_, items_ + count_ + 1);
    ++count_;
    return items_[index];
}

void TsmProgram::Delete(int32_t index) {
    if (index < 0 || index >= count_) return;
    std::copy(items_ + index + 1, items_ + count_, items_ + index);
    --count_;
}

void TsmProgram::Clear() {
    std::free(items_);
    items_ = nullptr;
    count_ = 0;
    capacity_ = 0;
}

}  // namespace motion
