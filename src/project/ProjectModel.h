// A project held as plain data: the ProjectTarget that tests, the fuzz target and the benchmark
// read into and write from. Starts with the values a freshly created main window has (port
// setting 0, 10.0 and 1000.0 Hz, reset direction right, looping off, empty programs).
#pragma once

#include <array>
#include <vector>

#include "motion/MotorProgram.h"
#include "motion/PortSetting.h"
#include "project/ProgramListModel.h"
#include "project/ProjectTarget.h"

namespace project {

class ProjectModel : public ProjectTarget {
  public:
    struct Motor {
        double ControlFrequency = 10.0;
        double MaxFrequency = 1000.0;
        uint8_t ResetDirection = motion::kDirRight;
        motion::TsmProgram Program;  // holds Looping
        ProgramListModel List;
        bool LoopCheckBox = false;
        int Renumbered = 0;  // RenumberProgramList calls
    };

    int16_t Port = motion::kUsbPortSetting;
    // The port setting at each OpenOutputPort call, in order.
    std::vector<int16_t> OpenedPorts;
    std::array<Motor, kMotorCount> Motors;

    int16_t PortSetting() const override { return Port; }
    void SetPortSetting(int16_t value) override { Port = value; }
    void OpenOutputPort() override { OpenedPorts.push_back(Port); }

    double ControlFrequency(int m) const override { return Motors[m].ControlFrequency; }
    void SetControlFrequency(int m, double v) override { Motors[m].ControlFrequency = v; }
    double MaxFrequency(int m) const override { return Motors[m].MaxFrequency; }
    void SetMaxFrequency(int m, double v) override { Motors[m].MaxFrequency = v; }
    uint8_t ResetDirection(int m) const override { return Motors[m].ResetDirection; }
    void SetResetDirection(int m, uint8_t v) override { Motors[m].ResetDirection = v; }
    bool Looping(int m) const override { return Motors[m].Program.Looping; }
    void SetLooping(int m, bool v) override { Motors[m].Program.Looping = v; }

    void GetProgram(int motor, std::vector<motion::TsmProgramStep>& steps) const override;
    void AppendStep(int motor, const motion::TsmProgramStep& step) override;
    void ClearProgram(int motor) override;

    void SetLoopCheckBox(int m, bool checked) override { Motors[m].LoopCheckBox = checked; }
    void RenumberProgramList(int m) override { ++Motors[m].Renumbered; }
};

}  // namespace project
