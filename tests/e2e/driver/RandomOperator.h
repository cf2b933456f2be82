// RandomOperator: an impatient operator at the real program, driven by a seeded random
// generator, so that a run that fails can be repeated action for action. Each action is input as
// the mouse and the keyboard post it to the program's windows: clicks and jog presses on the
// panels' and the window's buttons and check boxes, clicks into the program lists and the entry
// fields, keys (Space, Esc, Tab, Enter, arrows, Delete, Backspace, digits) to the control with
// the keyboard focus, texts typed into the entry fields, and a few menu commands (About,
// Configuration, New Project). As an operator cannot reach a window that a modal box disables, a
// message box or dialog that is up is answered first (OK, or for the configuration dialog OK or
// Cancel), and no other input is given while one is up.
#pragma once

#include <windows.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "e2e/driver/MainWindow.h"
#include "e2e/driver/StepperProcess.h"

namespace e2e {

class RandomOperator {
  public:
    // Notes every control of the main window and its panels, which Check expects to find again.
    RandomOperator(StepperProcess& process, MainWindow& window, uint32_t seed);

    // One random action, or the answer to a box or dialog that is up; nothing once the program
    // has not answered within 2 s. Returns what was done, for the log of a failing run.
    std::string Act();
    // Answers every box and dialog that is up until none is left or timeoutMs have passed; false
    // when one is still up then.
    bool AnswerDialogs(DWORD timeoutMs);
    // "" while the program runs, answers a message within timeoutMs and still has every control
    // it had at the start; else what is wrong (with the exit code of a program that ended).
    std::string Check(DWORD timeoutMs) const;

    int Answered() const { return answered_; }

  private:
    uint32_t Next(uint32_t bound);  // 0 .. bound-1
    HWND Focus() const;
    std::string ClickAnyButton();
    std::string PressJog();
    std::string ClickList();
    std::string PressKey();
    std::string TypeField();
    std::string ClickField();
    std::string MenuCommand();
    bool AnswerOne(HWND dialog);

    StepperProcess& process_;
    MainWindow& window_;
    std::mt19937 random_;
    std::vector<HWND> controls_;  // every child of the window and of its panels
    std::vector<HWND> buttons_;   // buttons and check boxes outside the jog buttons
    std::vector<HWND> fields_;    // the entry fields
    std::vector<HWND> lists_;
    std::vector<HWND> jogs_;
    int answered_ = 0;
    bool stuck_ = false;  // the program stopped answering
};

}  // namespace e2e
