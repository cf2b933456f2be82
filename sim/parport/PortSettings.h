// PortSettings: the virtual parallel port's settings file "q417-sim-lpt.txt", which sits beside
// the simulator's inpout32.dll and places the motors' reference switches.
//
// Format: one "key = value" per line; '#' starts a comment that runs to the line's end; blank
// lines, spaces around key and value, Windows line ends and a UTF-8 byte order mark are fine.
// Keys and the side words are case-insensitive.
//
//   motor1.switch = 200     # position of motor 1's switch, a whole number of steps
//   motor1.side = right     # the switch is closed at its position and above it ("left": below)
//
// and the same for motor2 to motor4. Every key missing from the file keeps its default (200,
// right). A line that cannot be used leaves what it would have set at its default and is
// reported with its line number and what is wrong; the lines after it are still read. A key set
// twice takes the later value and is reported too, since one of the two was surely meant.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "sim/parport/VirtualParallelPort.h"

namespace sim {

class PortSettings {
  public:
    static constexpr const char* kFileName = "q417-sim-lpt.txt";

    struct Problem {
        int line = 0;  // 1 for the first line; 0 for a problem of the whole file
        std::string what;
        bool operator==(const Problem&) const = default;
    };

    struct Result {
        std::array<ReferenceSwitch, VirtualParallelPort::kMotors> switches{};
        std::vector<Problem> problems;
    };

    // Reads the text of a settings file.
    static Result Parse(std::string_view text);

    // A problem as one line for the trace and the debugger: "<file> line 3: <what>", or
    // "<file>: <what>" for a problem of the whole file.
    static std::string Describe(const Problem& problem, std::string_view file);
};

}  // namespace sim
