// q417-sim.exe: the virtual USB motor controller module, served over a named pipe.
//
// Exit codes: 0 after "quit"; 1 when it cannot start (pipe name in use, trace file not
// writable, Q417_SIM_PIPE not a usable pipe name), with one line on stderr that names the pipe
// or the file; 2 for a wrong command line (a --pipe that is no usable pipe name included).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "ModuleServer.h"
#include "sim/common/SimulatorNames.h"
#include "sim/common/SimulatorOptions.h"

namespace {

std::string DefaultTracePath() {
    char exe[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string path(exe, length);
    const size_t slash = path.find_last_of("\\/");
    path = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    return path + "q417-sim-trace.csv";
}

int Fail(const std::string& reason) {
    std::fprintf(stderr, "q417-sim: cannot start: %s\n", reason.c_str());
    std::fflush(stderr);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const sim::SimulatorOptions options =
        sim::ParseSimulatorOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!options.error.empty() || options.help) {
        if (!options.error.empty()) std::fprintf(stderr, "q417-sim: %s\n", options.error.c_str());
        std::fputs(sim::SimulatorOptions::Usage(), options.help ? stdout : stderr);
        return options.help ? 0 : 2;
    }

    std::string name = options.pipeName;
    if (name.empty()) {
        const char* fromEnvironment = std::getenv(sim::kPipeNameVariable);
        if (fromEnvironment != nullptr) name = fromEnvironment;
    }
    const std::string nameProblem = sim::PipeNameProblem(name);
    if (!nameProblem.empty()) {
        if (!options.pipeName.empty()) {
            std::fprintf(stderr, "q417-sim: --pipe %s: %s\n", name.c_str(), nameProblem.c_str());
            std::fputs(sim::SimulatorOptions::Usage(), stderr);
            return 2;
        }
        return Fail(std::string(sim::kPipeNameVariable) + "=" + name + ": " + nameProblem);
    }
    const std::string pipePath = sim::ModulePipePath(name);
    const std::string tracePath =
        options.tracePath.empty() ? DefaultTracePath() : options.tracePath;

    sim::ModuleServer server(pipePath, {options.unaskedStatus, options.linkPeriodUs});
    std::string error;
    // The name first: a second simulator must not empty the trace file of the first.
    if (!server.Claim(error)) return Fail(error);
    std::ofstream trace(tracePath, std::ios::out | std::ios::trunc);
    if (!trace) return Fail("the trace file " + tracePath + " is not writable");
    if (!server.Start(trace, tracePath, options.unplugged, error)) return Fail(error);

    std::printf("q417-sim: module pipe %s, control pipe %s\nq417-sim: trace %s\n", pipePath.c_str(),
                sim::ControlPipePath(pipePath).c_str(), tracePath.c_str());
    if (options.unplugged) std::printf("q417-sim: pulled out\n");
    std::fflush(stdout);
    return server.Run();
}
