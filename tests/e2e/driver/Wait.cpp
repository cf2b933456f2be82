#include "e2e/driver/Wait.h"

namespace e2e {

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    const Stopwatch clock;
    for (;;) {
        if (condition()) return true;
        if (clock.ElapsedMs() >= timeoutMs) return false;
        Sleep(kPollMs);
    }
}

void Stopwatch::Restart() {
    QueryPerformanceCounter(&start_);
}

double Stopwatch::ElapsedMs() const {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(now.QuadPart - start_.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

}  // namespace e2e
