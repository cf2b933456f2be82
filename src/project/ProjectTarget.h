// What the project reader and writer see of a project: the port setting with the call that
// applies it, each motor's settings, Looping flag and program, each motor's program list and
// Loop check box. The main window implements it over its four TStepperMotor objects and list
// views (taking each motor's program under its lock, since a running motor's sequencer reads
// it on another thread); ProjectModel implements it as plain data for tests and tools.
//
// Every method is called on the window's thread. Motor numbers are motor indexes 0 to 3.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "motion/MotorProgram.h"

namespace project {

class ProjectTarget {
  public:
    static constexpr int kMotorCount = 4;

    // Port setting: 0 = "USB", 1 = "USB (slow)", other values a parallel port's base address.
    virtual int16_t PortSetting() const = 0;
    virtual void SetPortSetting(int16_t value) = 0;
    // Opens the output that the current port setting selects (OpenOutputPort).
    virtual void OpenOutputPort() = 0;

    virtual double ControlFrequency(int motor) const = 0;
    virtual void SetControlFrequency(int motor, double value) = 0;
    virtual double MaxFrequency(int motor) const = 0;
    virtual void SetMaxFrequency(int motor, double value) = 0;
    virtual uint8_t ResetDirection(int motor) const = 0;
    virtual void SetResetDirection(int motor, uint8_t value) = 0;
    virtual bool Looping(int motor) const = 0;
    virtual void SetLooping(int motor, bool value) = 0;

    // The motor's program steps, in program order, copied into steps (replacing its contents).
    virtual void GetProgram(int motor, std::vector<motion::TsmProgramStep>& steps) const = 0;
    // Appends step to the motor's program (TsmProgram::Add) and a row showing its values to the
    // motor's program list (ProgramListModel::AppendValues).
    virtual void AppendStep(int motor, const motion::TsmProgramStep& step) = 0;
    // Empties the motor's program (TsmProgram::Clear) and removes every row of its list.
    virtual void ClearProgram(int motor) = 0;

    // The motor panel's Loop check box.
    virtual void SetLoopCheckBox(int motor, bool checked) = 0;
    // Numbers the rows of the motor's program list 1 to n by position (with ProgramListModel,
    // whose "#" is the position, a list view only needs to redraw).
    virtual void RenumberProgramList(int motor) = 0;

  protected:
    ~ProjectTarget() = default;
};

}  // namespace project
