// The fake port library seen from the test: its call record, read through the "FakePort..."
// exports, and the names of the variants that each lack one export (built from
// tests/motion/FakeInpout32.cpp).
//
// The fake libraries sit beside the test executable, where both loaders look first for a bare
// file name.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <vector>

#include "platform/CallingConvention.h"
#include "platform/LibraryLoader.h"

namespace motion {

inline constexpr const char* kFakeNoOut32 = "fake_inpout32_no_out32.dll";
inline constexpr const char* kFakeNoInp32 = "fake_inpout32_no_inp32.dll";
inline constexpr const char* kAbsentLibrary = "fake_inpout32_absent.dll";

struct PortCall {
    char kind;  // 'I' = Inp32, 'O' = Out32
    uint16_t address;
    uint16_t value;  // the value written, or the status returned
    bool operator==(const PortCall&) const = default;
};

inline void PrintTo(const PortCall& call, std::ostream* out) {
    *out << call.kind << "(" << std::hex << call.address << ", " << call.value << ")" << std::dec;
}

inline PortCall Out(uint16_t address, uint16_t value) {
    return {'O', address, value};
}

// A fake port library loaded by the test itself (by default the complete one, under the name the
// drive uses), so the test holds a reference of its own and the record survives the drive's
// releases.
class FakePortLibrary {
  public:
    explicit FakePortLibrary(const char* name = "inpout32.dll") {
        platform::LibraryLoader& loader = platform::SystemLibraryLoader();
        library_ = loader.Load(name);
        if (library_ == nullptr) {
            ADD_FAILURE() << "the fake " << name << " is not beside the test";
            return;
        }
        reset_ = reinterpret_cast<ResetFunction>(loader.Symbol(library_, "FakePortReset"));
        count_ = reinterpret_cast<Count>(loader.Symbol(library_, "FakePortCallCount"));
        call_ = reinterpret_cast<GetCall>(loader.Symbol(library_, "FakePortCall"));
        EXPECT_TRUE(reset_ != nullptr && count_ != nullptr && call_ != nullptr);
        Reset();
    }
    ~FakePortLibrary() { Unload(); }
    FakePortLibrary(const FakePortLibrary&) = delete;
    FakePortLibrary& operator=(const FakePortLibrary&) = delete;

    platform::LibraryHandle Handle() const { return library_; }

    // Drops the test's reference, so that the drive's release really unloads the library.
    void Unload() {
        platform::SystemLibraryLoader().Free(library_);
        library_ = nullptr;
        reset_ = nullptr;
        count_ = nullptr;
        call_ = nullptr;
    }

    // Forgets the record; Inp32 returns status from now on.
    void Reset(uint8_t status = 0) {
        if (reset_ != nullptr) reset_(status);
    }

    std::vector<PortCall> Calls() const {
        std::vector<PortCall> calls;
        if (count_ == nullptr || call_ == nullptr) return calls;
        const int32_t n = count_();
        for (int32_t i = 0; i < n; ++i) {
            int16_t address = 0, value = 0;
            const int32_t kind = call_(i, &address, &value);
            if (kind == 0) break;
            calls.push_back({static_cast<char>(kind), static_cast<uint16_t>(address),
                             static_cast<uint16_t>(value)});
        }
        return calls;
    }

    // The values of the Out32 calls to address, in order.
    std::vector<uint16_t> WritesTo(uint16_t address) const {
        std::vector<uint16_t> values;
        for (const PortCall& call : Calls())
            if (call.kind == 'O' && call.address == address) values.push_back(call.value);
        return values;
    }

  private:
    using ResetFunction = void(Q417_STDCALL*)(int16_t);
    using Count = int32_t(Q417_STDCALL*)();
    using GetCall = int32_t(Q417_STDCALL*)(int32_t, int16_t*, int16_t*);

    platform::LibraryHandle library_ = nullptr;
    ResetFunction reset_ = nullptr;
    Count count_ = nullptr;
    GetCall call_ = nullptr;
};

}  // namespace motion
