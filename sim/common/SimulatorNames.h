// SimulatorNames: every name the simulator kit derives from one pipe name, so that q417-sim.exe,
// its vrexusbdrv.dll and test drivers in other processes agree on them.
//
// - The module's pipe: "\\.\pipe\<name>". A name given as a full pipe path is taken as it is.
// - The control pipe: the module's pipe path followed by "-control". It takes one text command
//   per message ("plug", "pull", "deaf", "hear", "quit") and answers each with one message,
//   "ok" or "error: <reason>"; CallNamedPipeA is the simplest client.
// - "Plugged" object: a named event that exists exactly while the virtual module is plugged in;
//   the simulator's locator reports the module only while it can open it.
// - "Running" object: a named mutex that a simulator holds for its whole life, so that a second
//   simulator on the same pipe name refuses to start.
// Object names cannot contain backslashes, so the pipe path appears there with '/' instead.
//
// The pipe name comes from the simulator's command line, else from the environment variable
// Q417_SIM_PIPE, else it is "q417-sim". The locator, loaded into the unchanged program, reads the
// same variable.
#pragma once

#include <cstddef>
#include <string>

namespace sim {

constexpr const char* kDefaultPipeName = "q417-sim";
constexpr const char* kPipeNameVariable = "Q417_SIM_PIPE";

// "\\.\pipe\<name>" for a bare name; a name that already starts with "\\" unchanged. An empty
// name gives the default pipe.
std::string ModulePipePath(const std::string& name);
std::string ControlPipePath(const std::string& modulePipePath);
std::string PluggedObjectName(const std::string& modulePipePath);
std::string RunningObjectName(const std::string& modulePipePath);

// Longest module pipe path the kit uses: the derived object names (prefix + path) must stay
// within the system's MAX_PATH, and the control pipe's within the 256 of a pipe name.
constexpr size_t kMaxPipePathLength = 240;

// Why a pipe name (as given to ModulePipePath) cannot serve the module, or empty when it can: a
// full path must name a pipe on this machine ("\\.\pipe\" and a name; the simulator can create
// no other), and the whole path may have at most kMaxPipePathLength characters.
std::string PipeNameProblem(const std::string& name);

}  // namespace sim
