// Driving the controls of a window that belongs to another process, with the messages a user's
// input produces: texts read and written with WM_GETTEXT / WM_SETTEXT, keys typed as WM_CHAR,
// buttons clicked with BM_CLICK, jog buttons pressed and released with posted mouse messages.
// Controls are found by class, caption and place, never by anything the program keeps for tests.
// Every synchronous send has a time-out, so a hung program fails a test instead of hanging it.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace e2e {

constexpr UINT kSendTimeoutMs = 5000;

// The control's text as the control itself reports it ("" when it does not answer).
std::string Text(HWND window);
// Replaces the text; false when the control did not answer.
bool SetText(HWND window, const std::string& text);
// Empties the field and types text into it character by character, as the keyboard does
// (the field's key filter sees every character).
bool TypeText(HWND edit, const std::string& text);
// Clicks a button and returns once its handler has run; false when it did not answer in time.
bool Click(HWND button);
// Queues a click and returns at once: for a handler that shows a modal window or runs long.
bool PostClick(HWND button);
// Mouse button pressed and released on a button, as posted input.
bool PressMouse(HWND button);
bool ReleaseMouse(HWND button);
bool Checked(HWND box);
// True when the window's thread answers a message within timeoutMs.
bool Responsive(HWND window, DWORD timeoutMs);
std::string ClassName(HWND window);

// The control's rectangle in the client coordinates of reference.
RECT PlaceIn(HWND control, HWND reference);
// The direct children of parent, in z order.
std::vector<HWND> Children(HWND parent);

// What a control is recognised by; unset fields match anything. The place is the control's
// top left corner in its parent's client coordinates.
struct ControlMatch {
    std::string ClassName;  // "" = any; compared without case ("Button", "Edit", ...)
    std::optional<std::string> Caption;
    std::optional<POINT> Place;
};
// The first direct child of parent that matches, or null.
HWND FindChild(HWND parent, const ControlMatch& match);
// All direct children of parent that match, in z order.
std::vector<HWND> FindChildren(HWND parent, const ControlMatch& match);

}  // namespace e2e
