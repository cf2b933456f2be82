#include "sim/common/MotorTable.h"

#include <cstdio>

namespace sim {

namespace {

std::string Fit(std::string line) {
    line.resize(kMotorTableWidth, ' ');
    return line;
}

}  // namespace

std::vector<std::string> MotorTableLines(const std::string& status,
                                         const std::array<MotorRow, 4>& rows) {
    std::vector<std::string> lines;
    lines.reserve(kMotorTableLines);
    lines.push_back(Fit(status));
    lines.push_back(
        Fit("motor    position    steps/s phase free reset overlaps underruns overwrites"));
    for (size_t i = 0; i < rows.size(); ++i) {
        const MotorRow& row = rows[i];
        char speed[32];
        if (row.stepsPerSecond == 0.0) {
            std::snprintf(speed, sizeof speed, "0.0");
        } else {
            std::snprintf(speed, sizeof speed, "%+.1f", row.stepsPerSecond);
        }
        char text[128];
        std::snprintf(text, sizeof text, "%5d %11ld %10.10s %5u %4d %-5s %8llu %9llu %10llu",
                      static_cast<int>(i + 1), static_cast<long>(row.position), speed,
                      row.phase & 3u, row.freePlaces, row.resetting ? "yes" : "",
                      static_cast<unsigned long long>(row.overlaps),
                      static_cast<unsigned long long>(row.underruns),
                      static_cast<unsigned long long>(row.overwrites));
        lines.push_back(Fit(text));
    }
    return lines;
}

}  // namespace sim
