// The trace's lines: integer arithmetic only, so a line is the same on every build.
#include "sim/module/ModuleTrace.h"

namespace sim {

ModuleTrace::ModuleTrace(std::ostream& out) : out_(out) {
    out_ << kHeader << '\n' << std::flush;
}

void ModuleTrace::Received(uint64_t tick, uint64_t nowUs, const uint8_t* report, size_t length) {
    out_ << ReceivedLine(tick, nowUs, report, length) << '\n' << std::flush;
}

void ModuleTrace::Step(uint64_t tick, uint64_t nowUs, int motor, int direction, int phase,
                       int32_t position) {
    // Flushed at once, so that a tool or test reading the trace while the module plays sees
    // every step already played.
    out_ << StepLine(tick, nowUs, motor, direction, phase, position) << '\n' << std::flush;
}

void ModuleTrace::Event(uint64_t tick, uint64_t nowUs, const std::string& text) {
    out_ << tick << ',' << Seconds(nowUs) << ",,,,," << text << '\n' << std::flush;
}

std::string ModuleTrace::StepLine(uint64_t tick, uint64_t nowUs, int motor, int direction,
                                  int phase, int32_t position) {
    return std::to_string(tick) + "," + Seconds(nowUs) + "," + std::to_string(motor) + "," +
           std::to_string(direction) + "," + std::to_string(phase) + "," +
           std::to_string(position) + ",";
}

std::string ModuleTrace::ReceivedLine(uint64_t tick, uint64_t nowUs, const uint8_t* report,
                                      size_t length) {
    static const char kDigits[] = "0123456789abcdef";
    std::string line = std::to_string(tick) + "," + Seconds(nowUs) + ",,,,,";
    for (size_t i = 0; i < length; ++i) {
        if (i > 0) line += ' ';
        line += kDigits[report[i] >> 4];
        line += kDigits[report[i] & 0x0F];
    }
    return line;
}

std::string ModuleTrace::Seconds(uint64_t nowUs) {
    std::string fraction = std::to_string(nowUs % 1000000);
    fraction.insert(0, 6 - fraction.size(), '0');
    return std::to_string(nowUs / 1000000) + "." + fraction;
}

}  // namespace sim
