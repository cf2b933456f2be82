// The tests' display under Wine: a virtual X display (Xvfb) with no window manager. Wine treats
// top-level windows as managed by default and, when one is hidden or destroyed, waits up to two
// seconds for a window manager to confirm it; with none there, every close of the program would
// take two seconds longer than the program itself takes. Telling Wine that its windows are not
// managed ("Managed" = "N" for the X11 driver, read by each Wine process when it starts) removes
// that wait. Nothing happens outside Wine.
#pragma once

namespace e2e {

// True when this process runs under Wine.
bool RunningUnderWine();
// Sets the X11 driver's "Managed" to "N" for programs started from now on; true when set (or
// when not under Wine, where there is nothing to set).
bool UseUnmanagedWindows();

}  // namespace e2e
