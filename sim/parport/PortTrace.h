// PortTrace: the CSV trace of what the virtual parallel port saw and what its motors did.
//
// One header line, then one line per event, every line with the same seven columns:
//
//   tick,seconds,motor,direction,phase,position,event
//
// - tick: microseconds since the port library was loaded; seconds: the same time in seconds with
//   six decimals.
// - A write to the data register: motor, direction, phase and position 0, event "out AAAA BB"
//   with the address (four hex digits) and the byte the lines took (two hex digits), lower case:
//   "1520,0.001520,0,0,0,0,out 0378 01".
// - A write to any other register (the status and control registers, which the program clears
//   once when it binds the library): the same, with "register AAAA BB".
// - A step of a motor: motor 1 to 4, direction (1 = left, 2 = right, the program's own codes),
//   phase and position after the step, event empty: "1520,0.001520,1,2,1,1,".
// - A fault (the motor's code jumped by two places, so no direction can be told): the motor,
//   direction 0, the phase it now holds, its unchanged position, event "fault".
// - A problem with the settings: motor, direction, phase and position 0, event "settings: ...".
//   The text never carries a comma or a line break, so the event stays the seventh column.
//
// Lines are written in the order of the calls; the owner flushes (Flush). Not thread-safe: the
// owner serialises the calls.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

namespace sim {

class PortTrace {
  public:
    static constexpr const char* kHeader = "tick,seconds,motor,direction,phase,position,event";

    // Writes to out, which must outlive the trace. The header is written by WriteHeader, so that
    // a trace continued after the library was loaded again does not repeat it.
    explicit PortTrace(std::ostream& out) : out_(out) {}

    void WriteHeader();
    void DataWrite(uint64_t nowUs, uint16_t address, uint8_t byte);
    void RegisterWrite(uint64_t nowUs, uint16_t address, uint8_t byte);
    void Step(uint64_t nowUs, int motor, int direction, int phase, int32_t position);
    void Fault(uint64_t nowUs, int motor, int phase, int32_t position);
    void Settings(uint64_t nowUs, std::string_view text);

    void Flush() { out_.flush(); }
    // False once a write to the stream has failed (disk full, file gone).
    bool Good() const { return out_.good(); }

    // The text of a line, without its line end.
    static std::string Line(uint64_t nowUs, int motor, int direction, int phase, int32_t position,
                            std::string_view event);
    // "out 0378 01" and "register 037a 00".
    static std::string WriteEvent(const char* kind, uint16_t address, uint8_t byte);

  private:
    void Put(const std::string& line) { out_ << line << '\n'; }

    std::ostream& out_;
};

}  // namespace sim
