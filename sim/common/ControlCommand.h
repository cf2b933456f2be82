// The text commands of the simulator's control channel (see SimulatorNames.h), and the console
// keys that do the same.
#pragma once

#include <cstdint>
#include <string_view>

namespace sim {

enum class ControlCommand {
    Unknown,
    Plug,   // plug the module in (nothing happens when it is plugged in already)
    Pull,   // pull it out: its pipe disappears, open handles fail
    Deaf,   // the module stops reading output reports, so that the host's writes time out
    Hear,   // it reads them again
    Quit,   // the simulator ends
    Stall,  // "stall N": the host's receive side is held for N ms (1 to 60000) from now on
};

// A command's text: surrounding blanks and line ends are ignored, letters are matched in any
// case. Anything else is Unknown. The number of "stall N" goes to *argument (when given).
ControlCommand ParseControlCommand(std::string_view text, uint64_t* argument = nullptr);

}  // namespace sim
