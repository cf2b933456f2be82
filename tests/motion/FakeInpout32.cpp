// A stand-in for the outside port library, built as a shared library for the tests: "Inp32" and
// "Out32" with the library's calling convention and undecorated names, recording every call
// instead of touching hardware, plus a few "FakePort..." exports through which a test reads the
// record and sets the status byte that Inp32 returns.
//
// Built three times: complete (named inpout32.dll, so it is found by the name the program
// loads), and once each without Out32 (FAKE_WITHOUT_OUT32) or without Inp32 (FAKE_WITHOUT_INP32).
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/CallingConvention.h"

#if defined(_WIN32)
#define FAKE_EXPORT extern "C" __declspec(dllexport)
#else
#define FAKE_EXPORT extern "C"  // exported by default
#endif

namespace {

struct Call {
    int kind;  // 'I' for Inp32, 'O' for Out32
    int16_t address;
    int16_t value;  // written value, or the value Inp32 returned
};

std::mutex mutex;
std::vector<Call> calls;
int16_t status = 0;

}  // namespace

#if !defined(FAKE_WITHOUT_INP32)
FAKE_EXPORT int16_t Q417_STDCALL Inp32(int16_t address) {
    std::lock_guard lock(mutex);
    calls.push_back({'I', address, status});
    return status;
}
#endif

#if !defined(FAKE_WITHOUT_OUT32)
FAKE_EXPORT void Q417_STDCALL Out32(int16_t address, int16_t value) {
    std::lock_guard lock(mutex);
    calls.push_back({'O', address, value});
}
#endif

// Forgets the recorded calls; Inp32 returns newStatus from now on.
FAKE_EXPORT void Q417_STDCALL FakePortReset(int16_t newStatus) {
    std::lock_guard lock(mutex);
    calls.clear();
    status = newStatus;
}

FAKE_EXPORT int32_t Q417_STDCALL FakePortCallCount() {
    std::lock_guard lock(mutex);
    return static_cast<int32_t>(calls.size());
}

// Call number index: returns its kind ('I' or 'O') and fills address and value; 0 when there is
// no such call.
FAKE_EXPORT int32_t Q417_STDCALL FakePortCall(int32_t index, int16_t* address, int16_t* value) {
    std::lock_guard lock(mutex);
    if (index < 0 || static_cast<size_t>(index) >= calls.size()) return 0;
    const Call& call = calls[static_cast<size_t>(index)];
    *address = call.address;
    *value = call.value;
    return call.kind;
}
