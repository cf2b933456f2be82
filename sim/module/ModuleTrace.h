// ModuleTrace: the CSV trace of what the virtual module did, for tests and for users.
//
// One header line, then one line per event, every line with the same seven columns:
//
//   tick,seconds,motor,direction,phase,position,report
//
// - tick: the module's 48-bit clock when the event happened; seconds: the simulator's own time
//   (microsecond resolution), which keeps running across plugging and pulling while the
//   module's clock starts again at each power-up.
// - A received output report fills only "report": its bytes as two-digit hex numbers separated
//   by single spaces, exactly as many as were received (16 for a well-formed report).
// - A step of a motor fills motor (1 to 4), direction (1 = left, 2 = right, the program's own
//   direction codes), phase (0 to 3, after the step) and position (after the step) and leaves
//   "report" empty: "1250,0.160000,2,1,2,-1,".
// - A fault the module noticed in what the host sent fills only "report" with words, never 16
//   hex numbers: "overlap 2 due 1200 after 1204" (motor 2's segment was due at tick 1200,
//   before its predecessor's last step at 1204), "underrun 2 dry since 1190", "coil overwrite 2
//   phase 3 to 0" (a direct output changed the coils of motor 2 while its segments played).
//
// Received reports are flushed as they are written; step lines, which come by the thousand per
// second, are flushed in batches by Flush (the module flushes at the end of every call that
// played steps), so that another process can follow the file while the simulator runs. Runs on the
// simulator's one I/O thread; not thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>

namespace sim {

class ModuleTrace {
  public:
    static constexpr const char* kHeader = "tick,seconds,motor,direction,phase,position,report";

    // Writes the header line to out, which must outlive the trace.
    explicit ModuleTrace(std::ostream& out);

    // Appends the line of an output report of length bytes received at nowUs.
    void Received(uint64_t tick, uint64_t nowUs, const uint8_t* report, size_t length);

    // Appends the line of one step of motor (1 to 4), played at tick and nowUs.
    void Step(uint64_t tick, uint64_t nowUs, int motor, int direction, int phase, int32_t position);

    // Appends the line of a fault the module noticed (text without commas or line ends).
    void Event(uint64_t tick, uint64_t nowUs, const std::string& text);

    // Hands every line written so far to the file.
    void Flush() { out_.flush(); }

    // False once a write to the stream has failed (disk full, file gone).
    bool Good() const { return out_.good(); }

    // The line of a received report, without its line end.
    static std::string ReceivedLine(uint64_t tick, uint64_t nowUs, const uint8_t* report,
                                    size_t length);
    // The line of a step, without its line end.
    static std::string StepLine(uint64_t tick, uint64_t nowUs, int motor, int direction, int phase,
                                int32_t position);
    // Microseconds as seconds with six decimals ("12.000128"), exact for every count.
    static std::string Seconds(uint64_t nowUs);

  private:
    std::ostream& out_;
};

}  // namespace sim
