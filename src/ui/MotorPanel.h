// The motor panel: the container of one motor's controls, 321 x 255 with a lowered bevel round
// its edge and a second lowered frame round the entry fields. It only draws; the notifications
// of its controls go on to the main window, which handles all four panels with one set of
// handlers. Tab navigation descends into it (WS_EX_CONTROLPARENT).
#pragma once

#include <windows.h>

namespace ui {

constexpr const char* kMotorPanelClass = "TPanel";

bool RegisterMotorPanel(HINSTANCE instance);
HWND CreateMotorPanel(HWND parent, int left, int top, int id);

}  // namespace ui
