// MotorTable: the text of the simulator's live view, one status line, a header and one row per
// virtual motor:
//
//   q417-sim  plugged in, hearing      keys: p plug/pull, d deaf/hearing, q quit
//   motor    position    steps/s phase free reset overlaps underruns overwrites
//       1         400     +250.0     2   12              0         0          0
//       2         -37     -100.0     1    9 yes          0         1          0
//
// Every line has exactly kWidth characters (padded with blanks, cut when longer), so that
// redrawing the block in place leaves nothing of an older, longer text behind, and no line wraps
// in a console of the usual 80 columns.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct MotorRow {
    int32_t position = 0;
    double stepsPerSecond = 0.0;  // negative while moving left (SpeedMeter)
    unsigned phase = 0;           // 0 to 3
    int freePlaces = 12;          // of the command list's 12
    bool resetting = false;       // a module reset goes on
    uint64_t overlaps = 0;        // segments due before their predecessor's last step
    uint64_t underruns = 0;       // segments that came after their list had run dry
    uint64_t overwrites = 0;      // direct outputs that changed the coils of a playing motor
};

constexpr int kMotorTableWidth = 78;
constexpr int kMotorTableLines = 6;  // status, header, four motors

std::vector<std::string> MotorTableLines(const std::string& status,
                                         const std::array<MotorRow, 4>& rows);

}  // namespace sim
