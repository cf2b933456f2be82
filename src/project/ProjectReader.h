// The project file reader: reads a project's text into a ProjectTarget, line by line.
//
// Lines end at CR LF, a lone LF or a lone CR; a NUL ends the text. A line is cut into tokens at
// blanks and '=' (a run counts as one; tabs belong to tokens) and acted on by its first token,
// compared exactly: "Steps", "normal_frequency", "max_frequency", "looping", "resetdirection",
// "[Motor_program_1]" to "[Motor_program_4]", "Port". Everything else, and a key with too few
// tokens, is skipped. Numbers that cannot be read take the key's default. Nothing is cleared
// first: steps are appended behind those already there. At the end the output is opened once
// for the last "Port" line's setting (when there was one and openOutput is set), every motor's
// Loop check box is set from its Looping flag and every program list renumbered.
//
// Promises for any input, however large, binary or hostile: no read outside the text, no copy
// of a token, memory added only for the steps the text holds, time linear in the text's length.
#pragma once

#include <string_view>

#include "project/ProjectTarget.h"

namespace project {

void ReadProjectText(std::string_view text, ProjectTarget& project, bool openOutput = true);

}  // namespace project
