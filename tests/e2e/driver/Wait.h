// Waiting with time-outs: a condition polled every 20 ms until it holds or the time is up, and a
// stopwatch for the figures the tests print. Nothing here sleeps for a fixed time where a
// condition can be awaited instead.
#pragma once

#include <windows.h>

#include <functional>

namespace e2e {

constexpr DWORD kPollMs = 20;

// True as soon as condition() holds (it is tried at once and then every kPollMs); false when it
// still does not hold after timeoutMs.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);

// Milliseconds since construction (or Restart), from the performance counter.
class Stopwatch {
  public:
    Stopwatch() { Restart(); }
    void Restart();
    double ElapsedMs() const;

  private:
    LARGE_INTEGER start_{};
};

}  // namespace e2e
