// Feeds arbitrary bytes to the project file reader. Beyond "no crash, no leak, no overrun" it
// checks what must hold for any input: each program list has exactly as many rows as its
// program has steps, and a project written, read back into a fresh project and written again
// gives the same text (the writer's two-decimal numbers survive a read unchanged).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "project/ProjectModel.h"
#include "project/ProjectReader.h"
#include "project/ProjectWriter.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

void CheckListsMatchPrograms(const project::ProjectModel& model) {
    for (const auto& motor : model.Motors) {
        Check(motor.List.Count() == motor.Program.Count());
        Check(motor.LoopCheckBox == motor.Program.Looping);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    project::ProjectModel model;
    project::ReadProjectText(text, model);
    CheckListsMatchPrograms(model);
    for (const auto& motor : model.Motors)
        for (int32_t i = 0; i < motor.List.Count(); ++i)
            for (int column = 0; column < project::ProgramListModel::kColumnCount; ++column)
                Check(!motor.List.Text(i, column).empty());

    const std::string written = project::WriteProjectText(model);
    project::ProjectModel reread;
    project::ReadProjectText(written, reread);
    CheckListsMatchPrograms(reread);
    Check(project::WriteProjectText(reread) == written);
    return 0;
}
