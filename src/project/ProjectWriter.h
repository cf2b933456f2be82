// The project file writer: the whole file as text, in this order, every line ending in CR LF:
//   Port = <port setting, hexadecimal>
//   then for motors 1 to 4, always all four:
//   [Motor_program_<n>]
//   normal_frequency = <ControlFrequency, two decimals>
//   max_frequency = <MaxFrequency, two decimals>
//   resetdirection = left | right
//   looping = 1 | 0
//   Steps = <Steps> <Frequency> <RampTime> right | left | none     (one per program step)
// Numbers never depend on the process locale (see NumberText.h).
#pragma once

#include <string>

#include "project/ProjectTarget.h"

namespace project {

std::string WriteProjectText(const ProjectTarget& project);

}  // namespace project
