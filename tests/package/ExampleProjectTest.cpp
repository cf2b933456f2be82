// The example project shipped as default.smp beside the program: the program loads it at every
// start, so it must be a project the reader takes in full and that starts up quietly.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "project/ProjectModel.h"
#include "project/ProjectReader.h"
#include "project/ProjectWriter.h"

namespace project {
namespace {

std::string ExampleText() {
    std::string path = Q417_EXAMPLE_PROJECT;
#ifdef _WIN32
    if (!path.empty() && path[0] == '/') path = "Z:" + path;  // the Unix root under Wine
#endif
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class ExampleProject : public ::testing::Test {
  protected:
    void SetUp() override {
        text_ = ExampleText();
        ASSERT_FALSE(text_.empty()) << "cannot read " << Q417_EXAMPLE_PROJECT;
        ReadProjectText(text_, model_);
    }
    std::string text_;
    ProjectModel model_;
};

// Saved again unchanged it is the same file byte for byte: every line was understood (a skipped
// or misread line would be missing or different), in the writer's order and number formats,
// with CR LF line ends.
TEST_F(ExampleProject, IsTheWritersOwnTextOfWhatItHolds) {
    EXPECT_EQ(WriteProjectText(model_), text_);
}

// The "USB" port setting, applied once: without the module the program comes up with
// "USB (no Device)" and no message, where a parallel port would ask for inpout32.dll.
TEST_F(ExampleProject, SelectsUsbOnce) {
    EXPECT_EQ(model_.Port, 0);
    EXPECT_EQ(model_.OpenedPorts, std::vector<int16_t>{0});
}

// Every motor has a few steps within its own rate limit, turns both ways, and comes back to
// where it started, so running the example any number of times keeps the motors in place.
TEST_F(ExampleProject, EveryMotorRunsAFewStepsAndReturns) {
    for (int motor = 0; motor < ProjectModel::kMotorCount; ++motor) {
        std::vector<motion::TsmProgramStep> steps;
        model_.GetProgram(motor, steps);
        EXPECT_GE(steps.size(), 2u) << "motor " << motor + 1;
        int64_t position = 0;
        bool left = false, right = false;
        for (const motion::TsmProgramStep& step : steps) {
            EXPECT_GT(step.Steps, 0) << "motor " << motor + 1;
            EXPECT_GT(step.Frequency, 0.0) << "motor " << motor + 1;
            EXPECT_LE(step.Frequency, model_.Motors[motor].MaxFrequency) << "motor " << motor + 1;
            if (step.Direction == motion::kDirRight) {
                position += step.Steps;
                right = true;
            } else if (step.Direction == motion::kDirLeft) {
                position -= step.Steps;
                left = true;
            }
        }
        EXPECT_TRUE(left && right) << "motor " << motor + 1;
        EXPECT_EQ(position, 0) << "motor " << motor + 1;
        EXPECT_FALSE(model_.Motors[motor].Program.Looping) << "motor " << motor + 1;
    }
}

}  // namespace
}  // namespace project
