#include "motion/MotorProgram.h"

#include <algorithm>
#include <cstdlib>
#include <new>

namespace motion {

TsmProgram::~TsmProgram() {
    std::free(items_);
}

void TsmProgram::Grow() {
    if (count_ < capacity_) return;
    const int32_t capacity = capacity_ + kGrowBy;
    // TsmProgramStep is trivially copyable: realloc keeps the existing records.
    void* items = std::realloc(items_, sizeof(TsmProgramStep) * static_cast<size_t>(capacity));
    if (items == nullptr) throw std::bad_alloc();
    items_ = static_cast<TsmProgramStep*>(items);
    capacity_ = capacity;
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
