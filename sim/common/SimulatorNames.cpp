#include "sim/common/SimulatorNames.h"

#include <algorithm>

namespace sim {

namespace {

std::string ObjectName(const char* prefix, const std::string& modulePipePath) {
    std::string name = prefix + modulePipePath;
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

}  // namespace

std::string ModulePipePath(const std::string& name) {
    if (name.empty()) return ModulePipePath(kDefaultPipeName);
    if (name.rfind("\\\\", 0) == 0) return name;
    return "\\\\.\\pipe\\" + name;
}

std::string ControlPipePath(const std::string& modulePipePath) {
    return modulePipePath + "-control";
}

std::string PluggedObjectName(const std::string& modulePipePath) {
    return ObjectName("q417-sim-plugged:", modulePipePath);
}

std::string RunningObjectName(const std::string& modulePipePath) {
    return ObjectName("q417-sim-running:", modulePipePath);
}

std::string PipeNameProblem(const std::string& name) {
    static const std::string kLocalPrefix = "\\\\.\\pipe\\";
    const std::string path = ModulePipePath(name);
    std::string prefix = path.substr(0, kLocalPrefix.size());
    for (char& c : prefix)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (prefix != kLocalPrefix) {
        return "a pipe path must begin with " + kLocalPrefix;
    }
    const std::string bare = path.substr(kLocalPrefix.size());
    if (bare.empty()) return "the pipe path has no name after " + kLocalPrefix;
    if (path.size() > kMaxPipePathLength) {
        return "the pipe path is longer than " + std::to_string(kMaxPipePathLength) + " characters";
    }
    return {};
}

}  // namespace sim
