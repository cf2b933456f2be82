#include "sim/parport/VirtualParallelPort.h"

#include <charconv>
#include <vector>

namespace sim {

namespace {

// Place of each code along the Gray code that a motor runs moving right: 0, 1, 3, 2.
constexpr std::array<int, 4> kPlace = {0, 1, 3, 2};

constexpr int kLeft = 1;  // the program's direction codes
constexpr int kRight = 2;

constexpr const char* kStateTag = "vport1";

}  // namespace

void VirtualParallelPort::Write(uint16_t address, uint16_t value, uint64_t nowUs) {
    const auto byte = static_cast<uint8_t>(value & 0xFF);
    const bool baseKnown = baseNamed_ || baseAssumed_;
    if (baseKnown && address == base_) {
        DataWrite(address, byte, nowUs);
        return;
    }
    if ((baseNamed_ && IsRegisterOfBase(address)) || value == 0) {
        if (!baseKnown) {
            // The binding's first write goes to the status register, one above the base.
            base_ = static_cast<uint16_t>(address - 1);
            baseAssumed_ = true;
        }
        if (address == static_cast<uint16_t>(base_ + 2)) control_ = byte;
        if (trace_ != nullptr) trace_->RegisterWrite(nowUs, address, byte);
        return;
    }
    DataWrite(address, byte, nowUs);
}

void VirtualParallelPort::DataWrite(uint16_t address, uint8_t byte, uint64_t nowUs) {
    base_ = address;
    baseNamed_ = true;
    baseAssumed_ = false;
    data_ = byte;
    if (trace_ != nullptr) trace_->DataWrite(nowUs, address, byte);
    for (int i = 0; i < kMotors; ++i) {
        Motor& motor = motors_[static_cast<size_t>(i)];
        const int code = (byte >> (2 * i)) & 3;
        if (code == motor.phase) continue;
        const int move =
            (kPlace[static_cast<size_t>(code)] - kPlace[static_cast<size_t>(motor.phase)]) & 3;
        motor.phase = code;
        if (move == 2) {
            ++motor.faults;
            if (trace_ != nullptr) trace_->Fault(nowUs, i + 1, code, motor.position);
            continue;
        }
        const bool right = move == 1;
        motor.position += right ? 1 : -1;
        if (trace_ != nullptr)
            trace_->Step(nowUs, i + 1, right ? kRight : kLeft, code, motor.position);
    }
}

bool VirtualParallelPort::IsRegisterOfBase(uint16_t address) const {
    return address == static_cast<uint16_t>(base_ + 1) ||
           address == static_cast<uint16_t>(base_ + 2);
}

uint8_t VirtualParallelPort::Read(uint16_t address) const {
    if (!baseNamed_ && !baseAssumed_) return kNothing;
    if (address == base_) return data_;
    if (address == static_cast<uint16_t>(base_ + 1)) return Status();
    if (address == static_cast<uint16_t>(base_ + 2)) return control_;
    return kNothing;
}

uint8_t VirtualParallelPort::Status() const {
    uint8_t status = 0;
    for (size_t i = 0; i < kMotors; ++i)
        if (switches_[i].ClosedAt(motors_[i].position)) status |= kSwitchBits[i];
    return status;
}

int32_t VirtualParallelPort::Position(int motor) const {
    return motor >= 1 && motor <= kMotors ? motors_[static_cast<size_t>(motor - 1)].position : 0;
}

int VirtualParallelPort::Phase(int motor) const {
    return motor >= 1 && motor <= kMotors ? motors_[static_cast<size_t>(motor - 1)].phase : 0;
}

uint32_t VirtualParallelPort::Faults(int motor) const {
    return motor >= 1 && motor <= kMotors ? motors_[static_cast<size_t>(motor - 1)].faults : 0;
}

std::optional<uint16_t> VirtualParallelPort::Base() const {
    if (!baseNamed_) return std::nullopt;
    return base_;
}

std::string VirtualParallelPort::SaveState() const {
    std::string state = kStateTag;
    auto add = [&state](int64_t value) { state += ' ' + std::to_string(value); };
    add(base_);
    add(baseNamed_ ? 1 : 0);
    add(baseAssumed_ ? 1 : 0);
    add(data_);
    add(control_);
    for (const Motor& motor : motors_) {
        add(motor.phase);
        add(motor.position);
        add(motor.faults);
    }
    return state;
}

bool VirtualParallelPort::RestoreState(std::string_view state) {
    // Tag, then 5 port numbers and 3 per motor, single spaces, nothing else.
    constexpr size_t kNumbers = 5 + 3 * kMotors;
    const std::string_view tag = kStateTag;
    if (state.substr(0, tag.size()) != tag) return false;
    std::vector<int64_t> numbers;
    const char* next = state.data() + tag.size();
    const char* const end = state.data() + state.size();
    while (next != end) {
        if (*next != ' ' || numbers.size() == kNumbers) return false;
        int64_t value = 0;
        const auto [ptr, error] = std::from_chars(next + 1, end, value);
        if (error != std::errc()) return false;
        numbers.push_back(value);
        next = ptr;
    }
    if (numbers.size() != kNumbers) return false;
    auto within = [](int64_t value, int64_t low, int64_t high) {
        return value >= low && value <= high;
    };
    bool valid = within(numbers[0], 0, 0xFFFF) && within(numbers[1], 0, 1) &&
                 within(numbers[2], 0, 1) && within(numbers[3], 0, 0xFF) &&
                 within(numbers[4], 0, 0xFF);
    for (size_t i = 0; i < kMotors; ++i) {
        valid = valid && within(numbers[5 + 3 * i], 0, 3) &&
                within(numbers[6 + 3 * i], INT32_MIN, INT32_MAX) &&
                within(numbers[7 + 3 * i], 0, UINT32_MAX);
    }
    if (!valid) return false;
    base_ = static_cast<uint16_t>(numbers[0]);
    baseNamed_ = numbers[1] != 0;
    baseAssumed_ = numbers[2] != 0;
    data_ = static_cast<uint8_t>(numbers[3]);
    control_ = static_cast<uint8_t>(numbers[4]);
    for (size_t i = 0; i < kMotors; ++i) {
        motors_[i].phase = static_cast<int>(numbers[5 + 3 * i]);
        motors_[i].position = static_cast<int32_t>(numbers[6 + 3 * i]);
        motors_[i].faults = static_cast<uint32_t>(numbers[7 + 3 * i]);
    }
    return true;
}

}  // namespace sim
