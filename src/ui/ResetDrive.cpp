#include "ui/ResetDrive.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <optional>

#include "motion/RoundHalfEven.h"

namespace ui {

TResetDrive::TResetDrive(const Ports& ports, std::function<void(int)> stopMotor,
                         std::function<bool()> cancelled, std::shared_ptr<const bool> windowAlive)
    : ports_(ports),
      stopMotor_(std::move(stopMotor)),
      cancelled_(std::move(cancelled)),
      windowAlive_(std::move(windowAlive)) {}

TResetDrive::Result TResetDrive::Run(int t) {
    constexpr int kMotors = 4;
    // Every motor stops; the slowest positive maximum frequency below 1000 Hz paces all.
    float limit = 1000.0f;
    std::array<bool, kMotors> taking{};
    for (int i = 0; i < kMotors; ++i) {
        stopMotor_(i);
        const double maxFrequency = ports_.motors[static_cast<size_t>(i)]->MaxFrequency();
        if (maxFrequency > 0 && maxFrequency < limit) limit = static_cast<float>(maxFrequency);
        taking[static_cast<size_t>(i)] = t == 0 || t == i + 1;
    }
    // Whole milliseconds, kept as a double: a tiny maximum frequency gives a pause far beyond
    // what a 32-bit wait holds, and it is taken in slices anyway.
    const double pauseMs = motion::RoundHalfEven(800.0 / static_cast<double>(limit));
    const uint32_t start = ports_.timers.TickCount();
    bool quit = false;
    WPARAM quitCode = 0;
    bool timedOut = false;
    // Handles the window's messages and tells whether the drive goes on: not after a Cancel, a
    // closed window, a quit or the 10 s limit.
    auto goesOn = [&]() {
        if (!timedOut && ports_.timers.TickCount() - start > 10000) {
            timedOut = true;
            ports_.desktop.ShowMessage("Reset time exceeded (10 seconds)", "Warning");
        }
        if (timedOut) return false;
        // Other controls stay usable; a Reset click here cancels the drive.
        MSG message;
        while (!quit && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                quit = true;  // handed on to the message loop that waits for it
                quitCode = message.wParam;
                break;
            }
            // As the program's own loop: Tab, arrows and Esc (the emergency stop) work here too.
            HWND window = static_cast<HWND>(ports_.window);
            if (IsWindow(window) && IsDialogMessageA(window, &message)) continue;
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        return !(quit || !*windowAlive_ || cancelled_());
    };
    // Every wait of the drive (its pause, a motor's rate limit) is taken in slices short enough
    // that Esc, Cancel and the time limit act at once, whatever the maximum frequency.
    constexpr uint32_t kSliceMs = 20;
    auto sleepSlice = [&](double ms) {
        ports_.timers.Sleep(
            static_cast<uint32_t>(std::clamp(std::ceil(ms), 1.0, double{kSliceMs})));
    };
    for (bool going = true; going;) {
        if (std::none_of(taking.begin(), taking.end(), [](bool b) { return b; })) break;
        const std::optional<uint8_t> status = ports_.port.ReadStatus();
        if (!status) break;  // the port was released (another port setting): nothing to read
        // A switch once reached ends that motor's part for good.
        for (int i = 0; i < kMotors; ++i)
            if (motion::TParallelPort::AtResetPosition(*status, i))
                taking[static_cast<size_t>(i)] = false;
        for (int i = 0; going && i < kMotors; ++i) {
            if (!taking[static_cast<size_t>(i)]) continue;
            motion::TStepperMotor& motor = *ports_.motors[static_cast<size_t>(i)];
            // The motor's rate limit, waited for here rather than inside the step.
            while (going && !motor.TryStep(motor.ResetDirection())) {
                going = goesOn();
                if (going) sleepSlice((motor.NextAllowedTime() - ports_.timers.Seconds()) * 1000);
            }
        }
        for (double left = pauseMs; going;) {
            going = goesOn();
            if (!going || !(left > 0)) break;
            const double slice = std::min(left, double{kSliceMs});
            sleepSlice(slice);
            left -= slice;
        }
    }
    if (quit) PostQuitMessage(static_cast<int>(quitCode));
    return *windowAlive_ ? Result::kEnded : Result::kWindowGone;
}

}  // namespace ui
