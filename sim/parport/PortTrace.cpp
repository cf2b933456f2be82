// The trace's lines: integer arithmetic only, so a line is the same on every build.
#include "sim/parport/PortTrace.h"

#include "sim/module/ModuleTrace.h"

namespace sim {

namespace {

void AppendHex(std::string& text, unsigned value, int digits) {
    static constexpr char kDigits[] = "0123456789abcdef";
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
        text += kDigits[(value >> shift) & 0xF];
}

}  // namespace

void PortTrace::WriteHeader() {
    out_ << kHeader << '\n';
}

void PortTrace::DataWrite(uint64_t nowUs, uint16_t address, uint8_t byte) {
    Put(Line(nowUs, 0, 0, 0, 0, WriteEvent("out", address, byte)));
}

void PortTrace::RegisterWrite(uint64_t nowUs, uint16_t address, uint8_t byte) {
    Put(Line(nowUs, 0, 0, 0, 0, WriteEvent("register", address, byte)));
}

void PortTrace::Step(uint64_t nowUs, int motor, int direction, int phase, int32_t position) {
    Put(Line(nowUs, motor, direction, phase, position, ""));
}

void PortTrace::Fault(uint64_t nowUs, int motor, int phase, int32_t position) {
    Put(Line(nowUs, motor, 0, phase, position, "fault"));
}

void PortTrace::Settings(uint64_t nowUs, std::string_view text) {
    // A comma would split the event into more columns, a line break would start a bogus line.
    std::string event = "settings: ";
    for (char c : text)
        event += c == ',' ? ';' : (static_cast<unsigned char>(c) < 0x20 ? ' ' : c);
    Put(Line(nowUs, 0, 0, 0, 0, event));
}

std::string PortTrace::Line(uint64_t nowUs, int motor, int direction, int phase, int32_t position,
                            std::string_view event) {
    std::string line = std::to_string(nowUs) + "," + ModuleTrace::Seconds(nowUs) + "," +
                       std::to_string(motor) + "," + std::to_string(direction) + "," +
                       std::to_string(phase) + "," + std::to_string(position) + ",";
    line += event;
    return line;
}

std::string PortTrace::WriteEvent(const char* kind, uint16_t address, uint8_t byte) {
    std::string event = kind;
    event += ' ';
    AppendHex(event, address, 4);
    event += ' ';
    AppendHex(event, byte, 2);
    return event;
}

}  // namespace sim
