// The program's own modal windows, driven from outside: message boxes (read their text, press
// OK) and the common open and save dialogs (type a path into the file-name field and press the
// dialog's default button, as a user who types a name and presses Enter).
#pragma once

#include <windows.h>

#include <string>

#include "e2e/driver/StepperProcess.h"

namespace e2e {

// A visible top-level dialog of the program (window class "#32770") with the given title, or
// any title when title is empty; null after timeoutMs.
HWND WaitDialog(const StepperProcess& program, const std::string& title, DWORD timeoutMs);
// True once window has gone (or is hidden) within timeoutMs.
bool WaitGone(HWND window, DWORD timeoutMs);

// The message of a message box: its longest static text.
std::string MessageText(HWND box);
// Presses the box's OK button (or its only button); false when there is none.
bool PressOk(HWND box);

// Types path into a file dialog's file-name field and presses the dialog's OK button ("Open"
// or "Save"). False when the field or the button is not found.
bool ChooseFile(HWND dialog, const std::string& path);

}  // namespace e2e
