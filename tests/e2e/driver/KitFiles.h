// Where the build put what the end-to-end tests run: the program, the simulator kit's q417-sim.exe
// and DLLs, and the folder under which each test lays out its own copy of the program. Windows
// paths (the build's Unix paths seen under drive Z:).
#pragma once

#include <string>

namespace e2e::kit {

std::string StepperExe();
std::string SimulatorExe();
// The kit's vrexusbdrv.dll, which finds the virtual module of a running q417-sim.exe.
std::string ModuleLocatorDll();
// The kit's inpout32.dll with its virtual parallel port; empty when this build has none.
std::string PortLibraryDll();
// The folder under which the tests' own folders are made.
std::string RunRoot();

}  // namespace e2e::kit
