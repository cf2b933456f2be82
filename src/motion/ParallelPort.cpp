#include "motion/ParallelPort.h"

namespace motion {

namespace {

// The register at offset from base, wrapping within the 16-bit I/O address space.
int16_t Register(int16_t base, int offset) {
    return static_cast<int16_t>(static_cast<uint16_t>(base) + offset);
}

}  // namespace

TParallelPort::TParallelPort(platform::LibraryLoader& loader, platform::Desktop& desktop)
    : loader_(loader), desktop_(desktop) {}

TParallelPort::~TParallelPort() {
    Release();
}

std::string TParallelPort::StatusLabel(int16_t address) {
    const char* prefix = address == kLpt1   ? "LPT1 ("
                         : address == kLpt2 ? "LPT2 ("
                         : address == kLpt3 ? "LPT3 ("
                                            : "(";
    // The port takes a 16-bit address, so a negative setting is shown as the address it reaches.
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const auto value = static_cast<uint16_t>(address);
    std::string label(prefix);
    for (int shift = 12; shift >= 0; shift -= 4)
        label += kDigits[(value >> shift) & 0xF];
    label += ')';
    return label;
}

uint8_t TParallelPort::PackOutputByte(const std::array<uint8_t, 4>& phases) {
    unsigned byte = 0;
    for (size_t i = 0; i < phases.size(); ++i)
        byte |= (phases[i] & 3u) << (2 * i);
    return static_cast<uint8_t>(byte);
}

bool TParallelPort::AtResetPosition(uint8_t status, int32_t motorIndex) {
    if (motorIndex < 0 || motorIndex >= static_cast<int32_t>(kResetSwitchBits.size())) return false;
    return (status & kResetSwitchBits[static_cast<size_t>(motorIndex)]) != 0;
}

std::string TParallelPort::Open(int16_t address) {
    if (!IsParallelPort(address)) {
        Release();
        return std::string();
    }
    bool bound;
    {
        std::lock_guard lock(mutex_);
        // Another address is another selection.
        if (address != address_) failureShown_ = false;
        address_ = address;
        bound = library_ != nullptr;
    }
    // Another address while bound: neither a new load nor the two register writes.
    if (!bound) Bind(address);
    return StatusLabel(address);
}

void TParallelPort::Bind(int16_t address) {
    // Loaded without the lock: loading runs the library's start-up code, and a write from a
    // timer thread must not wait for that.
    platform::LibraryHandle library = loader_.Load(kLibraryName);
    Inp32Function inp32 = nullptr;
    Out32Function out32 = nullptr;
    if (library != nullptr) {
        inp32 = reinterpret_cast<Inp32Function>(loader_.Symbol(library, "Inp32"));
        out32 = reinterpret_cast<Out32Function>(loader_.Symbol(library, "Out32"));
        if (inp32 == nullptr || out32 == nullptr) {
            // Not the library this program needs: as good as no library at all.
            loader_.Free(library);
            library = nullptr;
        }
    }
    if (library == nullptr) {
        // Once per selection; a device change while the box is up (its message loop handles
        // the broadcast) comes here again and must not stack a second one.
        if (failureShown_ || boxUp_) return;
        failureShown_ = true;
        boxUp_ = true;
        desktop_.ShowMessage(kLoadFailedText, kLoadFailedCaption);  // without the lock
        boxUp_ = false;
        return;
    }

    std::unique_lock lock(mutex_);
    if (library_ != nullptr) {
        // Bound meanwhile by another caller: keep that binding and drop this load.
        lock.unlock();
        loader_.Free(library);
        return;
    }
    // Once per binding: status and control registers to 0, before any data write can follow.
    out32(Register(address, 1), 0);
    out32(Register(address, 2), 0);
    library_ = library;
    inp32_ = inp32;
    out32_ = out32;
}

void TParallelPort::NewSelection() {
    failureShown_ = false;
}

void TParallelPort::Release() {
    platform::LibraryHandle library;
    {
        // Taking the lock waits for a write or read in progress; after it nobody can reach the
        // entry points, so the library may go.
        std::lock_guard lock(mutex_);
        library = library_;
        library_ = nullptr;
        inp32_ = nullptr;
        out32_ = nullptr;
    }
    if (library != nullptr) loader_.Free(library);
}

bool TParallelPort::Bound() const {
    std::lock_guard lock(mutex_);
    return library_ != nullptr;
}

int16_t TParallelPort::Address() const {
    std::lock_guard lock(mutex_);
    return address_;
}

uint8_t TParallelPort::WriteOutput(const std::array<const TStepperMotor*, 4>& motors) {
    std::lock_guard lock(mutex_);
    std::array<uint8_t, 4> phases{};
    for (size_t i = 0; i < motors.size(); ++i)
        phases[i] = motors[i] != nullptr ? motors[i]->Phase() : 0;
    const uint8_t byte = PackOutputByte(phases);
    // The port takes the low byte; the high byte is sent as 0xFF.
    if (out32_ != nullptr) out32_(address_, static_cast<int16_t>(0xFF00u | byte));
    return byte;
}

std::optional<uint8_t> TParallelPort::ReadStatus() {
    std::lock_guard lock(mutex_);
    if (inp32_ == nullptr) return std::nullopt;
    return static_cast<uint8_t>(inp32_(Register(address_, 1)) & 0xFF);
}

}  // namespace motion
